/* SPDX-License-Identifier: MIT */
/* What the tests look at in a trigger. */
#pragma once

#include <gdk/gdk.h>

#include "integration/ryx-config-kestrane-trigger.h"

G_BEGIN_DECLS

/* The trigger window, or NULL when its creation failed (not a new
 * reference). */
GdkWindow *ryx_config_kestrane_trigger_get_window(RyxConfigKestraneTrigger *self);

/* The trigger position read from the settings when the trigger was made. */
void ryx_config_kestrane_trigger_get_position(RyxConfigKestraneTrigger *self, gint32 *x, gint32 *y);

G_END_DECLS
