// SPDX-License-Identifier: MIT
#include "ui_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "common/ryx_gcommon.h"
#include "state/error_reporter.h"

namespace ryx::test {

namespace {

std::vector<GtkWidget *> walk(GtkWidget *root, const std::function<bool(GtkWidget *)> &matches) {
  std::vector<GtkWidget *> found;
  std::function<void(GtkWidget *)> visit = [&](GtkWidget *widget) {
    if (matches(widget)) found.push_back(widget);
    if (GTK_IS_CONTAINER(widget))
      gtk_container_forall(
          GTK_CONTAINER(widget),
          [](GtkWidget *child, gpointer data) { (*static_cast<decltype(visit) *>(data))(child); }, &visit);
  };
  visit(root);
  return found;
}

}  // namespace

GtkWidget *findWidget(GtkWidget *root, const char *name) {
  std::vector<GtkWidget *> found =
      walk(root, [&](GtkWidget *w) { return g_strcmp0(gtk_widget_get_name(w), name) == 0; });
  return found.empty() ? nullptr : found.front();
}

std::vector<GtkWidget *> findWidgets(GtkWidget *root, GType type) {
  return walk(root, [&](GtkWidget *w) { return G_TYPE_CHECK_INSTANCE_TYPE(w, type); });
}

std::vector<GtkWidget *> toplevels(GType type) {
  std::vector<GtkWidget *> result;
  g_autoptr(GList) windows = gtk_window_list_toplevels();
  for (GList *l = windows; l != nullptr; l = l->next)
    if (G_TYPE_CHECK_INSTANCE_TYPE(l->data, type)) result.push_back(GTK_WIDGET(l->data));
  return result;
}

bool shownOnScreen(GtkWidget *widget) {
  for (GtkWidget *w = widget; w != nullptr; w = gtk_widget_get_parent(w))
    if (!gtk_widget_get_visible(w)) return false;
  return true;
}

UiFixture::UiFixture() {
  static bool gtkReady = gtk_init_check(nullptr, nullptr);
  const char *images = getenv("RYX_TEST_IMAGES_DIR");
  if (!gtkReady || images == nullptr) {
    ADD_FAILURE() << "no display or no RYX_TEST_IMAGES_DIR: run the gui suite through meson, under xvfb-run";
    return;
  }
  std::filesystem::create_directories(imagePath(""));
  for (const char *image : {"ryx_status_icon.png", "ryx_status_icon_error.png", "icon.png", "ryx_logo_console.png"})
    writeFile(imagePath(image), readFile(std::string(images) + "/" + image));
  // No OpenGL wrapper nor GRID library is found in the empty library folders.
  setEnv("RYX_REMOTE_SESSION", "0");
  setEnv("RYX_USE_NVIDIA_GRID", "false");
  publish(false, 0, nullptr);
}

UiFixture::~UiFixture() {
  // Open windows go before the installation, held as a status window takes its notices along.
  GList *windows = gtk_window_list_toplevels();
  g_list_foreach(windows, (GFunc)(void (*)(void))g_object_ref, nullptr);
  for (GList *l = windows; l != nullptr; l = l->next)
    if (GTK_IS_DIALOG(l->data)) gtk_widget_destroy(GTK_WIDGET(l->data));
  g_list_free_full(windows, g_object_unref);
  spinFor(10);
  g_list_free_full(apps_, g_object_unref);
  publish(false, 0, nullptr);
}

void UiFixture::setEnv(const char *name, const char *value) {
  sandbox_.set(name, value);
  ryx_conf_settings_reload();
}

void UiFixture::publish(bool ryxOn, int code, const char *message) {
  ErrorReporter &reporter = ErrorReporter::instance();
  reporter.ryxOn = ryxOn;
  reporter.code = code;
  reporter.setMessage(message);
}

RyxConfigConnectedApp *UiFixture::connectApp(const char *name, const char *server) {
  auto pair = std::make_unique<LoopbackPair>();
  std::string update = "<Update>\n";
  if (name != nullptr) update += std::string("<AppName>") + name + "</AppName>\n";
  if (server != nullptr) update += std::string("<RenderingServer>") + server + "</RenderingServer>\n";
  pair->send(update + "</Update>\n");
  RyxConfigConnectedApp *app = ryx_config_connected_app_new(pair->server);
  pairs_.push_back(std::move(pair));
  apps_ = g_list_prepend(apps_, app);
  return app;
}

}  // namespace ryx::test
