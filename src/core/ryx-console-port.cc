// SPDX-License-Identifier: MIT
// The console port: the instance's listener on 127.0.0.1, the command and
// application handshakes, and the client side of a later start.
#include <gtk/gtk.h>

#include <cstring>

#include "apps/ryx-config-connected-app.h"
#include "common/ryx_gcommon.h"
#include "common/ryx_strfunc.h"
#include "core/ryx-config-manager.h"
#include "core/ryx-console-port.h"
#include "gvc/ryx-deadline-input-stream.h"
#include "gvc/gvc-data-input-stream.h"
#include "platform/peer_user.h"

namespace {

constexpr const char kCommandHandshake[] = "RYX Command UI\n";
constexpr const char kAppHandshake[] = "RVN Dashboard Thread\n";

// A handshake and its command byte are read inside the "incoming" handler:
// a peer gets this long for both before it is dropped, so a silent or slow
// one cannot stall the instance.
constexpr guint kHandshakeDeadlineMs = 2000;
// No handshake is longer than the application's; a longer text is wrong.
constexpr gsize kLongestHandshake = sizeof kAppHandshake - 1;

// The most taken from a connection while its handshake is read.
constexpr gsize kTakenWithHandshake = 4096;

constexpr int kListenBacklog = 256;

// How long a start waits for the instance to take its command and close the
// connection.  The instance only sees the connection when its main loop comes
// round to accept it (a loaded machine has kept it busy for seconds), and a
// socket closed before then has no owner to check, so its command is lost.
constexpr guint kClientLingerSeconds = 10;

enum : guint8 { kCommandShowGui = 1, kCommandQuit = 2 };

guint16 console_port() { return (guint16)(ryx_conf_settings_get_console_port() & 0xFFFF); }

}  // namespace

struct _RyxConsolePort {
  GObject parent_instance;

  GSocketService *service;
  /* The handshake reader over a deadline stream: made with the listener,
   * aimed at each connection in turn. */
  GInputStream *console_input;
  GvcDataInputStream *console_reader;
  GList *apps; /* RyxConfigConnectedApp, one reference each, newest first */
};

G_DEFINE_FINAL_TYPE(RyxConsolePort, ryx_console_port, G_TYPE_OBJECT)

enum { SIGNAL_SHOW_GUI, SIGNAL_APPS_CHANGED, N_SIGNALS };
static guint signals[N_SIGNALS];

static gboolean listen_on_console_port(RyxConsolePort *self) {
  guint16 port = console_port();
  if (port == 0) return FALSE;

  // One reader for every handshake, aimed at each connection in turn:
  // making and releasing two stream objects per connection cost as much as
  // all the rest of reading a handshake.  Nothing passes from one
  // connection to the next: the string reader reads one byte at a time,
  // and the deadline stream drops what concerned a connection when it is
  // aimed at the next.
  if (self->console_input == nullptr) {
    self->console_input = ryx_deadline_input_stream_new(nullptr, 0);
    // A handshake usually comes in one burst with what follows it (the
    // command byte, or the application's update): one receive takes it all,
    // and what the handshake leaves goes to the application.
    ryx_deadline_input_stream_set_take_limit(RYX_DEADLINE_INPUT_STREAM(self->console_input), kTakenWithHandshake);
    self->console_reader = gvc_data_input_stream_new(self->console_input);
    g_filter_input_stream_set_close_base_stream(G_FILTER_INPUT_STREAM(self->console_reader), FALSE);
    gvc_data_input_stream_set_max_length(self->console_reader, kLongestHandshake);
  }

  // Room for many applications starting at once: the default backlog of 10
  // makes the eleventh wait a second for the system to retry its connect.
  g_socket_listener_set_backlog(G_SOCKET_LISTENER(self->service), kListenBacklog);
  GSocketAddress *address = g_inet_socket_address_new_from_string("127.0.0.1", port);
  gboolean added = g_socket_listener_add_address(G_SOCKET_LISTENER(self->service), address, G_SOCKET_TYPE_STREAM,
                                                 G_SOCKET_PROTOCOL_DEFAULT, nullptr, nullptr, nullptr);
  g_object_unref(address);
  return added;
}

