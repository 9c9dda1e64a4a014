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
  GBytes *received;  // the start of the update, taken with the handshake; construction only
  GSource *watch;    // owned; NULL once the watch has ended
  char *name;
  char *rendering_server;
} RyxConfigConnectedAppPrivate;

G_DEFINE_TYPE_WITH_PRIVATE(RyxConfigConnectedApp, ryx_config_connected_app, G_TYPE_OBJECT)

enum { PROP_0, PROP_CONNECTION, PROP_RECEIVED, N_PROPS };
static GParamSpec *properties[N_PROPS];

enum { DISCONNECTED, N_SIGNALS };
static guint signals[N_SIGNALS];

static RyxConfigConnectedAppPrivate *private_of(RyxConfigConnectedApp *app) {
  return static_cast<RyxConfigConnectedAppPrivate *>(ryx_config_connected_app_get_instance_private(app));
}

// Adds received bytes to the update: complete lines go to `text` (without
// their line feeds), the last unfinished one stays in `line`.  True once the
// line "</Update>" was added; what follows it in `data` is dropped.
static bool add_update_bytes(std::string *text, std::string *line, const char *data, gsize size) {
  const char *rest = data;
  const char *end = data + size;
  while (const char *feed = static_cast<const char *>(memchr(rest, '\n', end - rest))) {
    line->append(rest, feed - rest);
    rest = feed + 1;
    // Lines are texts: like a C string, a line ends at a zero byte.
    text->append(line->c_str(), strnlen(line->data(), line->size()));
    if (*line == kUpdateEnd) return true;
    line->clear();
  }
  line->append(rest, end - rest);
  return false;
}

// Reads lines (each ended by a line feed alone; a carriage return stays in
// the line) until one that is exactly "</Update>", the end of the stream, an
// error, or one of the bounds above.  Returns the lines joined without their
// line feeds.  A last line cut off by the end of the stream still counts; one
// cut off by an error or a bound does not.  Reads in chunks as a buffered
// line reader would, so bytes sent in the same burst after "</Update>" are
// dropped with it.  `received` (may be NULL) is what the console port took
// from the connection with the handshake: the start of the update.
static std::string read_update(GSocketConnection *connection, GBytes *received) {
  GSocket *socket = g_socket_connection_get_socket(connection);
  const gint64 deadline = g_get_monotonic_time() + kUpdateDeadlineUs;
  std::string text;
  std::string line;
  gsize total = 0;
  if (received != nullptr) {
    gsize size = 0;
    const char *data = static_cast<const char *>(g_bytes_get_data(received, &size));
    total = MIN(size, kUpdateMaxBytes);
    if (add_update_bytes(&text, &line, data, total)) return text;
  }
  char chunk[4096];

  for (;;) {
    gint64 left = deadline - g_get_monotonic_time();
    if (left <= 0) {
      RYX_LOG(G_LOG_LEVEL_WARNING, "Stopped reading the update after %d seconds",
              (int)(kUpdateDeadlineUs / G_USEC_PER_SEC));
      return text;
    }
    gsize room = kUpdateMaxBytes - total;
    if (room == 0) {
      RYX_LOG(G_LOG_LEVEL_WARNING, "Stopped reading the update at %u bytes", (unsigned)kUpdateMaxBytes);
      return text;
    }
    g_autoptr(GError) error = nullptr;
    // Receive first and wait only when nothing is there: an update usually
    // arrives with its handshake.
    gssize count = g_socket_receive_with_blocking(socket, chunk, MIN(sizeof chunk, room), FALSE, nullptr, &error);
    if (count < 0) {
      if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK)) return text;
      g_clear_error(&error);
      if (!g_socket_condition_timed_wait(socket, G_IO_IN, left, nullptr, &error) &&
          !g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT))  // a time-out is reported above
        return text;
      continue;
    }
    if (count == 0) {
      text.append(line.c_str(), strnlen(line.data(), line.size()));
      return text;
    }
    total += (gsize)count;
    if (add_update_bytes(&text, &line, chunk, (gsize)count)) return text;
  }
}

