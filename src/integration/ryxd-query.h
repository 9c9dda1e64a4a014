/* SPDX-License-Identifier: MIT */
/* The query of the session daemon ryxd: find its port and cookie in the
 * port cache file, connect, authenticate, and ask for the back-end ids,
 * whether desktop capture is in use and, when it is not, the connection
 * information for the OpenGL driver.  The answers go into a plain record
 * that the config manager embeds and owns. */
#pragma once

#include <gio/gio.h>

G_BEGIN_DECLS

/* The whole exchange with the daemon, from connecting to the last reply,
 * ends after this long as a failure of the step that was waiting: the query
 * runs before any window exists, and a daemon that accepts and stays
 * silent must not hold the start for good. */
#define RYX_RYXD_QUERY_TIMEOUT_MS 5000

/* What the daemon gave, in the config manager's care. */
typedef struct {
  char *payload;                      /* owned */
  gint32 port;                        /* 0: no connection information */
  char *conference_id;                /* owned */
  char *conference_key;               /* owned */
  GBytes *encryption_key;             /* owned */
  GSocketConnection *ryxd_connection; /* owned; kept open after a success */
  GCancellable *ryxd_cancellable;     /* owned; new for each query */
  char **backend_ids;                 /* owned, NULL-terminated */
  gboolean using_desktop_capture;
} RyxConfigDaemonData;

/* A new GFile for USER_DATA_DIR/Vezo/ryx/ryxdport.HOST.WINSESSION. */
GFile *get_ryxd_port_file(void);

/* Reads the port cache file.  Sets *host and *cookie to NULL and *port to
 * 0 first; after a successful load *host is "localhost" and *port and
 * *cookie are the file's (a missing key leaves 0 or NULL; the port is cut
 * to 16 bits).  Free host and cookie with g_free. */
void get_ryxd_connection_info(char **host, guint16 *port, char **cookie);

/* Runs the query and fills data; TRUE on success.  Failures are reported on
 * standard error, and every failure after connecting releases and clears
 * data->ryxd_connection. */
gboolean check_ryxd_server_started(RyxConfigDaemonData *data);

/* Releases the key, the cancellable and the connection (the manager's
 * dispose); may run twice. */
void ryx_config_daemon_data_release_objects(RyxConfigDaemonData *data);

/* Releases everything and sets every field back to 0/NULL. */
void ryx_config_daemon_data_clear(RyxConfigDaemonData *data);

G_END_DECLS
