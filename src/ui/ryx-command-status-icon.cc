// SPDX-License-Identifier: MIT
// GtkStatusIcon is deprecated in GTK 3 but is still how an X11 program
// reaches an XEmbed notification area; its warnings are silenced in this
// file only.  Where a StatusNotifierWatcher runs on the session bus, the
// icon is shown as a StatusNotifierItem instead: the logic below stays the
// same and only the image, tooltip and "embedded" go to the item.
#define GDK_DISABLE_DEPRECATION_WARNINGS
#include "ui/ryx-command-status-icon.h"

#include "common/ryx_gcommon.h"
#include "common/ryx_strfunc.h"
#include "platform/session.h"
#include "state/error_reporter.h"
#include "state/status.h"
#include "ui/ryx-command-status-dialog.h"
#include "ui/ryx-status-notifier-item.h"
#include "ui/ryx-ui-private.h"

namespace {

// Which notification area shows the icon.
enum class Tray { Choosing, XEmbed, Sni };

// RYX_TRAY=sni|xembed forces one; otherwise (Choosing) the session decides.
// Where no notification area is on the session bus, the toolkit's tray
// icon (the XEmbed path here) is the only one, and the bus is never asked.
Tray forced_tray() {
  if (!ryx::platform::notificationAreaMayBeOnSessionBus()) return Tray::XEmbed;
  const char *value = g_getenv("RYX_TRAY");
  if (value == nullptr || *value == '\0') return Tray::Choosing;
  if (g_ascii_strcasecmp(value, "sni") == 0) return Tray::Sni;
  if (g_ascii_strcasecmp(value, "xembed") == 0) return Tray::XEmbed;
  RYX_LOG(G_LOG_LEVEL_WARNING, "RYX_TRAY=%s is neither sni nor xembed; the session decides", value);
  return Tray::Choosing;
}

// How long the icon stays hidden waiting for the bus to say whether a
// watcher is there before it goes to the XEmbed tray.
constexpr guint kChoiceDeadlineSeconds = 2;

}  // namespace

struct _RyxCommandStatusIcon {
  GtkStatusIcon parent_instance;

  ryx::Commands *commands;  // borrowed
  gboolean desktop_capture;
  GList *apps;                // borrowed from the config manager
  GtkWidget *dialog;          // the open status window, cleared on its "destroy"
  gboolean dialog_elsewhere;  // the window is shown by the manager: open none
  guint32 last_code;          // the code last applied to the image

  RyxStatusNotifierItem *item;  // owned; null when XEmbed is forced or there is no session bus
  Tray forced;                  // Choosing when RYX_TRAY does not force a tray
  Tray tray;                    // where the icon shows now; Choosing until the bus answered
  guint choice_id;              // the deadline while choosing
};

G_DEFINE_FINAL_TYPE(RyxCommandStatusIcon, ryx_command_status_icon, GTK_TYPE_STATUS_ICON)

static void show_dialog(RyxCommandStatusIcon *self) {
  if (self->dialog_elsewhere) return;
  if (self->dialog == nullptr) {
    self->dialog = ryx_command_status_dialog_new(self->commands, self->desktop_capture);
    ryx_command_status_dialog_refresh_apps(RYX_COMMAND_STATUS_DIALOG(self->dialog), self->apps);
    g_signal_connect(self->dialog, "destroy", G_CALLBACK(gtk_widget_destroyed), &self->dialog);
  }
  // The viewer count shows "0" until the next viewer refresh.
  gtk_window_present(GTK_WINDOW(self->dialog));
}

static void on_activate(GtkStatusIcon *icon, gpointer) { show_dialog(RYX_COMMAND_STATUS_ICON(icon)); }

static const char *tooltip_text() {
  return ryx::ErrorReporter::instance().ryxOn ? "Vezo RYX Server Switched ON" : "Vezo RYX Server Switched OFF";
}

static gboolean on_query_tooltip(GtkStatusIcon *, gint, gint, gboolean, GtkTooltip *tooltip, gpointer) {
  gtk_tooltip_set_text(tooltip, tooltip_text());
  return TRUE;
}

// Both back-ends always hold the current image, so the icon can move
// between them at any time.
static void set_image(RyxCommandStatusIcon *self, const char *name) {
  g_autofree char *path = ryx_ui_image_path(name);
  gtk_status_icon_set_from_file(GTK_STATUS_ICON(self), path);
  if (self->item != nullptr) ryx_status_notifier_item_set_icon_from_file(self->item, path);
}

