// SPDX-License-Identifier: MIT
#include "apps/ryx-config-connected-app.h"

#include <cstring>
#include <string>

#include "common/ryx_gcommon.h"
#include "common/ryx_strfunc.h"

namespace {

// The update is read while the console port's "incoming" handler runs, so
// an application that connects and then stays silent, or talks without end,
// would hold the whole instance.  Reading stops after kUpdateDeadlineUs in
// all (not per line) or after kUpdateMaxBytes, whichever comes first; the
// complete lines read up to then are parsed as the update.  A real update
// is a few hundred bytes sent at once.
constexpr gint64 kUpdateDeadlineUs = 5 * G_USEC_PER_SEC;
constexpr gsize kUpdateMaxBytes = 64 * 1024;

constexpr const char *kUpdateEnd = "</Update>";
constexpr const char *kUnknownName = "Unknown application";

// Name prefixes of programs that talk to the console port but are not 3D
// applications (this program itself, and applications that sent no name).
constexpr const char *app_blacklist[] = {"ryxconfig", "Unknown"};

}  // namespace

typedef struct {
  GSocketConnection *connection;
  GCancellable *cancellable;
  char *name;
  char *rendering_server;
} RyxConfigConnectedAppPrivate;

G_DEFINE_TYPE_WITH_PRIVATE (RyxConfigConnectedApp, ryx_config_connected_app, G_TYPE_OBJECT)

enum { PROP_0, PROP_CONNECTION, N_PROPS };
static GParamSpec *properties[N_PROPS];

enum { DISCONNECTED, N_SIGNALS };
static guint signals[N_SIGNALS];

