/* SPDX-License-Identifier: MIT */
/* One VNC viewer connected to the session, as the VNC server's extension
 * describes it.  Records are owned by whoever holds the list. */
#pragma once

#include <glib.h>

G_BEGIN_DECLS

typedef struct _RyxConfigViewer RyxConfigViewer;

struct _RyxConfigViewer {
  guint64 id;            /* identifier from the viewer list */
  gboolean supports_rvn; /* the viewer has Kestrane support */
  gboolean second_flag;  /* sent by the extension; kept, not interpreted */
  char *name;            /* owned */
};

/* A new record with a copy of name. */
RyxConfigViewer *ryx_config_viewer_new(guint64 id, gboolean supports_rvn, gboolean second_flag, const char *name);
void ryx_config_viewer_free(RyxConfigViewer *viewer);
gboolean ryx_config_viewer_get_supports_rvn(const RyxConfigViewer *viewer);

G_END_DECLS
