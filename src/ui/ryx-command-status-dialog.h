/* SPDX-License-Identifier: MIT */
/* The status window: the machine, the connected VNC viewers, the ON/OFF
 * switch, an error panel when something is wrong, and the 3D applications
 * rendering through RYX.  The config manager or the status icon refreshes
 * it; it never polls. */
#pragma once

#include <gtk/gtk.h>

namespace ryx {
class Commands;
}

G_BEGIN_DECLS

#define RYX_TYPE_COMMAND_STATUS_DIALOG (ryx_command_status_dialog_get_type())
G_DECLARE_FINAL_TYPE(RyxCommandStatusDialog, ryx_command_status_dialog, RYX, COMMAND_STATUS_DIALOG, GtkDialog)

/* A new, hidden, top-level status window showing the current status.
 * commands is borrowed and must outlive the window; with desktop_capture
 * the switch and the applications are left out.  The caller owns the window
 * and should clear its pointer on "destroy": the Close button destroys it. */
GtkWidget *ryx_command_status_dialog_new(ryx::Commands *commands, gboolean desktop_capture);

/* Brings the rendering-server row and the status panel up to date with the
 * settings and the published status (ryx::ErrorReporter). */
void ryx_command_status_dialog_refresh_status(RyxCommandStatusDialog *dlg);

/* Lists apps (RyxConfigConnectedApp, borrowed) with where each renders. */
void ryx_command_status_dialog_refresh_apps(RyxCommandStatusDialog *dlg, GList *apps);

/* Shows how many viewers (RyxConfigViewer, borrowed) are connected and how
 * many of them lack Kestrane support. */
void ryx_command_status_dialog_refresh_viewers(RyxCommandStatusDialog *dlg, GList *viewers);

G_END_DECLS
