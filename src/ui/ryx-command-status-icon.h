/* SPDX-License-Identifier: MIT */
/* The program's icon in the notification area: normal or error image, the
 * on/off state as tooltip, and the status window on activation or when the
 * status turns into an error.  It keeps no status beyond the last code it
 * showed. */
#pragma once

#include <gtk/gtk.h>

namespace ryx {
class Commands;
}

G_BEGIN_DECLS

/* GTK gives its deprecated status icon no g_autoptr support; the type
 * declaration below needs it. */
G_DEFINE_AUTOPTR_CLEANUP_FUNC(GtkStatusIcon, g_object_unref)

#define RYX_TYPE_COMMAND_STATUS_ICON (ryx_command_status_icon_get_type())
G_DECLARE_FINAL_TYPE(RyxCommandStatusIcon, ryx_command_status_icon, RYX, COMMAND_STATUS_ICON, GtkStatusIcon)

/* A new icon showing the normal image.  commands is borrowed, must outlive
 * the icon and is handed to the status windows the icon opens, with
 * desktop_capture.  The caller owns the reference. */
GtkStatusIcon *ryx_command_status_icon_new(ryx::Commands *commands, gboolean desktop_capture);

/* Whether the icon is in a notification area now: docked in the XEmbed
 * tray, or registered with the StatusNotifierWatcher, whichever shows it. */
gboolean ryx_command_status_icon_is_embedded(RyxCommandStatusIcon *status);

/* Keeps apps (RyxConfigConnectedApp, borrowed: the caller keeps the list
 * alive until the next call) for windows opened later, and lists them in an
 * open window. */
void ryx_command_status_icon_refresh_apps(RyxCommandStatusIcon *status, GList *apps);

/* Brings the open window and the image up to date with ryx::ErrorReporter;
 * a new error code opens the window. */
void ryx_command_status_icon_refresh_status(RyxCommandStatusIcon *status);

/* Hands the viewers (RyxConfigViewer) to the open window, if any. */
void ryx_command_status_icon_refresh_viewers(RyxCommandStatusIcon *status, GList *viewers);

/* For an icon no notification area took: gives up the window the icon
 * opened (NULL if none; the caller tracks it from now on), and from then on
 * the icon opens no window of its own, since the caller shows one.
 * ryx_command_status_icon_adopt_dialog() gives the icon a window back. */
GtkWidget *ryx_command_status_icon_release_dialog(RyxCommandStatusIcon *status);

/* The icon takes dialog (a RyxCommandStatusDialog, or NULL) as the window
 * it opens and refreshes, and opens windows of its own again. */
void ryx_command_status_icon_adopt_dialog(RyxCommandStatusIcon *status, GtkWidget *dialog);

G_END_DECLS
