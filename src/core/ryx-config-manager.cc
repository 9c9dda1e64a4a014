// SPDX-License-Identifier: MIT
// The config manager: extension probe, client-or-instance decision, the
// status icon with its dock timer and the standalone dialog fallback.
#include "core/ryx-config-manager-private.h"

#include "apps/ryx-config-connected-app.h"
#include "common/ryx_gcommon.h"
#include "common/ryx_strfunc.h"
#include "integration/rendering-server-check.h"
#include "integration/ryx-config-kestrane-trigger.h"
#include "integration/ryx-config-viewer.h"
#include "integration/vnc-ext-pipe.h"
#include "platform/system.h"

G_DEFINE_FINAL_TYPE (RyxConfigManager, ryx_config_manager, G_TYPE_OBJECT)

enum { PROP_0, PROP_COMMANDS, PROP_CLIENT_COMMANDS, N_PROPS };
static GParamSpec *properties[N_PROPS];

// The extension may still be starting with the session: try a few times.
constexpr int kProbeAttempts = 5;
constexpr unsigned kProbeIntervalMs = 1000;

static void ryx_config_manager_set_property (GObject *object, guint prop_id, const GValue *value,
                                             GParamSpec *pspec) {
  RyxConfigManager *self = RYX_CONFIG_MANAGER (object);
  switch (prop_id) {
    case PROP_COMMANDS:
      self->commands = static_cast<ryx::Commands *> (g_value_get_pointer (value));
      break;
    case PROP_CLIENT_COMMANDS:
      self->client_commands = g_value_get_uint (value);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID (object, prop_id, pspec);
  }
}

static void ryx_config_manager_get_property (GObject *object, guint prop_id, GValue *value, GParamSpec *pspec) {
  RyxConfigManager *self = RYX_CONFIG_MANAGER (object);
  switch (prop_id) {
    case PROP_COMMANDS:
      g_value_set_pointer (value, self->commands);
      break;
    case PROP_CLIENT_COMMANDS:
      g_value_set_uint (value, self->client_commands);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID (object, prop_id, pspec);
  }
}

static void ryx_config_manager_constructed (GObject *object) {
  RyxConfigManager *self = RYX_CONFIG_MANAGER (object);
  int version = 0;

  for (int attempts = 0; attempts < kProbeAttempts;) {
    if (OpenExtPipe (RYX_EXT_PIPE_SESSION)) {
      version = 1;
      if (OpenExtPipe (RYX_EXT_PIPE_NOTIFY)) version = 2;
      break;
    }
    attempts++;
    ryx::platform::sleepMilliseconds (kProbeIntervalMs);
  }

  if (version == 0) {
    RYX_LOG (G_LOG_LEVEL_WARNING, "No RVN extension");
  } else if (ryx_conf_settings_get_vnc_ext_version () == 1) {
    RYX_LOG (G_LOG_LEVEL_INFO, "Force use of VNC RVN extension 1");
    RYX_LOG (G_LOG_LEVEL_WARNING, "RVN extension is old, disabling viewers list");
  } else if (version == 2) {
    self->viewers_enabled = TRUE;
  } else {
    RYX_LOG (G_LOG_LEVEL_WARNING, "RVN extension is old, disabling viewers list");
  }

  G_OBJECT_CLASS (ryx_config_manager_parent_class)->constructed (object);
}

static void ryx_config_manager_dispose (GObject *object) {
  RyxConfigManager *self = RYX_CONFIG_MANAGER (object);

  g_clear_handle_id (&self->check_source_id, g_source_remove);
  g_clear_handle_id (&self->dock_source_id, g_source_remove);
  g_clear_object (&self->status_icon);
  // The standalone window outlives the manager (the user closes it); only
  // the handler that clears the field on its "destroy" goes.
  if (self->status_dialog != nullptr) {
    g_signal_handlers_disconnect_by_data (self->status_dialog, &self->status_dialog);
    self->status_dialog = nullptr;
  }
  g_list_free_full (g_steal_pointer (&self->apps), g_object_unref);
  g_list_free_full (g_steal_pointer (&self->viewers), (GDestroyNotify) ryx_config_viewer_free);
  if (self->service != nullptr) g_socket_service_stop (self->service);
  if (self->service != nullptr) g_socket_listener_close (G_SOCKET_LISTENER (self->service));
  g_clear_object (&self->service);
  g_clear_object (&self->console_reader);
  g_clear_object (&self->console_input);
  g_clear_object (&self->trigger);  // holds its own reference to the encryption key
  ryx_config_daemon_data_release_objects (&self->daemon);  // the key, the cancellable, the connection

  G_OBJECT_CLASS (ryx_config_manager_parent_class)->dispose (object);
}

static void ryx_config_manager_finalize (GObject *object) {
  RyxConfigManager *self = RYX_CONFIG_MANAGER (object);
  ryx_config_daemon_data_clear (&self->daemon);
  G_OBJECT_CLASS (ryx_config_manager_parent_class)->finalize (object);
}

static void ryx_config_manager_class_init (RyxConfigManagerClass *klass) {
  GObjectClass *object_class = G_OBJECT_CLASS (klass);

  object_class->set_property = ryx_config_manager_set_property;
  object_class->get_property = ryx_config_manager_get_property;
  object_class->dispose = ryx_config_manager_dispose;
  object_class->finalize = ryx_config_manager_finalize;
  object_class->constructed = ryx_config_manager_constructed;

  properties[PROP_COMMANDS] =
      g_param_spec_pointer ("commands", "Commands", "Commands",
                            (GParamFlags) (G_PARAM_READWRITE | G_PARAM_CONSTRUCT_ONLY | G_PARAM_STATIC_STRINGS));
  properties[PROP_CLIENT_COMMANDS] =
      g_param_spec_uint ("client-commands", "Client Commands", "Client commands", 0, 3,
                         RYX_CONFIG_CLIENT_COMMAND_SHOW_GUI,
                         (GParamFlags) (G_PARAM_READWRITE | G_PARAM_CONSTRUCT_ONLY | G_PARAM_STATIC_STRINGS));
  g_object_class_install_properties (object_class, N_PROPS, properties);
}

