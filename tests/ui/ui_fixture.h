// SPDX-License-Identifier: MIT
// The status UI's tests on real widgets under Xvfb: a settings sandbox with the
// built images, the published status reset per case, and widget-tree helpers.
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

// The first widget called `name` (gtk_widget_set_name) below root, internal
// children included, or null; every widget of `type` below root.
GtkWidget *findWidget(GtkWidget *root, const char *name);
std::vector<GtkWidget *> findWidgets(GtkWidget *root, GType type);
std::vector<GtkWidget *> toplevels(GType type);
// The widget and every container up to its toplevel are set visible.
bool shownOnScreen(GtkWidget *widget);
inline std::string labelText(GtkWidget *label) { return gtk_label_get_text(GTK_LABEL(label)); }

class UiFixture : public ::testing::Test {
 protected:
  UiFixture();
  ~UiFixture() override;

  // Sets (null: unsets) an environment variable for the case and reloads the settings.
  void setEnv(const char *name, const char *value);
  // The published status, as the periodic or rendering server check leaves it.
  void publish(bool ryxOn, int code, const char *message = nullptr);
  // An application connected over loopback, its update naming `name` and
  // `server` (null: element left out); kept in apps_.
  RyxConfigConnectedApp *connectApp(const char *name, const char *server);

  std::string noticesDir() const { return sandbox_.root() + "legal-notices"; }
  std::string imagePath(const char *name) const { return sandbox_.root() + "share/ryx/images/" + name; }

  GList *apps_ = nullptr;  // newest first, as the config manager keeps them

 private:
  Installation sandbox_;
  std::vector<std::unique_ptr<LoopbackPair>> pairs_;
};

}  // namespace ryx::test
