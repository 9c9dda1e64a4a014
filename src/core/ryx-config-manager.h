/* SPDX-License-Identifier: MIT */
/* The central object of the program: one per process.  It probes the VNC
 * extension at construction; run() hands the client command to the
 * session's instance, or makes this process that instance. */
#pragma once

#include <glib-object.h>

namespace ryx {
class Commands;
}

G_BEGIN_DECLS

/* What a start asks of the session's instance. */
typedef enum {
  RYX_CONFIG_CLIENT_COMMAND_NONE = 0,
  RYX_CONFIG_CLIENT_COMMAND_SHOW_GUI = 1,
  RYX_CONFIG_CLIENT_COMMAND_QUIT = 2,
  RYX_CONFIG_CLIENT_COMMAND_NO_WINDOW = 3,
} RyxConfigClientCommand;

#define RYX_TYPE_CONFIG_MANAGER (ryx_config_manager_get_type())
G_DECLARE_FINAL_TYPE(RyxConfigManager, ryx_config_manager, RYX, CONFIG_MANAGER, GObject)

RyxConfigManager *ryx_config_manager_new(ryx::Commands *commands, guint32 client_commands);

/* Returns when this process has done its work: at once after reaching an
 * instance or failing to become one, else when the instance is told to quit. */
void ryx_config_manager_run(RyxConfigManager *manager);
/* Hands the start's command to the session's running instance, as
 * ryx_config_manager_run() does first; FALSE when no instance took it.
 * Needs no display. */
gboolean ryx_config_manager_hand_over(RyxConfigManager *manager);

G_END_DECLS
