// SPDX-License-Identifier: MIT
// The status user interface's tests run on the real widgets, in-process,
// under Xvfb: the settings sandbox with the built images in its install
// root and empty library folders, the published status reset for each
// case, and helpers that walk the widget tree.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

#include "apps/ryx-config-connected-app.h"
#include "glib_support.h"
#include "installation.h"

namespace ryx::test {

// The widget called `name` (gtk_widget_set_name) below root, internal
// children included; null when there is none.
GtkWidget *findWidget(GtkWidget *root, const char *name);
// Every widget of `type` below root, in tree order.
std::vector<GtkWidget *> findWidgets(GtkWidget *root, GType type);
// The toplevel windows of `type` that exist now.
std::vector<GtkWidget *> toplevels(GType type);
// The status windows shown now.
std::vector<GtkWidget *> shownStatusWindows();
// The widget and every container up to its toplevel are set visible.
bool shownOnScreen(GtkWidget *widget);
std::string labelText(GtkWidget *label);  // the text as displayed

class UiFixture : public ::testing::Test {
 protected:
  UiFixture();
  ~UiFixture() override;

  // Sets an environment variable for the case and reloads the settings.
  void setEnv(const char *name, const char *value);
  // The published status, as the periodic check or the rendering server
  // check would leave it.
  void publish(bool ryxOn, int code, const char *message = nullptr);
  // A connected application made over a loopback connection from an
  // update naming `name` and `server` (null: element left out).
  RyxConfigConnectedApp *connectApp(const char *name, const char *server);

  std::string noticesDir() const { return sandbox_.root() + "legal-notices"; }
  std::string imagePath(const char *name) const { return sandbox_.root() + "share/ryx/images/" + name; }

  GList *apps_ = nullptr;  // newest first, like the config manager's list

 private:
  Installation sandbox_;
  std::vector<std::unique_ptr<LoopbackPair>> pairs_;
};

}  // namespace ryx::test
