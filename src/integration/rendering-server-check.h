/* SPDX-License-Identifier: MIT */
/* Whether the external rendering server, when one is configured, answers
 * HTTP.  The outcome goes to the published status record: cleared when no
 * server is configured or it answers anything HTTP at all (404 included),
 * STATUS_RENDERING_SERVER_ERROR with "Cannot communicate with the
 * Rendering Server" otherwise.
 *
 * The request blocks the calling (user interface) thread for at most the
 * HTTP client's deadlines: ryx::kConnectTimeoutMs for each address
 * tried and ryx::http::kRequestTimeoutMs in all, so a server that accepts
 * and never answers costs the user that long once per check. */
#pragma once

#include <glib.h>

/* Default port of the rendering server when the setting names none, or one
 * outside 1 to 65535. */
#define RYX_RENDERING_SERVER_DEFAULT_PORT 2007

/* Runs the check on the setting "external_rendering_server" (host or
 * host:port) and sets *refresh_count, the config manager's count of
 * refreshes since the last check, back to 0. */
void check_rendering_server(guint32 *refresh_count);