namespace {

// What a command connection asked for, read before anything is done.
enum class CommandRead { kFailed, kEnded, kShowGui, kQuit, kUnknown };

CommandRead read_command(GInputStream *input) {
  guint8 command = 0;
  gsize count = 0;
  if (!g_input_stream_read_all(input, &command, 1, &count, nullptr, nullptr)) return CommandRead::kFailed;
  if (count == 0) return CommandRead::kEnded;
  if (command == kCommandShowGui) return CommandRead::kShowGui;
  if (command == kCommandQuit) return CommandRead::kQuit;
  return CommandRead::kUnknown;
}

}  // namespace

// Every line about a connection the console port served names "on_incoming".
#define LOG_INCOMING(level, ...) ryx_log("RYX", (level), "on_incoming", __LINE__, __VA_ARGS__)

static void handle_command(RyxConsolePort *self, CommandRead command) {
  switch (command) {
    case CommandRead::kFailed: LOG_INCOMING(G_LOG_LEVEL_WARNING, "Wrong read on listen socket"); break;
    case CommandRead::kEnded: LOG_INCOMING(G_LOG_LEVEL_DEBUG, "Failed to read config manager command"); break;
    case CommandRead::kShowGui:
      LOG_INCOMING(G_LOG_LEVEL_DEBUG, "Show GUI");
      g_signal_emit(self, signals[SIGNAL_SHOW_GUI], 0);
      break;
    case CommandRead::kQuit:
      LOG_INCOMING(G_LOG_LEVEL_DEBUG, "Quit application");
      if (gtk_main_level() > 0) gtk_main_quit();
      break;
    case CommandRead::kUnknown: LOG_INCOMING(G_LOG_LEVEL_WARNING, "Command not supported"); break;
  }
}

namespace {

ryx::platform::Endpoint endpoint_of(GSocketAddress *address) {
  ryx::platform::Endpoint endpoint;
  if (address == nullptr || !G_IS_INET_SOCKET_ADDRESS(address)) return endpoint;
  GInetSocketAddress *inet = G_INET_SOCKET_ADDRESS(address);
  GInetAddress *host = g_inet_socket_address_get_address(inet);
  if (g_inet_address_get_family(host) == G_SOCKET_FAMILY_IPV4) {
    const guint8 *bytes = g_inet_address_to_bytes(host);
    endpoint.address = (guint32)bytes[0] << 24 | (guint32)bytes[1] << 16 | (guint32)bytes[2] << 8 | bytes[3];
  }
  endpoint.port = g_inet_socket_address_get_port(inet);
  return endpoint;
}

// Loopback is shared by every user of the machine: only the instance's own
// user may command it or announce applications to it.  When the owner
// cannot be told, nobody is served, rather than everybody.
bool from_own_user(GSocketConnection *connection) {
  g_autoptr(GSocketAddress) local = g_socket_connection_get_local_address(connection, nullptr);
  g_autoptr(GSocketAddress) remote = g_socket_connection_get_remote_address(connection, nullptr);
  const ryx::platform::Endpoint peer_end = endpoint_of(remote);
  const ryx::platform::PeerUser peer = ryx::platform::connectionPeerUser(endpoint_of(local), peer_end);
  switch (peer.kind) {
    case ryx::platform::PeerUser::Kind::kSame: return true;
    case ryx::platform::PeerUser::Kind::kOther:
      RYX_LOG(G_LOG_LEVEL_WARNING, "Console connection from %s (port %u) closed: it belongs to another user",
              peer.user.c_str(), peer_end.port);
      return false;
    case ryx::platform::PeerUser::Kind::kNone:
      return false;  // a peer that closed at once: nothing to say, as for an empty handshake
    default: {
      static bool told = false;
      if (!told)
        RYX_LOG(G_LOG_LEVEL_WARNING,
                "Cannot tell which user a console connection comes from (%s); "
                "such connections are closed",
                peer.reason.c_str());
      told = true;
      return false;
    }
  }
}

}  // namespace

static void accept_connected_app(RyxConsolePort *self, GSocketConnection *connection, GBytes *received);

