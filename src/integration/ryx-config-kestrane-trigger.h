/* SPDX-License-Identifier: MIT */
/* The Kestrane trigger: a 1 x 1 OpenGL window that hands the session's
 * connection information (from ryxd) to the OpenGL driver, or, when the
 * driver has no entry point for it, has the VNC server's extension track
 * the window.  Everything happens once, while the trigger is constructed;
 * the window stays open until the trigger is finalized. */
#pragma once

#include <glib-object.h>

G_BEGIN_DECLS

#define RYX_TYPE_CONFIG_KESTRANE_TRIGGER (ryx_config_kestrane_trigger_get_type())
G_DECLARE_FINAL_TYPE(RyxConfigKestraneTrigger, ryx_config_kestrane_trigger, RYX, CONFIG_KESTRANE_TRIGGER, GObject)

/* Highest port the "port" property takes. */
#define RYX_CONFIG_KESTRANE_TRIGGER_MAX_PORT 32767

/* A new trigger, constructed at once (window, hand-over, first frame).
 * The values are copied; a port above RYX_CONFIG_KESTRANE_TRIGGER_MAX_PORT
 * is refused with GLib's out-of-range warning and the trigger keeps 0.
 * encryption_key and backend_ids may be NULL. */
RyxConfigKestraneTrigger *ryx_config_kestrane_trigger_new(const char *payload, guint16 port, const char *conference_id,
                                                          const char *conference_key, GBytes *encryption_key,
                                                          const char *const *backend_ids);

G_END_DECLS
