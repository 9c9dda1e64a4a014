/* SPDX-License-Identifier: MIT */
/* The client of the VNC server's visualization extension.  The extension
 * serves two named pipes in each desktop session: the session pipe, which
 * answers "GetViewerList", "GetViewerInfo" and "TrackWindow", and the
 * notification pipe, which only the newer extension offers and which is
 * opened, never used, to tell the two apart.
 *
 * All calls block the calling (user interface) thread, so none waits for
 * good: opening a pipe waits at most RYX_EXT_PIPE_TIMEOUT_MS for the
 * extension to accept, and one request with its reply at most
 * RYX_EXT_PIPE_TIMEOUT_MS more.  A request that runs out of time fails like
 * a broken reply and drops the session pipe, since the rest of a late
 * reply would be taken for the next one; so does a request whose read or
 * write fails (the extension ended: a restarted one is found again).  The
 * next request opens the pipe again.  Otherwise a pipe once open stays open
 * for the life of the process, also after an exchange whose reply was
 * malformed. */
#pragma once

#include <glib.h>

G_BEGIN_DECLS

#define RYX_EXT_PIPE_TIMEOUT_MS 2000

/* Payload lengths above this are refused before anything is allocated
 * (a viewer list of 1 MiB holds 131072 viewers). */
#define RYX_EXT_PIPE_MAX_PAYLOAD (1024u * 1024u)

typedef enum {
  RYX_EXT_PIPE_SESSION, /* "VNC_Visualization_Ext_Session-%u", read and write */
  RYX_EXT_PIPE_NOTIFY,  /* "VNC_Visualization_Ext_Notify-%u", read only */
} RyxExtPipeSlot;

/* The scratch record GetViewerInfo fills; the caller copies it into a
 * RyxConfigViewer (ryx_config_viewer_new). */
typedef struct {
  guint64 id;
  gboolean supports_rvn;
  gboolean second_flag;
  char name[256]; /* up to 255 name bytes and a terminating zero */
} RyxExtViewerInfo;

/* Makes sure the slot holds an open pipe: the one of this login session,
 * else the console session's.  TRUE when it does afterwards. */
gboolean OpenExtPipe(RyxExtPipeSlot slot);

/* The ids of the connected viewers.  Returns -1 when the session pipe
 * cannot be opened, ids is NULL or the request cannot be written whole; 0
 * when the reply is missing, broken, named otherwise, too large or empty;
 * else the number of ids, with *ids a zero-filled array of them that the
 * caller frees with free().  *ids is set to NULL once the reply's header
 * has been read; before that it is left as it was, so callers start it at
 * NULL. */
gint32 GetViewerList(guint64 **ids);

/* Fills *info for viewer id (info->id is id itself).  FALSE on any
 * failure, also for a NULL info or a payload shorter than its name. */
gboolean GetViewerInfo(guint64 id, RyxExtViewerInfo *info);

/* Asks the extension to track the window, handing it length bytes of data
 * (at most RYX_EXT_PIPE_MAX_PAYLOAD - 13).  TRUE when it accepted. */
gboolean TrackWindow(guint64 window, const void *data, guint32 length);

G_END_DECLS
