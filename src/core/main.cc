// SPDX-License-Identifier: MIT
// ryxconfig: the RYX Configuration Utility of a desktop session.
//   ryxconfig          bring up the user interface (of the running instance)
//   ryxconfig -nowin   notification area only
//   ryxconfig -quit    tell the running instance to end (also -q)
#include <gtk/gtk.h>

#include <cstring>

#include "common/ryx_gcommon.h"
#include "core/ryx-config-manager.h"
#include "platform/gl_window.h"
#include "platform/system.h"
#include "state/commands.h"

namespace {

// Enough descriptors for a thousand connected applications and then some.
constexpr unsigned kWantedOpenFiles = 4096;

guint32 client_command_from(int argc, char **argv) {
  if (argc < 2) return RYX_CONFIG_CLIENT_COMMAND_SHOW_GUI;
  // Only the first argument counts, matched exactly.
  if (strcmp(argv[1], "-quit") == 0 || strcmp(argv[1], "-q") == 0) return RYX_CONFIG_CLIENT_COMMAND_QUIT;
  if (strcmp(argv[1], "-nowin") == 0) return RYX_CONFIG_CLIENT_COMMAND_NO_WINDOW;
  return RYX_CONFIG_CLIENT_COMMAND_SHOW_GUI;
}

void print_no_display() {
  const char *display = g_getenv("DISPLAY");
  if (display != nullptr && *display != '\0')
    g_printerr("ryxconfig: cannot open the X11 display \"%s\"; the utility needs an X11 display\n", display);
  else if (g_getenv("WAYLAND_DISPLAY") != nullptr)
    g_printerr(
        "ryxconfig: the utility needs an X11 display and DISPLAY is not set; on a Wayland desktop, "
        "Xwayland gives one through DISPLAY\n");
  else
    g_printerr("ryxconfig: the utility needs an X11 display and DISPLAY is not set\n");
}

}  // namespace

int main(int argc, char **argv) {
  ryx_log_setup("ryxconfig", 0);
  ryx_log_use_default_writer();

  unsigned before = 0, after = 0;
  if (ryx::platform::raiseOpenFileLimit(kWantedOpenFiles, &before, &after))
    ryx_log("RYX", G_LOG_LEVEL_DEBUG, "WinMain", __LINE__, "Raised the open file limit from %u to %u", before, after);

  gtk_disable_setlocale();
  // The notification-area icon and the trigger window need the back-end
  // the platform's OpenGL window is written for.
  gdk_set_allowed_backends(ryx::platform::glWindowGdkBackend());
  // GTK takes its own options out of these copies.
  int gtk_argc = argc;
  char **gtk_argv = argv;
  gboolean have_display = gtk_init_check(&gtk_argc, &gtk_argv);
  guint32 client_command = client_command_from(gtk_argc, gtk_argv);

  // One commands object for the whole run; it lives until the process ends.
  static ryx::Commands commands;
  RyxConfigManager *manager = ryx_config_manager_new(&commands, client_command);
  if (!have_display) {
    // Handing a command to the running instance needs no display (ssh, a
    // Wayland-only shell); only becoming the instance does.
    if (!ryx_config_manager_hand_over(manager)) print_no_display();
    g_object_unref(manager);
    return 0;
  }
  ryx_log("RYX", G_LOG_LEVEL_DEBUG, "WinMain", __LINE__, "Starting config manager");
  ryx_config_manager_run(manager);
  ryx_log("RYX", G_LOG_LEVEL_DEBUG, "WinMain", __LINE__, "Closing...");
  g_object_unref(manager);
  return 0;
}
