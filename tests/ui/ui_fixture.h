// SPDX-License-Identifier: MIT
// The status UI on real widgets: a settings sandbox with the built images, the published status reset per case.
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

// Below root, internal children included: the first widget named `name` (or null); every widget of `type`.
GtkWidget *findWidget(GtkWidget *root, const char *name);
std::vector<GtkWidget *> findWidgets(GtkWidget *root, GType type);
std::vector<GtkWidget *> toplevels(GType type);
bool shownOnScreen(GtkWidget *widget);
inline std::string labelText(GtkWidget *label) { return gtk_label_get_text(GTK_LABEL(label)); }

class UiFixture : public ::testing::Test {
 protected:
  UiFixture();
  ~UiFixture() override;

  // null unsets; the settings are reloaded.
  void setEnv(const char *name, const char *value);
  void publish(bool ryxOn, int code, const char *message = nullptr);
  // An application connected over loopback, its update naming `name` and `server` (null: left out).
  RyxConfigConnectedApp *connectApp(const char *name, const char *server);

  std::string noticesDir() const { return sandbox_.root() + "legal-notices"; }
  std::string imagePath(const char *name) const { return sandbox_.root() + "share/ryx/images/" + name; }

  GList *apps_ = nullptr;  // newest first, as the config manager keeps them

 private:
  Installation sandbox_;
  std::vector<std::unique_ptr<LoopbackPair>> pairs_;
};

}  // namespace ryx::test
