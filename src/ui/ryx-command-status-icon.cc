// SPDX-License-Identifier: MIT
// GtkStatusIcon is deprecated in GTK 3 but is still how an X11 program
// reaches the notification area; its warnings are silenced in this file
// only.
#define GDK_DISABLE_DEPRECATION_WARNINGS
#include "ui/ryx-command-status-icon.h"

#include "common/ryx_gcommon.h"
#include "common/ryx_strfunc.h"
#include "state/error_reporter.h"
#include "ui/ryx-command-status-dialog.h"
#include "ui/ryx-ui-private.h"

struct _RyxCommandStatusIcon {
  GtkStatusIcon parent_instance;

  ryx::Commands *commands;  // borrowed
  gboolean desktop_capture;
  GList *apps;        // borrowed from the config manager
  GtkWidget *dialog;  // the open status window, cleared on its "destroy"
  guint32 last_code;  // the code last applied to the image
};

G_DEFINE_FINAL_TYPE (RyxCommandStatusIcon, ryx_command_status_icon, GTK_TYPE_STATUS_ICON)

static void show_dialog (RyxCommandStatusIcon *self) {
  if (self->dialog == nullptr) {
    self->dialog = ryx_command_status_dialog_new (self->commands, self->desktop_capture);
    ryx_command_status_dialog_refresh_apps (RYX_COMMAND_STATUS_DIALOG (self->dialog), self->apps);
    g_signal_connect (self->dialog, "destroy", G_CALLBACK (gtk_widget_destroyed), &self->dialog);
  }
  // The viewer count shows "0" until the next viewer refresh.
  gtk_window_present (GTK_WINDOW (self->dialog));
}

static void on_activate (GtkStatusIcon *icon, gpointer) { show_dialog (RYX_COMMAND_STATUS_ICON (icon)); }

static gboolean on_query_tooltip (GtkStatusIcon *, gint, gint, gboolean, GtkTooltip *tooltip, gpointer) {
  bool on = ryx::ErrorReporter::instance ().ryxOn;
  gtk_tooltip_set_text (tooltip, on ? "Vezo RYX Server Switched ON" : "Vezo RYX Server Switched OFF");
  return TRUE;
}

static void set_image (RyxCommandStatusIcon *self, const char *name) {
  g_autofree char *path = ryx_ui_image_path (name);
  gtk_status_icon_set_from_file (GTK_STATUS_ICON (self), path);
}

static void ryx_command_status_icon_dispose (GObject *object) {
  RyxCommandStatusIcon *self = RYX_COMMAND_STATUS_ICON (object);
  // The window outlives the icon (it is a toplevel of its own); only the
  // pointer that its "destroy" would clear goes.
  if (self->dialog != nullptr) {
    g_signal_handlers_disconnect_by_data (self->dialog, &self->dialog);
    self->dialog = nullptr;
  }
  G_OBJECT_CLASS (ryx_command_status_icon_parent_class)->dispose (object);
}

static void ryx_command_status_icon_class_init (RyxCommandStatusIconClass *klass) {
  G_OBJECT_CLASS (klass)->dispose = ryx_command_status_icon_dispose;
}

static void ryx_command_status_icon_init (RyxCommandStatusIcon *self) {
  g_signal_connect (self, "activate", G_CALLBACK (on_activate), nullptr);
  g_signal_connect (self, "query-tooltip", G_CALLBACK (on_query_tooltip), nullptr);
}

GtkStatusIcon *ryx_command_status_icon_new (ryx::Commands *commands, gboolean desktop_capture) {
  g_autofree char *path = ryx_ui_image_path ("ryx_status_icon.png");
  RyxCommandStatusIcon *self =
      RYX_COMMAND_STATUS_ICON (g_object_new (RYX_TYPE_COMMAND_STATUS_ICON, "file", path, "has-tooltip", TRUE, nullptr));
  self->commands = commands;
  self->desktop_capture = desktop_capture;
  return GTK_STATUS_ICON (self);
}

void ryx_command_status_icon_refresh_apps (RyxCommandStatusIcon *status, GList *apps) {
  g_return_if_fail (RYX_IS_COMMAND_STATUS_ICON(status));
  if (status->dialog != nullptr) ryx_command_status_dialog_refresh_apps (RYX_COMMAND_STATUS_DIALOG (status->dialog), apps);
  status->apps = apps;
}

void ryx_command_status_icon_refresh_status (RyxCommandStatusIcon *status) {
  g_return_if_fail (RYX_IS_COMMAND_STATUS_ICON(status));
  if (status->dialog != nullptr) ryx_command_status_dialog_refresh_status (RYX_COMMAND_STATUS_DIALOG (status->dialog));

  guint32 code = (guint32)ryx::ErrorReporter::instance ().code;
  // The icon follows changes of the code only: a code that stays opens the
  // window once, and a user who closed it is left alone until it changes.
  if (code == status->last_code) return;
  status->last_code = code;
  if (code == ryx::STATUS_OK) {
    set_image (status, "ryx_status_icon.png");
    return;
  }
  if (code == ryx::STATUS_GRID_LIBRARY_MISSING && !ryx_conf_settings_get_use_nvidia_grid ()) {
    // Without GRID in use the missing library is no error.
    set_image (status, "ryx_status_icon.png");
    return;
  }
  set_image (status, "ryx_status_icon_error.png");
  show_dialog (status);
}

void ryx_command_status_icon_refresh_viewers (RyxCommandStatusIcon *status, GList *viewers) {
  g_return_if_fail (RYX_IS_COMMAND_STATUS_ICON(status));
  if (status->dialog != nullptr)
    ryx_command_status_dialog_refresh_viewers (RYX_COMMAND_STATUS_DIALOG (status->dialog), viewers);
}