// Reads lines (each ended by a line feed alone; a carriage return stays in
// the line) until one that is exactly "</Update>", the end of the stream, an
// error, or one of the bounds above.  Returns the lines joined without their
// line feeds.  A last line cut off by the end of the stream still counts; one
// cut off by an error or a bound does not.  Reads in chunks as a buffered
// line reader would, so bytes sent in the same burst after "</Update>" are
// dropped with it.
static std::string read_update (GSocketConnection *connection) {
  GSocket *socket = g_socket_connection_get_socket (connection);
  const gint64 deadline = g_get_monotonic_time () + kUpdateDeadlineUs;
  std::string text;
  std::string line;
  gsize received = 0;
  char chunk[4096];

  for (;;) {
    gint64 left = deadline - g_get_monotonic_time ();
    if (left <= 0) {
      RYX_LOG (G_LOG_LEVEL_WARNING, "Stopped reading the update after %d seconds",
               (int)(kUpdateDeadlineUs / G_USEC_PER_SEC));
      return text;
    }
    gsize room = kUpdateMaxBytes - received;
    if (room == 0) {
      RYX_LOG (G_LOG_LEVEL_WARNING, "Stopped reading the update at %u bytes", (unsigned)kUpdateMaxBytes);
      return text;
    }
    g_autoptr (GError) error = nullptr;
    if (!g_socket_condition_timed_wait (socket, G_IO_IN, left, nullptr, &error)) {
      if (g_error_matches (error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) continue;  // reported above
      return text;
    }
    gssize count = g_socket_receive_with_blocking (socket, chunk, MIN (sizeof chunk, room), FALSE, nullptr, &error);
    if (count < 0) {
      if (g_error_matches (error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK)) continue;
      return text;
    }
    if (count == 0) {
      text += line.c_str ();
      return text;
    }
    received += (gsize)count;
    for (gssize i = 0; i < count; i++) {
      if (chunk[i] != '\n') {
        line += chunk[i];
        continue;
      }
      // Lines are texts: like a C string, a line ends at a zero byte.
      text += line.c_str ();
      if (line == kUpdateEnd) return text;
      line.clear ();
    }
  }
}

// The text between the first `open` tag and the first `close` tag after
// it, or false after logging which of the two is missing.
static bool find_element (const char *data, const char *open, const char *close, const char **start,
                          const char **end) {
  const char *opening = strstr (data, open);
  if (opening == nullptr) {
    ryx_log ("RYX", G_LOG_LEVEL_DEBUG, "parse_data", __LINE__, "Could not find tag %s", open);
    return false;
  }
  *start = opening + strlen (open);
  *end = strstr (*start, close);
  if (*end == nullptr) {
    ryx_log ("RYX", G_LOG_LEVEL_DEBUG, "parse_data", __LINE__, "Could not find closing tag %s", close);
    return false;
  }
  return true;
}

static void parse_data (RyxConfigConnectedApp *self, const char *data) {
  RyxConfigConnectedAppPrivate *priv = (RyxConfigConnectedAppPrivate *)ryx_config_connected_app_get_instance_private (self);

  if (data[0] == '\0') {
    priv->name = g_strdup (kUnknownName);
    return;
  }

  const char *start = nullptr;
  const char *end = nullptr;
  if (find_element (data, "<AppName>", "</AppName>", &start, &end)) {
    // A path names the program by its last component, for either separator.
    const char *base = start;
    for (const char *p = start; p < end; p++)
      if (*p == '\\' || *p == '/') base = p + 1;
    if (base < end) {
      priv->name = g_strndup (base, end - base);
      RYX_LOG (G_LOG_LEVEL_DEBUG, "App name: %s", priv->name);
    }
  }

  if (find_element (data, "<RenderingServer>", "</RenderingServer>", &start, &end) && start < end) {
    priv->rendering_server = g_strndup (start, end - start);
    RYX_LOG (G_LOG_LEVEL_DEBUG, "App is using Rendering Server: %s", priv->rendering_server);
  }
}

// The watch: a read of one byte that completes only when the application
// closes its connection (or sends something after its update).  The read
// holds no reference to the application, so releasing the application
// disposes it at once (cancelling the read and closing the connection); the
// read keeps its own byte and cancellable, and touches the application only
// when it was not cancelled, i.e. while the application is alive.
struct WatchRead {
  RyxConfigConnectedApp *app;
  GCancellable *cancellable;
  guint8 read_byte;
};

static void on_read_ready (GObject *source, GAsyncResult *result, gpointer user_data) {
  WatchRead *watch = static_cast<WatchRead *> (user_data);
  g_autoptr (GError) error = nullptr;
  gssize count = g_input_stream_read_finish (G_INPUT_STREAM (source), result, &error);
  bool cancelled = g_cancellable_is_cancelled (watch->cancellable) ||
                   g_error_matches (error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
  RyxConfigConnectedApp *app = watch->app;
  g_object_unref (watch->cancellable);
  g_free (watch);
  if (cancelled) return;  // being disposed
  if (error != nullptr || count == 0) {
    // The handlers may drop the last reference; keep the object for the emission.
    g_autoptr (RyxConfigConnectedApp) self = RYX_CONFIG_CONNECTED_APP (g_object_ref (app));
    g_signal_emit (self, signals[DISCONNECTED], 0);
  }
  // The application sent data: it stays listed, no longer watched.
}

static void ryx_config_connected_app_set_property (GObject *object, guint prop_id, const GValue *value,
                                                   GParamSpec *pspec) {
  RyxConfigConnectedApp *self = RYX_CONFIG_CONNECTED_APP (object);
  RyxConfigConnectedAppPrivate *priv = (RyxConfigConnectedAppPrivate *)ryx_config_connected_app_get_instance_private (self);

  switch (prop_id) {
    case PROP_CONNECTION:
      g_set_object (&priv->connection, G_SOCKET_CONNECTION (g_value_get_object (value)));
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID (object, prop_id, pspec);
  }
}

static void ryx_config_connected_app_get_property (GObject *object, guint prop_id, GValue *value, GParamSpec *pspec) {
  RyxConfigConnectedApp *self = RYX_CONFIG_CONNECTED_APP (object);
  RyxConfigConnectedAppPrivate *priv = (RyxConfigConnectedAppPrivate *)ryx_config_connected_app_get_instance_private (self);

  switch (prop_id) {
    case PROP_CONNECTION:
      g_value_set_object (value, priv->connection);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID (object, prop_id, pspec);
  }
}

static void ryx_config_connected_app_constructed (GObject *object) {
  RyxConfigConnectedApp *self = RYX_CONFIG_CONNECTED_APP (object);
  RyxConfigConnectedAppPrivate *priv = (RyxConfigConnectedAppPrivate *)ryx_config_connected_app_get_instance_private (self);

  priv->cancellable = g_cancellable_new ();
  if (priv->connection != nullptr) {
    std::string update = read_update (priv->connection);
    parse_data (self, update.c_str ());
    GInputStream *input = g_io_stream_get_input_stream (G_IO_STREAM (priv->connection));
    WatchRead *watch = g_new0 (WatchRead, 1);
    watch->app = self;
    watch->cancellable = G_CANCELLABLE (g_object_ref (priv->cancellable));
    g_input_stream_read_async (input, &watch->read_byte, 1, G_PRIORITY_DEFAULT, priv->cancellable, on_read_ready,
                               watch);
  } else {
    // Made without a connection: nothing was sent, as after an empty update.
    parse_data (self, "");
  }

  G_OBJECT_CLASS (ryx_config_connected_app_parent_class)->constructed (object);
}

static void ryx_config_connected_app_dispose (GObject *object) {
  RyxConfigConnectedApp *self = RYX_CONFIG_CONNECTED_APP (object);
  RyxConfigConnectedAppPrivate *priv = (RyxConfigConnectedAppPrivate *)ryx_config_connected_app_get_instance_private (self);

  if (priv->cancellable != nullptr) g_cancellable_cancel (priv->cancellable);
  g_clear_object (&priv->cancellable);
  g_clear_object (&priv->connection);

  G_OBJECT_CLASS (ryx_config_connected_app_parent_class)->dispose (object);
}

static void ryx_config_connected_app_finalize (GObject *object) {
  RyxConfigConnectedApp *self = RYX_CONFIG_CONNECTED_APP (object);
  RyxConfigConnectedAppPrivate *priv = (RyxConfigConnectedAppPrivate *)ryx_config_connected_app_get_instance_private (self);

  g_free (priv->name);
  g_free (priv->rendering_server);

  G_OBJECT_CLASS (ryx_config_connected_app_parent_class)->finalize (object);
}

static void ryx_config_connected_app_class_init (RyxConfigConnectedAppClass *klass) {
  GObjectClass *object_class = G_OBJECT_CLASS (klass);

  object_class->set_property = ryx_config_connected_app_set_property;
  object_class->get_property = ryx_config_connected_app_get_property;
  object_class->dispose = ryx_config_connected_app_dispose;
  object_class->finalize = ryx_config_connected_app_finalize;
  object_class->constructed = ryx_config_connected_app_constructed;

  properties[PROP_CONNECTION] =
      g_param_spec_object ("connection", "Connection", "Connection", G_TYPE_SOCKET_CONNECTION,
                           (GParamFlags)(G_PARAM_READWRITE | G_PARAM_CONSTRUCT_ONLY | G_PARAM_STATIC_STRINGS));
  g_object_class_install_properties (object_class, N_PROPS, properties);

  signals[DISCONNECTED] =
      g_signal_new ("disconnected", G_TYPE_FROM_CLASS (klass), G_SIGNAL_RUN_FIRST,
                    G_STRUCT_OFFSET (RyxConfigConnectedAppClass, disconnected), nullptr, nullptr, nullptr, G_TYPE_NONE, 0);
}

static void ryx_config_connected_app_init (RyxConfigConnectedApp *self) { (void)self; }

RyxConfigConnectedApp *ryx_config_connected_app_new (GSocketConnection *connection) {
  g_return_val_if_fail (G_IS_SOCKET_CONNECTION (connection), nullptr);
  return RYX_CONFIG_CONNECTED_APP (g_object_new (RYX_TYPE_CONFIG_CONNECTED_APP, "connection", connection, nullptr));
}

const char *ryx_config_connected_app_get_name (RyxConfigConnectedApp *app) {
  g_return_val_if_fail (RYX_IS_CONFIG_CONNECTED_APP(app), nullptr);
  RyxConfigConnectedAppPrivate *priv = (RyxConfigConnectedAppPrivate *)ryx_config_connected_app_get_instance_private (app);
  return priv->name;
}

const char *ryx_config_connected_app_get_rendering_server (RyxConfigConnectedApp *app) {
  g_return_val_if_fail (RYX_IS_CONFIG_CONNECTED_APP(app), nullptr);
  RyxConfigConnectedAppPrivate *priv = (RyxConfigConnectedAppPrivate *)ryx_config_connected_app_get_instance_private (app);
  return priv->rendering_server;
}

gboolean ryx_config_connected_app_is_blacklisted (RyxConfigConnectedApp *app) {
  g_return_val_if_fail (RYX_IS_CONFIG_CONNECTED_APP(app), TRUE);
  RyxConfigConnectedAppPrivate *priv = (RyxConfigConnectedAppPrivate *)ryx_config_connected_app_get_instance_private (app);

  if (priv->name == nullptr) return FALSE;
  for (const char *prefix : app_blacklist) {
    if (strncmp (priv->name, prefix, strlen (prefix)) == 0) {
      RYX_LOG (G_LOG_LEVEL_DEBUG, "Blacklisted: %s", priv->name);
      return TRUE;
    }
  }
  return FALSE;
}