static gboolean on_incoming(GSocketService *service, GSocketConnection *connection, GObject *source,
                            gpointer user_data) {
  (void)service;
  (void)source;
  RyxConsolePort *self = RYX_CONSOLE_PORT(user_data);
  g_return_val_if_fail(self->console_reader != nullptr, TRUE);
  if (!from_own_user(connection)) {
    g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
    return TRUE;
  }

  // The reader is let go of the connection before anything is done with
  // what it read, so whatever runs then (even a nested main loop) finds it
  // free for the next connection.
  RyxDeadlineInputStream *input = RYX_DEADLINE_INPUT_STREAM(self->console_input);
  ryx_deadline_input_stream_set_connection(input, connection, kHandshakeDeadlineMs);
  g_autoptr(GError) error = nullptr;
  g_autofree char *handshake =
      gvc_data_input_stream_read_string(self->console_reader, nullptr, nullptr, nullptr, &error);
  const bool is_app = handshake != nullptr && strcmp(handshake, kAppHandshake) == 0;
  const bool is_command = handshake != nullptr && strcmp(handshake, kCommandHandshake) == 0;
  const CommandRead command = is_command ? read_command(self->console_input) : CommandRead::kFailed;
  g_autoptr(GBytes) rest = is_app ? ryx_deadline_input_stream_take_unread(input) : nullptr;
  ryx_deadline_input_stream_set_connection(input, nullptr, 0);

  if (handshake == nullptr) {
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_MESSAGE_TOO_LARGE))
      LOG_INCOMING(G_LOG_LEVEL_WARNING, "WRONG HANDSHAKE");
    else if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT))
      LOG_INCOMING(G_LOG_LEVEL_WARNING, "Wrong read on listen socket");
    return TRUE;  // a peer that closed at once: nothing to say
  }
  if (is_app) {
    // The update follows the handshake: what came with it, then the connection.
    accept_connected_app(self, connection, rest);
  } else if (is_command) {
    handle_command(self, command);
  } else {
    LOG_INCOMING(G_LOG_LEVEL_WARNING, "WRONG HANDSHAKE");
  }
  return TRUE;
}

static gboolean send_all(GSocket *socket, const void *data, gsize size) {
  const char *bytes = static_cast<const char *>(data);
  while (size > 0) {
    gssize sent = g_socket_send(socket, bytes, size, nullptr, nullptr);
    if (sent <= 0) return FALSE;
    bytes += sent;
    size -= (gsize)sent;
  }
  return TRUE;
}

static gboolean connect_to_ryxconfig(guint32 client_commands) {
  guint16 port = console_port();
  if (port == 0) return FALSE;
  // Another user's program on the port is no instance of ours: nothing is
  // handed to it, and this start cannot become the instance either.
  const ryx::platform::PeerUser listener = ryx::platform::listenerUser(port);
  if (listener.kind == ryx::platform::PeerUser::Kind::kOther) {
    g_printerr(
        "ryxconfig: the console port %u is held by another user's program (%s); give each session its own "
        "console_port (see README, \"Many users on one server\")\n",
        port, listener.user.c_str());
    return TRUE;
  }
  if (listener.kind == ryx::platform::PeerUser::Kind::kUnknown)
    RYX_LOG(G_LOG_LEVEL_DEBUG, "Cannot tell who holds the console port (%s)", listener.reason.c_str());
  g_autoptr(GSocketAddress) address = g_inet_socket_address_new_from_string("127.0.0.1", port);
  // A bare socket rather than a GSocketClient: the instance is on this
  // machine, so no proxy lookup (and none of the I/O modules it loads) is
  // wanted in a start that only hands over a byte.
  g_autoptr(GSocket) socket =
      g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_DEFAULT, nullptr);
  if (address == nullptr || socket == nullptr) return FALSE;
  g_socket_set_timeout(socket, 5);  // an instance that accepts and never reads cannot hold this start
  if (!g_socket_connect(socket, address, nullptr, nullptr)) return FALSE;

  gboolean result = TRUE;
  guint8 command = 0;
  switch (client_commands) {
    case RYX_CONFIG_CLIENT_COMMAND_SHOW_GUI:
      RYX_LOG(G_LOG_LEVEL_DEBUG, "Client: show gui");
      command = kCommandShowGui;
      break;
    case RYX_CONFIG_CLIENT_COMMAND_QUIT:
      RYX_LOG(G_LOG_LEVEL_DEBUG, "Client: quit");
      command = kCommandQuit;
      break;
    case RYX_CONFIG_CLIENT_COMMAND_NONE: RYX_LOG(G_LOG_LEVEL_DEBUG, "Client: do nothing"); break;
    default: RYX_LOG(G_LOG_LEVEL_WARNING, "Client: unknown command"); break;
  }
  if (command != 0) {
    // The handshake goes with its zero byte.
    result = send_all(socket, kCommandHandshake, sizeof kCommandHandshake) && send_all(socket, &command, 1);
    // Held open until the instance has read the command and closed its end:
    // it asks who owns this socket, and a closed one has no owner.
    if (result && g_socket_shutdown(socket, FALSE, TRUE, nullptr)) {
      g_socket_set_timeout(socket, kClientLingerSeconds);
      char rest[64];
      g_autoptr(GError) error = nullptr;
      while (g_socket_receive(socket, rest, sizeof rest, nullptr, &error) > 0) {
      }
      if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT))
        g_printerr("ryxconfig: the running instance did not take the command within %u s\n", kClientLingerSeconds);
    }
  }
  g_socket_close(socket, nullptr);
  return result;
}

