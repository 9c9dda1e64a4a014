// SPDX-License-Identifier: MIT
// The config manager: extension probe, client-or-instance decision, the
// status icon with its dock timer and the standalone dialog fallback, and
// the periodic check that refreshes them.
#include "core/ryx-config-manager.h"

#include <gtk/gtk.h>

#include "common/ryx_gcommon.h"
#include "common/ryx_strfunc.h"
#include "core/periodic-check.h"
#include "core/ryx-console-port.h"
#include "integration/rendering-server-check.h"
#include "integration/ryx-config-kestrane-trigger.h"
#include "integration/ryx-config-viewer.h"
#include "integration/ryxd-query.h"
#include "integration/vnc-ext-pipe.h"
#include "platform/system.h"
#include "ui/ryx-command-status-dialog.h"
#include "ui/ryx-command-status-icon.h"

struct _RyxConfigManager {
  GObject parent_instance;

  RyxConsolePort *console_port; /* the listener and the connected applications, once the instance */
  GList *viewers;               /* RyxConfigViewer, owned */
  guint check_source_id;        /* the 2-second periodic check */
  ryx::Commands *commands;      /* not owned */
  GtkStatusIcon *status_icon;   /* RyxCommandStatusIcon, owned */
  GtkWidget *status_dialog;     /* the standalone dialog, not owned; cleared when destroyed */
  guint dock_source_id;         /* the 1-second dock timer */
  guint32 dock_ticks;           /* never reset */
  /* No notification area took the icon by the dock time: the standalone
   * window stands in for it until one does. */
  gboolean icon_released;
  guint32 refresh_count; /* refreshes since the last rendering server check */
  guint32 client_commands;
  gboolean viewers_enabled;
  RyxConfigDaemonData daemon;        /* what ryxd gave, and the connection to it */
  RyxConfigKestraneTrigger *trigger; /* owned */
};

G_DEFINE_FINAL_TYPE(RyxConfigManager, ryx_config_manager, G_TYPE_OBJECT)

enum { PROP_0, PROP_COMMANDS, PROP_CLIENT_COMMANDS, N_PROPS };
static GParamSpec *properties[N_PROPS];

// The extension may still be starting with the session: try a few times.
constexpr int kProbeAttempts = 5;
constexpr unsigned kProbeIntervalMs = 1000;

static void ryx_config_manager_set_property(GObject *object, guint prop_id, const GValue *value, GParamSpec *pspec) {
  RyxConfigManager *self = RYX_CONFIG_MANAGER(object);
  switch (prop_id) {
    case PROP_COMMANDS: self->commands = static_cast<ryx::Commands *>(g_value_get_pointer(value)); break;
    case PROP_CLIENT_COMMANDS: self->client_commands = g_value_get_uint(value); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
  }
}

static void ryx_config_manager_get_property(GObject *object, guint prop_id, GValue *value, GParamSpec *pspec) {
  RyxConfigManager *self = RYX_CONFIG_MANAGER(object);
  switch (prop_id) {
    case PROP_COMMANDS: g_value_set_pointer(value, self->commands); break;
    case PROP_CLIENT_COMMANDS: g_value_set_uint(value, self->client_commands); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
  }
}

static void ryx_config_manager_constructed(GObject *object) {
  RyxConfigManager *self = RYX_CONFIG_MANAGER(object);
  int version = 0;

  for (int attempts = 0; attempts < kProbeAttempts;) {
    if (OpenExtPipe(RYX_EXT_PIPE_SESSION)) {
      version = 1;
      if (OpenExtPipe(RYX_EXT_PIPE_NOTIFY)) version = 2;
      break;
    }
    attempts++;
    ryx::platform::sleepMilliseconds(kProbeIntervalMs);
  }

  if (version == 0) {
    RYX_LOG(G_LOG_LEVEL_WARNING, "No RVN extension");
  } else if (ryx_conf_settings_get_vnc_ext_version() == 1) {
    RYX_LOG(G_LOG_LEVEL_INFO, "Force use of VNC RVN extension 1");
    RYX_LOG(G_LOG_LEVEL_WARNING, "RVN extension is old, disabling viewers list");
  } else if (version == 2) {
    self->viewers_enabled = TRUE;
  } else {
    RYX_LOG(G_LOG_LEVEL_WARNING, "RVN extension is old, disabling viewers list");
  }

  G_OBJECT_CLASS(ryx_config_manager_parent_class)->constructed(object);
}

static void ryx_config_manager_dispose(GObject *object) {
  RyxConfigManager *self = RYX_CONFIG_MANAGER(object);

  g_clear_handle_id(&self->check_source_id, g_source_remove);
  g_clear_handle_id(&self->dock_source_id, g_source_remove);
  g_clear_object(&self->status_icon);
  // The standalone window outlives the manager (the user closes it); only
  // the handler that clears the field on its "destroy" goes.
  if (self->status_dialog != nullptr) {
    g_signal_handlers_disconnect_by_data(self->status_dialog, &self->status_dialog);
    self->status_dialog = nullptr;
  }
  if (self->console_port != nullptr) g_signal_handlers_disconnect_by_data(self->console_port, self);
  g_clear_object(&self->console_port);
  g_list_free_full(g_steal_pointer(&self->viewers), (GDestroyNotify)ryx_config_viewer_free);
  g_clear_object(&self->trigger);                         // holds its own reference to the encryption key
  ryx_config_daemon_data_release_objects(&self->daemon);  // the key, the cancellable, the connection

  G_OBJECT_CLASS(ryx_config_manager_parent_class)->dispose(object);
}