static void show_in(RyxCommandStatusIcon *self, Tray tray) {
  g_clear_handle_id(&self->choice_id, g_source_remove);
  if (tray == self->tray) return;
  self->tray = tray;
  gtk_status_icon_set_visible(GTK_STATUS_ICON(self), tray == Tray::XEmbed);
  if (tray != Tray::Choosing)
    RYX_LOG(G_LOG_LEVEL_INFO, "Status icon shown through %s", tray == Tray::Sni ? "StatusNotifierItem" : "XEmbed");
}

// A watcher that comes takes the icon; when it goes, the icon returns to
// the XEmbed tray, unless RYX_TRAY keeps it with the watcher.
static void on_watcher_changed(RyxStatusNotifierItem *item, gpointer user_data) {
  RyxCommandStatusIcon *self = RYX_COMMAND_STATUS_ICON(user_data);
  if (self->forced != Tray::Choosing) return;
  show_in(self, ryx_status_notifier_item_get_watcher_present(item) ? Tray::Sni : Tray::XEmbed);
}

static gboolean on_choice_deadline(gpointer user_data) {
  RyxCommandStatusIcon *self = RYX_COMMAND_STATUS_ICON(user_data);
  self->choice_id = 0;
  RYX_LOG(G_LOG_LEVEL_INFO, "The session bus did not answer in time");
  show_in(self, Tray::XEmbed);
  return G_SOURCE_REMOVE;
}

// An activation through the item is the icon's own "activate", so every
// handler of it runs, whichever tray the user clicked in.
static void on_item_activate(RyxStatusNotifierItem *, gpointer user_data) {
  g_signal_emit_by_name(user_data, "activate");
}

static void choose_tray(RyxCommandStatusIcon *self, const char *image_path) {
  if (self->forced != Tray::XEmbed) self->item = ryx_status_notifier_item_new("ryxconfig", "Vezo RYX Server");
  if (self->item != nullptr) {
    ryx_status_notifier_item_set_icon_from_file(self->item, image_path);
    ryx_status_notifier_item_set_tooltip(self->item, tooltip_text());
    g_signal_connect(self->item, "watcher-changed", G_CALLBACK(on_watcher_changed), self);
    g_signal_connect(self->item, "activate", G_CALLBACK(on_item_activate), self);
  }
  if (self->forced != Tray::Choosing) {
    show_in(self, self->forced);
  } else if (self->item == nullptr) {
    show_in(self, Tray::XEmbed);
  } else {
    // Left in the XEmbed tray (as made) until the bus tells whether a
    // watcher is there.  Below the default priority: when a busy main loop finds the bus's
    // answer and the deadline due in one iteration, the answer goes first.
    self->choice_id =
        g_timeout_add_seconds_full(G_PRIORITY_LOW, kChoiceDeadlineSeconds, on_choice_deadline, self, nullptr);
  }
}

static void ryx_command_status_icon_dispose(GObject *object) {
  RyxCommandStatusIcon *self = RYX_COMMAND_STATUS_ICON(object);
  // The window outlives the icon (it is a toplevel of its own); only the
  // pointer that its "destroy" would clear goes.
  if (self->dialog != nullptr) {
    g_signal_handlers_disconnect_by_data(self->dialog, &self->dialog);
    self->dialog = nullptr;
  }
  g_clear_handle_id(&self->choice_id, g_source_remove);
  if (self->item != nullptr) {
    g_signal_handlers_disconnect_by_data(self->item, self);
    g_clear_object(&self->item);
  }
  G_OBJECT_CLASS(ryx_command_status_icon_parent_class)->dispose(object);
}

static void ryx_command_status_icon_class_init(RyxCommandStatusIconClass *klass) {
  G_OBJECT_CLASS(klass)->dispose = ryx_command_status_icon_dispose;
}

static void ryx_command_status_icon_init(RyxCommandStatusIcon *self) {
  g_signal_connect(self, "activate", G_CALLBACK(on_activate), nullptr);
  g_signal_connect(self, "query-tooltip", G_CALLBACK(on_query_tooltip), nullptr);
}