static void ryx_config_manager_init (RyxConfigManager *self) { (void) self; }

RyxConfigManager *ryx_config_manager_new (ryx::Commands *commands, guint32 client_commands) {
  return RYX_CONFIG_MANAGER (
      g_object_new (RYX_TYPE_CONFIG_MANAGER, "commands", commands, "client-commands", client_commands, nullptr));
}

// `window`: the window the released icon had opened, which becomes the
// standalone one, so that the session never has two; NULL makes a new one.
static void create_status_dialog (RyxConfigManager *self, GtkWidget *window) {
  RYX_LOG (G_LOG_LEVEL_DEBUG, "Creating standalone dialog");
  self->status_dialog =
      window != nullptr ? window : ryx_command_status_dialog_new (self->commands, self->daemon.using_desktop_capture);
  ryx_command_status_dialog_refresh_apps (RYX_COMMAND_STATUS_DIALOG (self->status_dialog), self->apps);
  g_signal_connect (self->status_dialog, "destroy", G_CALLBACK (gtk_widget_destroyed), &self->status_dialog);
}

static void on_status_icon_activate (GtkStatusIcon *icon, gpointer user_data) {
  (void) icon;
  run_rendering_server_check (RYX_CONFIG_MANAGER (user_data));
}

static void present_status_dialog (RyxConfigManager *self) {
  gtk_widget_show (self->status_dialog);
  gtk_window_present (GTK_WINDOW (self->status_dialog));
}

// Runs each second from the icon's creation until a notification area
// holds it.  At the dock time the standalone window takes over, but the
// icon stays, waiting: a panel that starts late (as desktops often do at
// login) still gets it, and the standalone window then becomes the icon's.
static gboolean check_status_icon_docked (gpointer user_data) {
  RyxConfigManager *self = RYX_CONFIG_MANAGER (user_data);
  RyxCommandStatusIcon *icon = RYX_COMMAND_STATUS_ICON (self->status_icon);

  // Embedded in whichever notification area the icon uses (XEmbed tray or
  // StatusNotifierWatcher).
  if (ryx_command_status_icon_is_embedded (icon)) {
    g_signal_connect (self->status_icon, "activate", G_CALLBACK (on_status_icon_activate), self);
    if (self->icon_released) {
      RYX_LOG (G_LOG_LEVEL_INFO, "A notification area came after the dock time and took the icon");
      GtkWidget *window = self->status_dialog;
      if (window != nullptr) g_signal_handlers_disconnect_by_data (window, &self->status_dialog);
      self->status_dialog = nullptr;
      ryx_command_status_icon_adopt_dialog (icon, window);
      self->icon_released = FALSE;
    }
    self->dock_source_id = 0;
    return G_SOURCE_REMOVE;
  }
  if (self->dock_ticks != (guint32) ryx_conf_settings_get_ryx_config_dock_timeout ()) {
    self->dock_ticks++;
  } else if (!self->icon_released) {
    self->icon_released = TRUE;
    create_status_dialog (self, ryx_command_status_icon_release_dialog (icon));
    if (self->client_commands != RYX_CONFIG_CLIENT_COMMAND_NO_WINDOW) present_status_dialog (self);
  }
  return G_SOURCE_CONTINUE;
}

void show_gui (RyxConfigManager *self) {
  if (self->status_dialog == nullptr && self->icon_released) create_status_dialog (self, nullptr);
  if (self->status_dialog != nullptr) {
    present_status_dialog (self);
    return;
  }
  if (self->status_icon == nullptr) {
    self->status_icon = ryx_command_status_icon_new (self->commands, self->daemon.using_desktop_capture);
    self->dock_source_id = g_timeout_add_seconds (1, check_status_icon_docked, self);
  }
}

void run_rendering_server_check (RyxConfigManager *self) { check_rendering_server (&self->refresh_count); }

void create_trigger (RyxConfigManager *self) {
  self->trigger = G_OBJECT (ryx_config_kestrane_trigger_new (
      self->daemon.payload, (guint16) self->daemon.port, self->daemon.conference_id, self->daemon.conference_key,
      self->daemon.encryption_key, (const char *const *) self->daemon.backend_ids));
}

static void run_server (RyxConfigManager *self) {
  if (!check_ryxd_server_started (&self->daemon)) return;

  self->service = g_socket_service_new ();
  g_signal_connect (self->service, "incoming", G_CALLBACK (on_incoming), self);
  if (!listen_on_console_port (self)) return;

  RYX_LOG (G_LOG_LEVEL_INFO, "Started server");
  if (self->check_source_id == 0) self->check_source_id = g_timeout_add_seconds (2, periodic_check, self);
  show_gui (self);
  gtk_main ();
}

void ryx_config_manager_run (RyxConfigManager *manager) {
  g_return_if_fail (RYX_IS_CONFIG_MANAGER (manager));
  if (connect_to_ryxconfig (manager)) return;
  run_server (manager);
}

gboolean ryx_config_manager_hand_over (RyxConfigManager *manager) {
  g_return_val_if_fail (RYX_IS_CONFIG_MANAGER (manager), FALSE);
  return connect_to_ryxconfig (manager);
}
