// SPDX-License-Identifier: MIT
// The status UI on real widgets: a settings sandbox with the built images, the published status reset per case.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "apps/ryx-config-connected-app.h"
#include "common/ryx_gcommon.h"
#include "glib_support.h"
#include "installation.h"
#include "state/error_reporter.h"

namespace ryx::test {

// Below root, internal children included: the widgets named `name` (null: every widget of `type`).
inline void findWidgets(GtkWidget *root, const char *name, GType type, std::vector<GtkWidget *> *found) {
  if (name != nullptr ? g_strcmp0(gtk_widget_get_name(root), name) == 0 : G_TYPE_CHECK_INSTANCE_TYPE(root, type))
    found->push_back(root);
  if (!GTK_IS_CONTAINER(root)) return;
  g_autoptr(GList) children = nullptr;
  gtk_container_forall(
      GTK_CONTAINER(root),
      [](GtkWidget *child, gpointer list) { *(GList **)list = g_list_append(*(GList **)list, child); }, &children);
  for (GList *l = children; l != nullptr; l = l->next) findWidgets(GTK_WIDGET(l->data), name, type, found);
}
inline std::vector<GtkWidget *> findWidgets(GtkWidget *root, GType type) {
  std::vector<GtkWidget *> found;
  findWidgets(root, nullptr, type, &found);
  return found;
}
inline GtkWidget *findWidget(GtkWidget *root, const char *name) {
  std::vector<GtkWidget *> found;
  findWidgets(root, name, G_TYPE_INVALID, &found);
  return found.empty() ? nullptr : found.front();
}
inline std::vector<GtkWidget *> toplevels(GType type) {
  std::vector<GtkWidget *> result;
  g_autoptr(GList) windows = gtk_window_list_toplevels();
  for (GList *l = windows; l != nullptr; l = l->next)
    if (G_TYPE_CHECK_INSTANCE_TYPE(l->data, type)) result.push_back(GTK_WIDGET(l->data));
  return result;
}
inline bool shownOnScreen(GtkWidget *widget) {
  for (GtkWidget *w = widget; w != nullptr; w = gtk_widget_get_parent(w))
    if (!gtk_widget_get_visible(w)) return false;
  return true;
}
inline std::string labelText(GtkWidget *label) { return gtk_label_get_text(GTK_LABEL(label)); }

class UiFixture : public ::testing::Test {
 protected:
  UiFixture() {
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
  ~UiFixture() override {
    // Open windows go before the installation, held as a status window takes its notices along.
    GList *windows = gtk_window_list_toplevels();
    g_list_foreach(windows, (GFunc)(void (*)(void))g_object_ref, nullptr);
    for (GList *l = windows; l != nullptr; l = l->next)
      if (GTK_IS_DIALOG(l->data)) gtk_widget_destroy(GTK_WIDGET(l->data));
    g_list_free_full(windows, g_object_unref);
    spinFor(10);
    g_list_free_full(apps_, g_object_unref);
  }

  // null unsets; the settings are reloaded.
  void setEnv(const char *name, const char *value) {
    sandbox_.set(name, value);
    ryx_conf_settings_reload();
  }
  void publish(bool ryxOn, int code, const char *message = nullptr) {
    ErrorReporter::instance().ryxOn = ryxOn;
    ErrorReporter::instance().code = code;
    ErrorReporter::instance().setMessage(message);
  }
  // An application connected over loopback, its update naming `name` and `server` (null: left out).
  RyxConfigConnectedApp *connectApp(const char *name, const char *server) {
    pairs_.push_back(std::make_unique<LoopbackPair>());
    std::string update = "<Update>\n";
    if (name != nullptr) update += std::string("<AppName>") + name + "</AppName>\n";
    if (server != nullptr) update += std::string("<RenderingServer>") + server + "</RenderingServer>\n";
    pairs_.back()->send(update + "</Update>\n");
    apps_ = g_list_prepend(apps_, ryx_config_connected_app_new(pairs_.back()->server));
    return RYX_CONFIG_CONNECTED_APP(apps_->data);
  }

  std::string noticesDir() const { return sandbox_.root() + "legal-notices"; }
  std::string imagePath(const char *name) const { return sandbox_.root() + "share/ryx/images/" + name; }

  GList *apps_ = nullptr;  // newest first, as the config manager keeps them

 private:
  Installation sandbox_;
  std::vector<std::unique_ptr<LoopbackPair>> pairs_;
};

}  // namespace ryx::test