// The text between the first `open` tag and the first `close` tag after
// it, or false after logging which of the two is missing, in the name of
// the calling function.
static bool find_element(const char *function, const char *data, const char *open, const char *close,
                         const char **start, const char **end) {
  const char *opening = strstr(data, open);
  if (opening == nullptr) {
    ryx_log("RYX", G_LOG_LEVEL_DEBUG, function, __LINE__, "Could not find tag %s", open);
    return false;
  }
  *start = opening + strlen(open);
  *end = strstr(*start, close);
  if (*end == nullptr) {
    ryx_log("RYX", G_LOG_LEVEL_DEBUG, function, __LINE__, "Could not find closing tag %s", close);
    return false;
  }
  return true;
}

static void parse_data(RyxConfigConnectedApp *self, const char *data) {
  RyxConfigConnectedAppPrivate *priv = private_of(self);

  if (data[0] == '\0') {
    priv->name = g_strdup(kUnknownName);
    return;
  }

  const char *start = nullptr;
  const char *end = nullptr;
  if (find_element(G_STRFUNC, data, "<AppName>", "</AppName>", &start, &end)) {
    // A path names the program by its last component, for either separator.
    const char *base = start;
    for (const char *p = start; p < end; p++)
      if (*p == '\\' || *p == '/') base = p + 1;
    if (base < end) {
      priv->name = g_strndup(base, end - base);
      RYX_LOG(G_LOG_LEVEL_DEBUG, "App name: %s", priv->name);
    }
  }

  if (find_element(G_STRFUNC, data, "<RenderingServer>", "</RenderingServer>", &start, &end) && start < end) {
    priv->rendering_server = g_strndup(start, end - start);
    RYX_LOG(G_LOG_LEVEL_DEBUG, "App is using Rendering Server: %s", priv->rendering_server);
  }
}

// The watch: the end of the application's connection (or anything it sends
// after its update) ends it.  It is a source that holds no reference to the
// application: dispose destroys it, so it never fires for an application
// that is gone, and releasing the application closes its connection at once.
//
// What the connection holds right after the update decides which source:
// an application that is still there gets a source on its socket; one that
// already closed (or already sent more) is handled by an idle source, so the
// common short-lived connection costs no socket source at all.

// The result of the one-byte read that ended the watch: the application
// closed (0) or failed (< 0) is "disconnected"; sent data (> 0) keeps it
// listed, no longer watched.
static gboolean end_watch(RyxConfigConnectedApp *app, gssize count) {
  RyxConfigConnectedAppPrivate *priv = private_of(app);
  // The source is gone once its callback returns.
  g_source_unref(g_steal_pointer(&priv->watch));
  if (count <= 0) {
    // The handlers may drop the last reference; keep the object for the emission.
    g_autoptr(RyxConfigConnectedApp) self = RYX_CONFIG_CONNECTED_APP(g_object_ref(app));
    g_signal_emit(self, signals[DISCONNECTED], 0);
  }
  return G_SOURCE_REMOVE;
}

// The watch reads the socket itself: the connection's input stream would
// be one more object to make for every application.
static gssize read_watch_byte(RyxConfigConnectedApp *app, GError **error) {
  RyxConfigConnectedAppPrivate *priv = private_of(app);
  guint8 byte = 0;
  return g_socket_receive_with_blocking(g_socket_connection_get_socket(priv->connection), (gchar *)&byte, 1, FALSE,
                                        nullptr, error);
}

static gboolean on_connection_readable(GSocket *, GIOCondition, gpointer user_data) {
  RyxConfigConnectedApp *app = RYX_CONFIG_CONNECTED_APP(user_data);
  g_autoptr(GError) error = nullptr;
  gssize count = read_watch_byte(app, &error);
  if (count < 0 && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK)) return G_SOURCE_CONTINUE;
  return end_watch(app, count);
}