static void ryx_config_manager_finalize(GObject *object) {
  RyxConfigManager *self = RYX_CONFIG_MANAGER(object);
  ryx_config_daemon_data_clear(&self->daemon);
  G_OBJECT_CLASS(ryx_config_manager_parent_class)->finalize(object);
}

static void ryx_config_manager_class_init(RyxConfigManagerClass *klass) {
  GObjectClass *object_class = G_OBJECT_CLASS(klass);

  object_class->set_property = ryx_config_manager_set_property;
  object_class->get_property = ryx_config_manager_get_property;
  object_class->dispose = ryx_config_manager_dispose;
  object_class->finalize = ryx_config_manager_finalize;
  object_class->constructed = ryx_config_manager_constructed;

  properties[PROP_COMMANDS] =
      g_param_spec_pointer("commands", "Commands", "Commands",
                           (GParamFlags)(G_PARAM_READWRITE | G_PARAM_CONSTRUCT_ONLY | G_PARAM_STATIC_STRINGS));
  properties[PROP_CLIENT_COMMANDS] = g_param_spec_uint(
      "client-commands", "Client Commands", "Client commands", 0, 3, RYX_CONFIG_CLIENT_COMMAND_SHOW_GUI,
      (GParamFlags)(G_PARAM_READWRITE | G_PARAM_CONSTRUCT_ONLY | G_PARAM_STATIC_STRINGS));
  g_object_class_install_properties(object_class, N_PROPS, properties);
}

static void ryx_config_manager_init(RyxConfigManager *self) { (void)self; }

RyxConfigManager *ryx_config_manager_new(ryx::Commands *commands, guint32 client_commands) {
  return RYX_CONFIG_MANAGER(
      g_object_new(RYX_TYPE_CONFIG_MANAGER, "commands", commands, "client-commands", client_commands, nullptr));
}

// `window`: the window the released icon had opened, which becomes the
// standalone one, so that the session never has two; NULL makes a new one.
static GList *connected_apps(RyxConfigManager *self) {
  return self->console_port != nullptr ? ryx_console_port_get_apps(self->console_port) : nullptr;
}

static void create_status_dialog(RyxConfigManager *self, GtkWidget *window) {
  RYX_LOG(G_LOG_LEVEL_DEBUG, "Creating standalone dialog");
  self->status_dialog =
      window != nullptr ? window : ryx_command_status_dialog_new(self->commands, self->daemon.using_desktop_capture);
  ryx_command_status_dialog_refresh_apps(RYX_COMMAND_STATUS_DIALOG(self->status_dialog), connected_apps(self));
  g_signal_connect(self->status_dialog, "destroy", G_CALLBACK(gtk_widget_destroyed), &self->status_dialog);
}

static void run_rendering_server_check(RyxConfigManager *self) { check_rendering_server(&self->refresh_count); }

static void on_status_icon_activate(GtkStatusIcon *icon, gpointer user_data) {
  (void)icon;
  run_rendering_server_check(RYX_CONFIG_MANAGER(user_data));
}

static void present_status_dialog(RyxConfigManager *self) {
  gtk_widget_show(self->status_dialog);
  gtk_window_present(GTK_WINDOW(self->status_dialog));
}

// Runs each second from the icon's creation until a notification area
// holds it.  At the dock time the standalone window takes over, but the
// icon stays, waiting: a panel that starts late (as desktops often do at
// login) still gets it, and the standalone window then becomes the icon's.
static gboolean check_status_icon_docked(gpointer user_data) {
  RyxConfigManager *self = RYX_CONFIG_MANAGER(user_data);
  RyxCommandStatusIcon *icon = RYX_COMMAND_STATUS_ICON(self->status_icon);

  // Embedded in whichever notification area the icon uses (XEmbed tray or
  // StatusNotifierWatcher).
  if (ryx_command_status_icon_is_embedded(icon)) {
    g_signal_connect(self->status_icon, "activate", G_CALLBACK(on_status_icon_activate), self);
    if (self->icon_released) {
      RYX_LOG(G_LOG_LEVEL_INFO, "A notification area came after the dock time and took the icon");
      GtkWidget *window = self->status_dialog;
      if (window != nullptr) g_signal_handlers_disconnect_by_data(window, &self->status_dialog);
      self->status_dialog = nullptr;
      ryx_command_status_icon_adopt_dialog(icon, window);
      self->icon_released = FALSE;
    }
    self->dock_source_id = 0;
    return G_SOURCE_REMOVE;
  }
  if (self->dock_ticks != (guint32)ryx_conf_settings_get_ryx_config_dock_timeout()) {
    self->dock_ticks++;
  } else if (!self->icon_released) {
    self->icon_released = TRUE;
    create_status_dialog(self, ryx_command_status_icon_release_dialog(icon));
    if (self->client_commands != RYX_CONFIG_CLIENT_COMMAND_NO_WINDOW) present_status_dialog(self);
  }
  return G_SOURCE_CONTINUE;
}

