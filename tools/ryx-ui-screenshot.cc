// SPDX-License-Identifier: MIT
// Renders the status window (or the legal notices window) in one of the
// states a user meets to a PNG file, for scripts/screenshots and the demo.
// Runs on a real display or Xvfb; the installation is the one RYX_ROOT
// names (images and legal notices).
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "apps/ryx-config-connected-app.h"
#include "common/ryx_gcommon.h"
#include "integration/ryx-config-viewer.h"
#include "state/commands.h"
#include "state/error_reporter.h"
#include "ui/ryx-command-status-dialog.h"
#include "ui/ryx-console-legal-notices-dialog.h"

namespace {

void usage(FILE *out) {
  fprintf(out,
          "usage: ryx-ui-screenshot STATE OUTPUT.png\n"
          "Renders the status window in STATE to OUTPUT.png.  STATE is one of:\n"
          "  switched-on    RYX on, two applications (one rendering elsewhere), three\n"
          "                 viewers of which one lacks Kestrane support\n"
          "  code-3         RYX not enabled (the OpenGL wrapper is missing)\n"
          "  code-4         RYX not functioning correctly\n"
          "  code-100       the rendering server cannot be reached\n"
          "  legal-notices  the legal notices window opened from the status window\n"
          "The install root (images, legal-notices) comes from RYX_ROOT.\n");
}

void settle() {
  for (int i = 0; i < 20; i++) {
    while (gtk_events_pending()) gtk_main_iteration();
    g_usleep(10 * 1000);
  }
}

bool render(GtkWidget *window, const char *path) {
  settle();
  int width = gtk_widget_get_allocated_width(window);
  int height = gtk_widget_get_allocated_height(window);
  cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t *cr = cairo_create(surface);
  gtk_widget_draw(window, cr);
  cairo_destroy(cr);
  cairo_status_t status = cairo_surface_write_to_png(surface, path);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    fprintf(stderr, "ryx-ui-screenshot: cannot write %s: %s\n", path, cairo_status_to_string(status));
    return false;
  }
  printf("%s: %dx%d\n", path, width, height);
  return true;
}

// An application as the console port hands it over: its update already
// received, on a connection whose other end `peers` keeps open.
RyxConfigConnectedApp *announcedApp(const char *name, const char *server, GList **peers) {
  g_autoptr(GSocketListener) listener = g_socket_listener_new();
  g_autoptr(GInetAddress) loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
  g_autoptr(GSocketAddress) any = g_inet_socket_address_new(loopback, 0);
  g_autoptr(GSocketAddress) bound = nullptr;
  if (!g_socket_listener_add_address(listener, any, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, nullptr, &bound,
                                     nullptr))
    return nullptr;
  g_autoptr(GSocketClient) client = g_socket_client_new();
  GSocketConnection *peer = g_socket_client_connect(client, G_SOCKET_CONNECTABLE(bound), nullptr, nullptr);
  if (peer == nullptr) return nullptr;
  *peers = g_list_prepend(*peers, peer);
  g_autoptr(GSocketConnection) connection = g_socket_listener_accept(listener, nullptr, nullptr, nullptr);
  if (connection == nullptr) return nullptr;
  std::string update = std::string("<Update>\n<AppName>") + name + "</AppName>\n<RenderingServer>" + server +
                       "</RenderingServer>\n</Update>\n";
  g_autoptr(GBytes) received = g_bytes_new(update.data(), update.size());
  return ryx_config_connected_app_new_with_received(connection, received);
}

void publish(bool on, int code, const char *message = nullptr) {
  ryx::ErrorReporter &reporter = ryx::ErrorReporter::instance();
  reporter.ryxOn = on;
  reporter.code = code;
  reporter.setMessage(message);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    usage(stdout);
    return 0;
  }
  const std::string state = argc == 3 ? argv[1] : "";
  if (state != "switched-on" && state != "code-3" && state != "code-4" && state != "code-100" &&
      state != "legal-notices") {
    usage(stderr);
    return 2;
  }
  if (!gtk_init_check(&argc, &argv)) {
    fprintf(stderr, "ryx-ui-screenshot: no display (run it under xvfb-run)\n");
    return 1;
  }

  // A local session with an external rendering server and GRID in use.
  setenv("RYX_REMOTE_SESSION", "0", 1);
  setenv("RYX_RENDERING_SERVER", "render01.example", 1);
  setenv("RYX_USE_NVIDIA_GRID", "true", 1);
  ryx_conf_settings_reload();

  if (state == "code-3")
    publish(false, ryx::STATUS_NOT_ENABLED, ryx::kNotEnabledMessage);
  else if (state == "code-4")
    publish(true, ryx::STATUS_NOT_FUNCTIONING,
            "The 32-bit RYX OpenGL wrapper is missing: 32-bit applications render without RYX.");
  else if (state == "code-100")
    publish(true, ryx::STATUS_RENDERING_SERVER_ERROR, "Cannot communicate with the Rendering Server");
  else
    publish(true, ryx::STATUS_OK);

  ryx::Commands commands;
  GtkWidget *dialog = ryx_command_status_dialog_new(&commands, FALSE);
  RyxCommandStatusDialog *status = RYX_COMMAND_STATUS_DIALOG(dialog);

  // Two applications: one on the configured rendering server, one elsewhere.
  GList *peers = nullptr;
  GList *apps = nullptr;
  apps = g_list_prepend(apps,
                        announcedApp("C:\\Program Files\\Volume Viewer\\bin\\volview.exe", "render01.example", &peers));
  apps = g_list_prepend(apps, announcedApp("/opt/cad/bin/glyph-cad", "gpu-node-7.example", &peers));
  GList *viewers = nullptr;
  viewers = g_list_prepend(viewers, ryx_config_viewer_new(1, TRUE, FALSE, "alice@workstation"));
  viewers = g_list_prepend(viewers, ryx_config_viewer_new(2, FALSE, FALSE, "bob@laptop"));
  viewers = g_list_prepend(viewers, ryx_config_viewer_new(3, TRUE, FALSE, "carol@home"));

  ryx_command_status_dialog_refresh_apps(status, apps);
  ryx_command_status_dialog_refresh_viewers(status, viewers);
  ryx_command_status_dialog_refresh_status(status);
  gtk_widget_show(dialog);

  bool ok;
  if (state == "legal-notices") {
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_HELP);
    GtkWidget *notices = nullptr;
    g_autoptr(GList) windows = gtk_window_list_toplevels();
    for (GList *l = windows; l != nullptr; l = l->next)
      if (RYX_IS_CONSOLE_LEGAL_NOTICES_DIALOG(l->data)) notices = GTK_WIDGET(l->data);
    ok = notices != nullptr && render(notices, argv[2]);
  } else {
    ok = render(dialog, argv[2]);
  }

  gtk_widget_destroy(dialog);
  g_list_free_full(viewers, (GDestroyNotify)ryx_config_viewer_free);
  g_list_free_full(apps, g_object_unref);
  g_list_free_full(peers, g_object_unref);
  return ok ? 0 : 1;
}
