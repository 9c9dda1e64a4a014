/* SPDX-License-Identifier: MIT */
/* The console port of a session's instance: the listener on 127.0.0.1,
 * the command and application handshakes, and the applications connected
 * through it (newest first).  A "Show GUI" command emits "show-gui", a
 * "Quit application" command ends the main loop, and "apps-changed" tells
 * of an application that joined (TRUE) or left (FALSE).  The client side
 * of a later start needs no object. */
#pragma once

#include <gio/gio.h>

G_BEGIN_DECLS

#define RYX_TYPE_CONSOLE_PORT (ryx_console_port_get_type())
G_DECLARE_FINAL_TYPE(RyxConsolePort, ryx_console_port, RYX, CONSOLE_PORT, GObject)

RyxConsolePort *ryx_console_port_new(void);

/* Listens on the console port of the settings; FALSE when it is 0 or the
 * address cannot be taken.  Called once. */
gboolean ryx_console_port_listen(RyxConsolePort *port);

/* The connected applications (RyxConfigConnectedApp), newest first; owned
 * by the port. */
GList *ryx_console_port_get_apps(RyxConsolePort *port);

/* A start's side: hands `client_command` (a RyxConfigClientCommand) to the
 * instance on the console port.  TRUE when an instance was reached (or the
 * port is another user's), FALSE when this process should try to become
 * the instance. */
gboolean ryx_console_port_hand_over(guint32 client_command);

G_END_DECLS