GtkStatusIcon *ryx_command_status_icon_new(ryx::Commands *commands, gboolean desktop_capture) {
  g_autofree char *path = ryx_ui_image_path("ryx_status_icon.png");
  // Made visible unless only the item may show it: GTK 3's tray icon that
  // starts hidden and is shown later, once the main loop runs, upsets GDK's
  // update freeze count as it docks (a Gdk-CRITICAL); one that docks at
  // once may be hidden and shown freely afterwards.
  Tray forced = forced_tray();
  RyxCommandStatusIcon *self = RYX_COMMAND_STATUS_ICON(g_object_new(
      RYX_TYPE_COMMAND_STATUS_ICON, "file", path, "has-tooltip", TRUE, "visible", forced != Tray::Sni, nullptr));
  self->forced = forced;
  self->commands = commands;
  self->desktop_capture = desktop_capture;
  choose_tray(self, path);
  return GTK_STATUS_ICON(self);
}

gboolean ryx_command_status_icon_is_embedded(RyxCommandStatusIcon *status) {
  g_return_val_if_fail(RYX_IS_COMMAND_STATUS_ICON(status), FALSE);
  switch (status->tray) {
    case Tray::Sni: return status->item != nullptr && ryx_status_notifier_item_is_registered(status->item);
    case Tray::XEmbed: return gtk_status_icon_is_embedded(GTK_STATUS_ICON(status));
    case Tray::Choosing: break;
  }
  return FALSE;
}

void ryx_command_status_icon_refresh_apps(RyxCommandStatusIcon *status, GList *apps) {
  g_return_if_fail(RYX_IS_COMMAND_STATUS_ICON(status));
  if (status->dialog != nullptr)
    ryx_command_status_dialog_refresh_apps(RYX_COMMAND_STATUS_DIALOG(status->dialog), apps);
  status->apps = apps;
}

void ryx_command_status_icon_refresh_status(RyxCommandStatusIcon *status) {
  g_return_if_fail(RYX_IS_COMMAND_STATUS_ICON(status));
  if (status->dialog != nullptr) ryx_command_status_dialog_refresh_status(RYX_COMMAND_STATUS_DIALOG(status->dialog));
  // A host shows the item's tooltip without asking us, so it follows every
  // refresh (the item tells hosts only of changes).
  if (status->item != nullptr) ryx_status_notifier_item_set_tooltip(status->item, tooltip_text());

  guint32 code = (guint32)ryx::ErrorReporter::instance().code;
  // The icon follows changes of the code only: a code that stays opens the
  // window once, and a user who closed it is left alone until it changes.
  if (code == status->last_code) return;
  status->last_code = code;
  if (!ryx::statusViewOf((int32_t)code, ryx_conf_settings_get_use_nvidia_grid() != 0).error) {
    set_image(status, "ryx_status_icon.png");
    return;
  }
  set_image(status, "ryx_status_icon_error.png");
  show_dialog(status);
}

GtkWidget *ryx_command_status_icon_release_dialog(RyxCommandStatusIcon *status) {
  g_return_val_if_fail(RYX_IS_COMMAND_STATUS_ICON(status), nullptr);
  status->dialog_elsewhere = TRUE;
  if (status->dialog == nullptr) return nullptr;
  g_signal_handlers_disconnect_by_data(status->dialog, &status->dialog);
  return static_cast<GtkWidget *>(g_steal_pointer(&status->dialog));
}

void ryx_command_status_icon_adopt_dialog(RyxCommandStatusIcon *status, GtkWidget *dialog) {
  g_return_if_fail(RYX_IS_COMMAND_STATUS_ICON(status));
  g_return_if_fail(dialog == nullptr || RYX_IS_COMMAND_STATUS_DIALOG(dialog));
  g_return_if_fail(status->dialog == nullptr);
  status->dialog_elsewhere = FALSE;
  if (dialog == nullptr) return;
  status->dialog = dialog;
  ryx_command_status_dialog_refresh_apps(RYX_COMMAND_STATUS_DIALOG(dialog), status->apps);
  g_signal_connect(dialog, "destroy", G_CALLBACK(gtk_widget_destroyed), &status->dialog);
}

void ryx_command_status_icon_refresh_viewers(RyxCommandStatusIcon *status, GList *viewers) {
  g_return_if_fail(RYX_IS_COMMAND_STATUS_ICON(status));
  if (status->dialog != nullptr)
    ryx_command_status_dialog_refresh_viewers(RYX_COMMAND_STATUS_DIALOG(status->dialog), viewers);
}