static void show_gui(RyxConfigManager *self) {
  if (self->status_dialog == nullptr && self->icon_released) create_status_dialog(self, nullptr);
  if (self->status_dialog != nullptr) {
    present_status_dialog(self);
    return;
  }
  if (self->status_icon == nullptr) {
    self->status_icon = ryx_command_status_icon_new(self->commands, self->daemon.using_desktop_capture);
    self->dock_source_id = g_timeout_add_seconds(1, check_status_icon_docked, self);
  }
}

static void refresh_apps(RyxConfigManager *self) {
  GList *apps = connected_apps(self);
  if (self->status_dialog != nullptr)
    ryx_command_status_dialog_refresh_apps(RYX_COMMAND_STATUS_DIALOG(self->status_dialog), apps);
  if (self->status_icon != nullptr)
    ryx_command_status_icon_refresh_apps(RYX_COMMAND_STATUS_ICON(self->status_icon), apps);
}

// A new application may name a rendering server: it is checked at once.
static void on_apps_changed(RyxConsolePort *port, gboolean joined, gpointer user_data) {
  (void)port;
  RyxConfigManager *self = RYX_CONFIG_MANAGER(user_data);
  if (joined) run_rendering_server_check(self);
  refresh_apps(self);
}

static void on_show_gui(RyxConsolePort *port, gpointer user_data) {
  (void)port;
  show_gui(RYX_CONFIG_MANAGER(user_data));
}

static void update_viewer_list(RyxConfigManager *self) {
  self->viewers = ryx_periodic_check_list_viewers(g_steal_pointer(&self->viewers));
}

static void refresh_all(RyxConfigManager *self) {
  gboolean server_check_due = ryx_periodic_check_count_refresh(&self->refresh_count);
  // One viewer exchange per refresh, even while the standalone window and
  // an icon waiting for a notification area are both refreshed.
  gboolean viewers = self->viewers_enabled && (self->status_dialog != nullptr || self->status_icon != nullptr);
  if (viewers) update_viewer_list(self);
  if (self->status_dialog != nullptr) {
    RyxCommandStatusDialog *dialog = RYX_COMMAND_STATUS_DIALOG(self->status_dialog);
    ryx_command_status_dialog_refresh_status(dialog);
    if (viewers) ryx_command_status_dialog_refresh_viewers(dialog, self->viewers);
  }
  if (self->status_icon != nullptr) {
    RyxCommandStatusIcon *icon = RYX_COMMAND_STATUS_ICON(self->status_icon);
    ryx_command_status_icon_refresh_status(icon);
    if (viewers) ryx_command_status_icon_refresh_viewers(icon, self->viewers);
  }
  if (server_check_due) run_rendering_server_check(self);
}

// Every 2 seconds: settings and server state, the views, the viewer list,
// and the Kestrane trigger once the daemon has given a port.
static gboolean periodic_check(gpointer user_data) {
  RyxConfigManager *self = RYX_CONFIG_MANAGER(user_data);
  ryx_periodic_check_publish_state(self->commands, self->daemon.using_desktop_capture);
  refresh_all(self);
  if (self->daemon.port != 0 && self->trigger == nullptr)
    self->trigger = ryx_config_kestrane_trigger_new(
        self->daemon.payload, (guint16)self->daemon.port, self->daemon.conference_id, self->daemon.conference_key,
        self->daemon.encryption_key, (const char *const *)self->daemon.backend_ids);
  return G_SOURCE_CONTINUE;
}

static void run_server(RyxConfigManager *self) {
  if (!check_ryxd_server_started(&self->daemon)) return;

  self->console_port = ryx_console_port_new();
  g_signal_connect(self->console_port, "show-gui", G_CALLBACK(on_show_gui), self);
  g_signal_connect(self->console_port, "apps-changed", G_CALLBACK(on_apps_changed), self);
  if (!ryx_console_port_listen(self->console_port)) return;

  RYX_LOG(G_LOG_LEVEL_INFO, "Started server");
  if (self->check_source_id == 0) self->check_source_id = g_timeout_add_seconds(2, periodic_check, self);
  show_gui(self);
  gtk_main();
}

void ryx_config_manager_run(RyxConfigManager *manager) {
  g_return_if_fail(RYX_IS_CONFIG_MANAGER(manager));
  if (ryx_console_port_hand_over(manager->client_commands)) return;
  run_server(manager);
}

gboolean ryx_config_manager_hand_over(RyxConfigManager *manager) {
  g_return_val_if_fail(RYX_IS_CONFIG_MANAGER(manager), FALSE);
  return ryx_console_port_hand_over(manager->client_commands);
}
