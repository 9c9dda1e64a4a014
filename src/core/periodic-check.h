/* SPDX-License-Identifier: MIT */
/* What the manager's 2-second periodic check decides on its own: the
 * server state it publishes, the viewer list it keeps and when a refresh
 * is due a rendering server check. */
#pragma once

#include <glib.h>

namespace ryx {
class Commands;
}

G_BEGIN_DECLS

/* Reads the settings again, runs the server-state checks (unless they are
 * disabled or the session uses desktop capture), and hands the status to
 * the error reporter unless it must not show: a code desktop capture
 * makes moot, a missing 32-bit wrapper the settings do not warn about, or
 * any code while a rendering server error waits for its next check. */
void ryx_periodic_check_publish_state(ryx::Commands *commands, gboolean desktop_capture);

/* The extension's viewers now (RyxConfigViewer, in the reverse of the
 * extension's order); `previous` is freed.  Logged when the list changed,
 * so a quiet session logs nothing every period. */
GList *ryx_periodic_check_list_viewers(GList *previous);

/* Counts one refresh; TRUE for the one that is due a rendering server
 * check (every 150th, 300 s at the 2-second period). */
gboolean ryx_periodic_check_count_refresh(guint32 *count);

G_END_DECLS
