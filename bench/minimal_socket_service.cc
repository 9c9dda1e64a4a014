// SPDX-License-Identifier: MIT
// The yardstick of the console-port benchmark: the least a GSocketService
// can do with the same traffic.  It listens on 127.0.0.1 (port 0 by
// default), prints the port, and for each connection reads asynchronously
// until the peer closes, then closes its side.  On SIGTERM or SIGINT it
// prints how many connections ended and how many bytes they brought.
#include <gio/gio.h>
#include <glib-unix.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Totals {
  guint64 connections = 0;
  guint64 bytes = 0;
};

struct Reader {
  GSocketConnection *connection;
  Totals *totals;
  char buffer[4096];
};

void onRead(GObject *source, GAsyncResult *result, gpointer userData) {
  Reader *reader = static_cast<Reader *>(userData);
  gssize count = g_input_stream_read_finish(G_INPUT_STREAM(source), result, nullptr);
  if (count > 0) {
    reader->totals->bytes += static_cast<guint64>(count);
    g_input_stream_read_async(G_INPUT_STREAM(source), reader->buffer, sizeof reader->buffer, G_PRIORITY_DEFAULT,
                              nullptr, onRead, reader);
    return;
  }
  if (count == 0) reader->totals->connections++;
  g_io_stream_close(G_IO_STREAM(reader->connection), nullptr, nullptr);
  g_object_unref(reader->connection);
  delete reader;
}

gboolean onIncoming(GSocketService *, GSocketConnection *connection, GObject *, gpointer userData) {
  Reader *reader = new Reader{G_SOCKET_CONNECTION(g_object_ref(connection)), static_cast<Totals *>(userData), {}};
  GInputStream *input = g_io_stream_get_input_stream(G_IO_STREAM(connection));
  g_input_stream_read_async(input, reader->buffer, sizeof reader->buffer, G_PRIORITY_DEFAULT, nullptr, onRead, reader);
  return TRUE;
}

gboolean onSignal(gpointer userData) {
  g_main_loop_quit(static_cast<GMainLoop *>(userData));
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char **argv) {
  guint16 port = 0;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--help") == 0) {
      printf(
          "usage: minimal-socket-service [--port N]\n"
          "Listens on 127.0.0.1:N (0: a free port), prints \"listening on PORT\",\n"
          "reads every connection to its end and closes it; on SIGTERM prints\n"
          "\"connections C bytes B\" and exits.\n");
      return 0;
    }
    if (strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
      port = static_cast<guint16>(atoi(argv[++i]));
    } else {
      fprintf(stderr, "minimal-socket-service: unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  Totals totals;
  GSocketService *service = g_socket_service_new();
  g_socket_listener_set_backlog(G_SOCKET_LISTENER(service), 256);  // as the console port
  GInetAddress *loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
  GSocketAddress *address = g_inet_socket_address_new(loopback, port);
  GSocketAddress *bound = nullptr;
  GError *error = nullptr;
  if (!g_socket_listener_add_address(G_SOCKET_LISTENER(service), address, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP,
                                     nullptr, &bound, &error)) {
    fprintf(stderr, "minimal-socket-service: %s\n", error->message);
    return 1;
  }
  g_signal_connect(service, "incoming", G_CALLBACK(onIncoming), &totals);
  printf("listening on %u\n", g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound)));
  fflush(stdout);

  GMainLoop *loop = g_main_loop_new(nullptr, FALSE);
  g_unix_signal_add(SIGTERM, onSignal, loop);
  g_unix_signal_add(SIGINT, onSignal, loop);
  g_main_loop_run(loop);
  printf("connections %llu bytes %llu\n", static_cast<unsigned long long>(totals.connections),
         static_cast<unsigned long long>(totals.bytes));
  fflush(stdout);
  g_socket_service_stop(service);
  g_object_unref(bound);
  g_object_unref(address);
  g_object_unref(loopback);
  g_object_unref(service);
  g_main_loop_unref(loop);
  return 0;
}