static void on_app_disconnected(RyxConfigConnectedApp *app, gpointer user_data) {
  RyxConsolePort *self = RYX_CONSOLE_PORT(user_data);
  GList *link = g_list_find(self->apps, app);
  if (link == nullptr) return;
  self->apps = g_list_delete_link(self->apps, link);
  g_signal_handlers_disconnect_by_data(app, self);
  g_object_unref(app);
  g_signal_emit(self, signals[SIGNAL_APPS_CHANGED], 0, FALSE);
}

static void accept_connected_app(RyxConsolePort *self, GSocketConnection *connection, GBytes *received) {
  RyxConfigConnectedApp *app = ryx_config_connected_app_new_with_received(connection, received);
  if (app == nullptr) return;
  if (ryx_config_connected_app_is_blacklisted(app)) {
    g_object_unref(app);
    return;
  }
  self->apps = g_list_prepend(self->apps, app);
  const char *name = ryx_config_connected_app_get_name(app);
  LOG_INCOMING(G_LOG_LEVEL_DEBUG, "A new connected application: %s", name != nullptr ? name : "(no name)");
  g_signal_connect(app, "disconnected", G_CALLBACK(on_app_disconnected), self);
  g_signal_emit(self, signals[SIGNAL_APPS_CHANGED], 0, TRUE);
}

static void ryx_console_port_dispose(GObject *object) {
  RyxConsolePort *self = RYX_CONSOLE_PORT(object);
  for (GList *l = self->apps; l != nullptr; l = l->next) g_signal_handlers_disconnect_by_data(l->data, self);
  g_list_free_full(g_steal_pointer(&self->apps), g_object_unref);
  if (self->service != nullptr) {
    g_socket_service_stop(self->service);
    g_socket_listener_close(G_SOCKET_LISTENER(self->service));
  }
  g_clear_object(&self->service);
  g_clear_object(&self->console_reader);
  g_clear_object(&self->console_input);
  G_OBJECT_CLASS(ryx_console_port_parent_class)->dispose(object);
}

static void ryx_console_port_class_init(RyxConsolePortClass *klass) {
  G_OBJECT_CLASS(klass)->dispose = ryx_console_port_dispose;
  signals[SIGNAL_SHOW_GUI] = g_signal_new("show-gui", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0, nullptr, nullptr,
                                          nullptr, G_TYPE_NONE, 0);
  signals[SIGNAL_APPS_CHANGED] = g_signal_new("apps-changed", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0, nullptr,
                                              nullptr, nullptr, G_TYPE_NONE, 1, G_TYPE_BOOLEAN);
}

static void ryx_console_port_init(RyxConsolePort *self) { (void)self; }

RyxConsolePort *ryx_console_port_new(void) { return RYX_CONSOLE_PORT(g_object_new(RYX_TYPE_CONSOLE_PORT, nullptr)); }

gboolean ryx_console_port_listen(RyxConsolePort *port) {
  g_return_val_if_fail(RYX_IS_CONSOLE_PORT(port), FALSE);
  g_return_val_if_fail(port->service == nullptr, FALSE);
  port->service = g_socket_service_new();
  g_signal_connect(port->service, "incoming", G_CALLBACK(on_incoming), port);
  return listen_on_console_port(port);
}

GList *ryx_console_port_get_apps(RyxConsolePort *port) {
  g_return_val_if_fail(RYX_IS_CONSOLE_PORT(port), nullptr);
  return port->apps;
}

gboolean ryx_console_port_hand_over(guint32 client_command) { return connect_to_ryxconfig(client_command); }
