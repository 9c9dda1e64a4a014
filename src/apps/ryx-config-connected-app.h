/* SPDX-License-Identifier: MIT */
/* One 3D application connected to the console port, after its handshake:
 * the update it sends at once (its name and its rendering server), the
 * built-in blacklist, and the watch that reports the end of its connection
 * with the "disconnected" signal. */
#pragma once

#include <gio/gio.h>

G_BEGIN_DECLS

#define RYX_TYPE_CONFIG_CONNECTED_APP (ryx_config_connected_app_get_type())
G_DECLARE_DERIVABLE_TYPE(RyxConfigConnectedApp, ryx_config_connected_app, RYX, CONFIG_CONNECTED_APP, GObject)

struct _RyxConfigConnectedAppClass {
  GObjectClass parent_class;

  /* class handler of "disconnected" (run first, left empty) */
  void (*disconnected)(RyxConfigConnectedApp *app);
};

/* Reads and parses the update from connection (waiting at most 5 s for
 * it; see read_update), then watches the connection.  The same as
 * g_object_new with the "connection" property. */
RyxConfigConnectedApp *ryx_config_connected_app_new(GSocketConnection *connection);

/* The same, when the start of the update was already received from the
 * connection (with the handshake): `received` (may be NULL) is read first,
 * then the connection.  The "received" property. */
RyxConfigConnectedApp *ryx_config_connected_app_new_with_received(GSocketConnection *connection, GBytes *received);

/* The application's name, "Unknown application" after an empty update, or
 * NULL when the update held no usable name.  Not a copy. */
const char *ryx_config_connected_app_get_name(RyxConfigConnectedApp *app);

/* The rendering server named in the update, or NULL.  Not a copy. */
const char *ryx_config_connected_app_get_rendering_server(RyxConfigConnectedApp *app);

/* Whether the name starts with one of the built-in prefixes "ryxconfig" and
 * "Unknown" (case-sensitive).  An application without a name is not. */
gboolean ryx_config_connected_app_is_blacklisted(RyxConfigConnectedApp *app);

G_END_DECLS