struct EndedWatch {
  RyxConfigConnectedApp *app;
  gssize count;
};

static gboolean on_watch_ended(gpointer user_data) {
  auto *ended = static_cast<EndedWatch *>(user_data);
  return end_watch(ended->app, ended->count);
}

static void start_watch(RyxConfigConnectedApp *self) {
  RyxConfigConnectedAppPrivate *priv = private_of(self);
  g_autoptr(GError) error = nullptr;
  gssize count = read_watch_byte(self, &error);
  if (count < 0 && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK)) {
    // G_IO_IN also reports the end of the stream and errors (as G_IO_HUP
    // and G_IO_ERR, which a socket source always watches).
    priv->watch = g_socket_create_source(g_socket_connection_get_socket(priv->connection), G_IO_IN, nullptr);
    g_source_set_callback(priv->watch, G_SOURCE_FUNC(on_connection_readable), self, nullptr);
  } else {
    // Reported from the main loop, as a later end would be: whoever made
    // the application connects its handlers first.  At the watch's own
    // priority, the default: an idle source's lower one would wait behind
    // every connection still to be accepted, so under a stream of them no
    // application would leave until the stream ran dry.
    priv->watch = g_idle_source_new();
    g_source_set_priority(priv->watch, G_PRIORITY_DEFAULT);
    EndedWatch *ended = g_new(EndedWatch, 1);
    *ended = EndedWatch{self, count};
    g_source_set_callback(priv->watch, on_watch_ended, ended, g_free);
  }
  g_source_attach(priv->watch, nullptr);
}

static void ryx_config_connected_app_set_property(GObject *object, guint prop_id, const GValue *value,
                                                  GParamSpec *pspec) {
  RyxConfigConnectedApp *self = RYX_CONFIG_CONNECTED_APP(object);
  RyxConfigConnectedAppPrivate *priv = private_of(self);

  switch (prop_id) {
    case PROP_CONNECTION: g_set_object(&priv->connection, G_SOCKET_CONNECTION(g_value_get_object(value))); break;
    case PROP_RECEIVED:
      g_clear_pointer(&priv->received, g_bytes_unref);
      priv->received = static_cast<GBytes *>(g_value_dup_boxed(value));
      break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
  }
}

static void ryx_config_connected_app_get_property(GObject *object, guint prop_id, GValue *value, GParamSpec *pspec) {
  RyxConfigConnectedApp *self = RYX_CONFIG_CONNECTED_APP(object);
  RyxConfigConnectedAppPrivate *priv = private_of(self);

  switch (prop_id) {
    case PROP_CONNECTION: g_value_set_object(value, priv->connection); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
  }
}

static void ryx_config_connected_app_constructed(GObject *object) {
  RyxConfigConnectedApp *self = RYX_CONFIG_CONNECTED_APP(object);
  RyxConfigConnectedAppPrivate *priv = private_of(self);

  if (priv->connection != nullptr) {
    std::string update = read_update(priv->connection, priv->received);
    g_clear_pointer(&priv->received, g_bytes_unref);
    parse_data(self, update.c_str());
    start_watch(self);
  } else {
    // Made without a connection: nothing was sent, as after an empty update.
    parse_data(self, "");
  }

  G_OBJECT_CLASS(ryx_config_connected_app_parent_class)->constructed(object);
}

static void ryx_config_connected_app_dispose(GObject *object) {
  RyxConfigConnectedApp *self = RYX_CONFIG_CONNECTED_APP(object);
  RyxConfigConnectedAppPrivate *priv = private_of(self);

  if (priv->watch != nullptr) g_source_destroy(priv->watch);
  g_clear_pointer(&priv->watch, g_source_unref);
  g_clear_object(&priv->connection);
  g_clear_pointer(&priv->received, g_bytes_unref);

  G_OBJECT_CLASS(ryx_config_connected_app_parent_class)->dispose(object);
}

