/* SPDX-License-Identifier: MIT */
/* The manager's instance data and the operations its source files share
 * (console port, connected applications, periodic check).  Tests drive
 * these directly. */
#pragma once

#include <gio/gio.h>
#include <gtk/gtk.h>

#include "core/ryx-config-manager.h"
#include "gvc/gvc-data-input-stream.h"
#include "integration/ryxd-query.h"
#include "ui/ryx-command-status-dialog.h"
#include "ui/ryx-command-status-icon.h"

struct _RyxConfigManager {
  GObject parent_instance;

  GSocketService *service;     /* the console port listener */
  /* The console port's handshake reader over a deadline stream: made with
   * the listener, aimed at each connection in turn. */
  GInputStream *console_input;
  GvcDataInputStream *console_reader;
  GList *apps;                 /* RyxConfigConnectedApp, one reference each, newest first */
  GList *viewers;              /* RyxConfigViewer, owned */
  guint check_source_id;       /* the 2-second periodic check */
  ryx::Commands *commands;     /* not owned */
  GtkStatusIcon *status_icon;  /* RyxCommandStatusIcon, owned */
  GtkWidget *status_dialog;    /* the standalone dialog, not owned; cleared when destroyed */
  guint dock_source_id;        /* the 1-second dock timer */
  guint32 dock_ticks;          /* never reset */
  /* No notification area took the icon by the dock time: the standalone
   * window stands in for it until one does. */
  gboolean icon_released;
  guint32 refresh_count;       /* refreshes since the last rendering server check */
  guint32 client_commands;
  gboolean viewers_enabled;
  RyxConfigDaemonData daemon;  /* what ryxd gave, and the connection to it */
  GObject *trigger;            /* RyxConfigKestraneTrigger, owned */
};

G_BEGIN_DECLS

/* Console port (client and instance sides). */
gboolean connect_to_ryxconfig (RyxConfigManager *self);
gboolean listen_on_console_port (RyxConfigManager *self);
gboolean on_incoming (GSocketService *service, GSocketConnection *connection, GObject *source, gpointer user_data);

/* Connected applications. */
/* `received`: the start of the update, taken with the handshake (may be NULL). */
void accept_connected_app (RyxConfigManager *self, GSocketConnection *connection, GBytes *received);
void refresh_apps (RyxConfigManager *self);

/* The periodic check. */
gboolean periodic_check (gpointer user_data);
void refresh_all (RyxConfigManager *self);
void update_viewer_list (RyxConfigManager *self);

/* The rendering server check for the manager; restarts the refresh count. */
void run_rendering_server_check (RyxConfigManager *self);

/* Makes the Kestrane trigger from the daemon's connection information. */
void create_trigger (RyxConfigManager *self);

/* User interface. */
void show_gui (RyxConfigManager *self);

G_END_DECLS