static void ryx_config_connected_app_finalize(GObject *object) {
  RyxConfigConnectedApp *self = RYX_CONFIG_CONNECTED_APP(object);
  RyxConfigConnectedAppPrivate *priv = private_of(self);

  g_free(priv->name);
  g_free(priv->rendering_server);

  G_OBJECT_CLASS(ryx_config_connected_app_parent_class)->finalize(object);
}

static void ryx_config_connected_app_class_init(RyxConfigConnectedAppClass *klass) {
  GObjectClass *object_class = G_OBJECT_CLASS(klass);

  object_class->set_property = ryx_config_connected_app_set_property;
  object_class->get_property = ryx_config_connected_app_get_property;
  object_class->dispose = ryx_config_connected_app_dispose;
  object_class->finalize = ryx_config_connected_app_finalize;
  object_class->constructed = ryx_config_connected_app_constructed;

  properties[PROP_CONNECTION] =
      g_param_spec_object("connection", "Connection", "Connection", G_TYPE_SOCKET_CONNECTION,
                          (GParamFlags)(G_PARAM_READWRITE | G_PARAM_CONSTRUCT_ONLY | G_PARAM_STATIC_STRINGS));
  properties[PROP_RECEIVED] = g_param_spec_boxed(
      "received", "Received", "The start of the update, already received from the connection", G_TYPE_BYTES,
      (GParamFlags)(G_PARAM_WRITABLE | G_PARAM_CONSTRUCT_ONLY | G_PARAM_STATIC_STRINGS));
  g_object_class_install_properties(object_class, N_PROPS, properties);

  signals[DISCONNECTED] = g_signal_new("disconnected", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_FIRST,
                                       G_STRUCT_OFFSET(RyxConfigConnectedAppClass, disconnected), nullptr, nullptr,
                                       nullptr, G_TYPE_NONE, 0);
}

static void ryx_config_connected_app_init(RyxConfigConnectedApp *self) { (void)self; }

RyxConfigConnectedApp *ryx_config_connected_app_new(GSocketConnection *connection) {
  g_return_val_if_fail(G_IS_SOCKET_CONNECTION(connection), nullptr);
  return RYX_CONFIG_CONNECTED_APP(g_object_new(RYX_TYPE_CONFIG_CONNECTED_APP, "connection", connection, nullptr));
}

RyxConfigConnectedApp *ryx_config_connected_app_new_with_received(GSocketConnection *connection, GBytes *received) {
  g_return_val_if_fail(G_IS_SOCKET_CONNECTION(connection), nullptr);
  if (received == nullptr) return ryx_config_connected_app_new(connection);
  return RYX_CONFIG_CONNECTED_APP(
      g_object_new(RYX_TYPE_CONFIG_CONNECTED_APP, "connection", connection, "received", received, nullptr));
}

const char *ryx_config_connected_app_get_name(RyxConfigConnectedApp *app) {
  g_return_val_if_fail(RYX_IS_CONFIG_CONNECTED_APP(app), nullptr);
  RyxConfigConnectedAppPrivate *priv = private_of(app);
  return priv->name;
}

const char *ryx_config_connected_app_get_rendering_server(RyxConfigConnectedApp *app) {
  g_return_val_if_fail(RYX_IS_CONFIG_CONNECTED_APP(app), nullptr);
  RyxConfigConnectedAppPrivate *priv = private_of(app);
  return priv->rendering_server;
}

gboolean ryx_config_connected_app_is_blacklisted(RyxConfigConnectedApp *app) {
  g_return_val_if_fail(RYX_IS_CONFIG_CONNECTED_APP(app), TRUE);
  RyxConfigConnectedAppPrivate *priv = private_of(app);

  if (priv->name == nullptr) return FALSE;
  for (const char *prefix : app_blacklist) {
    if (strncmp(priv->name, prefix, strlen(prefix)) == 0) {
      RYX_LOG(G_LOG_LEVEL_DEBUG, "Blacklisted: %s", priv->name);
      return TRUE;
    }
  }
  return FALSE;
}
