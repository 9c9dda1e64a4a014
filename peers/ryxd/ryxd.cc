// SPDX-License-Identifier: MIT
// ryxd: a stand-in for the session daemon.  It listens on loopback, writes
// its port and cookie to the port cache file, checks the variant flag byte
// and the cookie of each connection, and answers "backend-ids",
// "is-using-desktop-capture" and "connection-info" with the values of its
// command line, or misbehaves on request.  See --help.
#include <gio/gio.h>
#include <glib-unix.h>
#include <glib/gstdio.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/random.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "gvc/gvc-bytes-stream.h"

namespace {

// A client that stops talking is dropped after this long.
constexpr guint kClientTimeoutSeconds = 30;

const char kSummary[] =
    "Listens on 127.0.0.1 (port N, or one the system chooses), writes the port\n"
    "cache file USER_DATA_DIR/Vezo/ryx/ryxdport.HOST.WINSESSION (group \"ryxd\",\n"
    "keys \"port\" and \"cookie\"; XDG_DATA_HOME moves it), then prints one line\n"
    "\"ryxd listening on 127.0.0.1:PORT\".  Each connection sends the byte 0x01 and\n"
    "the cookie (\"s\"), then requests (\"(sv)\": name, int32 0): \"backend-ids\" is\n"
    "answered \"as\", \"is-using-desktop-capture\" \"b\", \"connection-info\"\n"
    "\"(sissv)\" (payload, port, conference id, conference key, the key as \"ay\").\n"
    "A wrong flag byte, cookie or request closes the connection.  SIGTERM or\n"
    "SIGINT ends it and removes the port file.";

const char kDescription[] =
    "Defaults: a random cookie, back-end id \"b1\", no desktop capture, payload\n"
    "\"payload\", port 7300, conference id \"conf-id\", key \"conf-key\", encryption\n"
    "key 000102030405060708090a0b0c0d0e0f.\n"
    "\n"
    "Faults (--fault):\n"
    "  wrong-cookie                 the cookie in the port file is not accepted: the\n"
    "                               connection is closed after the first request\n"
    "  drop-before-backend-ids      reads the \"backend-ids\" request, closes\n"
    "  drop-before-desktop-capture  reads the \"is-using-desktop-capture\" request, closes\n"
    "  drop-before-connection-info  sends the back-end ids and the desktop capture answer\n"
    "                               at once and closes before \"connection-info\" is\n"
    "                               asked, so writing that request fails\n"
    "  wrong-type                   answers \"connection-info\" as \"(sissay)\"\n"
    "  silent                       reads everything, answers nothing";

struct Config {
  char *cookie = nullptr;    // what the port file says
  char *expected = nullptr;  // what the daemon accepts
  char **backend_ids = nullptr;
  gboolean desktop_capture = FALSE;
  char *payload = nullptr;
  gint port = 7300;
  char *conference_id = nullptr;
  char *conference_key = nullptr;
  GBytes *key = nullptr;
  std::string fault;
};

Config config;

bool parse_hex(const char *text, GBytes **out) {
  size_t length = strlen(text);
  if (length % 2 != 0) return false;
  GByteArray *bytes = g_byte_array_new();
  for (size_t i = 0; i < length; i += 2) {
    int high = g_ascii_xdigit_value(text[i]), low = g_ascii_xdigit_value(text[i + 1]);
    if (high < 0 || low < 0) {
      g_byte_array_unref(bytes);
      return false;
    }
    guint8 byte = static_cast<guint8>(high << 4 | low);
    g_byte_array_append(bytes, &byte, 1);
  }
  *out = g_byte_array_free_to_bytes(bytes);
  return true;
}

char *random_cookie() {
  guint8 raw[16];
  if (getrandom(raw, sizeof raw, 0) != static_cast<ssize_t>(sizeof raw)) {
    for (guint8 &b : raw) b = static_cast<guint8>(g_random_int());
  }
  GString *text = g_string_new(nullptr);
  for (guint8 b : raw) g_string_append_printf(text, "%02x", b);
  return g_string_free(text, FALSE);
}

bool send_value(GvcBytesOutputStream *out, GVariant *value) {
  g_autoptr(GVariant) owned = g_variant_ref_sink(value);
  g_autoptr(GError) error = nullptr;
  if (!gvc_bytes_output_stream_put_variant(out, owned, nullptr, &error)) {
    g_printerr("ryxd: %s\n", error->message);
    return false;
  }
  return true;
}

GVariant *backend_ids_reply() { return g_variant_new_strv(config.backend_ids, -1); }

GVariant *connection_info_reply() {
  gsize size = 0;
  gconstpointer data = g_bytes_get_data(config.key, &size);
  GVariant *key = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, data, size, 1);
  if (config.fault == "wrong-type")
    return g_variant_new("(siss@ay)", config.payload, config.port, config.conference_id, config.conference_key, key);
  return g_variant_new("(sissv)", config.payload, config.port, config.conference_id, config.conference_key, key);
}

void drain(GInputStream *in) {
  char buffer[4096];
  while (g_input_stream_read(in, buffer, sizeof buffer, nullptr, nullptr) > 0) {
  }
}

// One connection, on a thread of the service's; returning closes it.
gboolean on_run(GThreadedSocketService *, GSocketConnection *connection, GObject *, gpointer) {
  GSocket *socket = g_socket_connection_get_socket(connection);
  g_socket_set_timeout(socket, kClientTimeoutSeconds);
  GInputStream *base_in = g_io_stream_get_input_stream(G_IO_STREAM(connection));
  GOutputStream *base_out = g_io_stream_get_output_stream(G_IO_STREAM(connection));

  if (config.fault == "silent") {
    drain(base_in);
    return TRUE;
  }
  guint8 flag = 0;
  gsize got = 0;
  if (!g_input_stream_read_all(base_in, &flag, 1, &got, nullptr, nullptr) || got != 1 || flag != 0x01) return TRUE;

  g_autoptr(GvcBytesInputStream) in = gvc_bytes_input_stream_new(base_in);
  g_autoptr(GvcBytesOutputStream) out = gvc_bytes_output_stream_new(base_out);
  g_filter_input_stream_set_close_base_stream(G_FILTER_INPUT_STREAM(in), FALSE);
  g_filter_output_stream_set_close_base_stream(G_FILTER_OUTPUT_STREAM(out), FALSE);

  g_autoptr(GVariant) cookie = gvc_bytes_input_stream_read_variant(in, "s", nullptr, nullptr);
  if (cookie == nullptr) return TRUE;
  if (g_strcmp0(g_variant_get_string(cookie, nullptr), config.expected) != 0) {
    // Read what the client sends next before closing, so the close is a
    // plain end of stream and not a reset over unread bytes.
    g_autoptr(GVariant) next = gvc_bytes_input_stream_read_variant(in, "(sv)", nullptr, nullptr);
    return TRUE;
  }

  for (;;) {
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) request = gvc_bytes_input_stream_read_variant(in, "(sv)", nullptr, &error);
    if (request == nullptr) return TRUE;
    const char *name = nullptr;
    g_autoptr(GVariant) argument = nullptr;
    g_variant_get(request, "(&sv)", &name, &argument);
    if (!g_variant_is_of_type(argument, G_VARIANT_TYPE_INT32)) return TRUE;

    if (g_str_equal(name, "backend-ids")) {
      if (config.fault == "drop-before-backend-ids") return TRUE;
      if (config.fault == "drop-before-connection-info") {
        // Both answers leave only when the socket closes: the data and the
        // end of stream go out together, so the client's next request
        // meets a closed socket, is answered with a reset, and the request
        // after that ("connection-info") cannot be written.
        int one = 1;
        setsockopt(g_socket_get_fd(socket), IPPROTO_TCP, TCP_CORK, &one, sizeof one);
        send_value(out, backend_ids_reply());
        send_value(out, g_variant_new_boolean(config.desktop_capture));
        g_socket_close(socket, nullptr);
        return TRUE;
      }
      if (!send_value(out, backend_ids_reply())) return TRUE;
    } else if (g_str_equal(name, "is-using-desktop-capture")) {
      if (config.fault == "drop-before-desktop-capture") return TRUE;
      if (!send_value(out, g_variant_new_boolean(config.desktop_capture))) return TRUE;
    } else if (g_str_equal(name, "connection-info")) {
      if (!send_value(out, connection_info_reply())) return TRUE;
    } else {
      g_printerr("ryxd: unknown request \"%s\"\n", name);
      return TRUE;
    }
  }
}

gboolean on_signal(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop *>(loop));
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char **argv) {
  gint listen_port = 0;
  g_autofree char *cookie = nullptr, *payload = nullptr, *conference_id = nullptr, *conference_key = nullptr;
  g_autofree char *key = nullptr, *fault = nullptr;
  g_auto(GStrv) backend_ids = nullptr;
  gboolean desktop_capture = FALSE;
  gint port = 7300;
  GOptionEntry entries[] = {
      {"listen-port", 0, 0, G_OPTION_ARG_INT, &listen_port, "Listen on port N (default: chosen by the system)", "N"},
      {"cookie", 0, 0, G_OPTION_ARG_STRING, &cookie, "The access cookie (default: random)", "TEXT"},
      {"backend-id", 0, 0, G_OPTION_ARG_STRING_ARRAY, &backend_ids, "A back-end id (repeatable; default b1)", "ID"},
      {"desktop-capture", 0, 0, G_OPTION_ARG_NONE, &desktop_capture, "Report desktop capture in use", nullptr},
      {"payload", 0, 0, G_OPTION_ARG_STRING, &payload, "The payload text", "TEXT"},
      {"port", 0, 0, G_OPTION_ARG_INT, &port, "The port of the connection information", "N"},
      {"conference-id", 0, 0, G_OPTION_ARG_STRING, &conference_id, "The conference id", "TEXT"},
      {"conference-key", 0, 0, G_OPTION_ARG_STRING, &conference_key, "The conference key", "TEXT"},
      {"encryption-key", 0, 0, G_OPTION_ARG_STRING, &key, "The encryption key bytes", "HEX"},
      {"fault", 0, 0, G_OPTION_ARG_STRING, &fault, "Misbehave (see below)", "NAME"},
      {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
  };
  g_autoptr(GOptionContext) context = g_option_context_new("- stand-in session daemon");
  g_option_context_set_summary(context, kSummary);
  g_option_context_set_description(context, kDescription);
  g_option_context_add_main_entries(context, entries, nullptr);
  g_autoptr(GError) error = nullptr;
  if (!g_option_context_parse(context, &argc, &argv, &error)) {
    g_printerr("ryxd: %s\n", error->message);
    return 2;
  }

  static const char *const kFaults[] = {"wrong-cookie",
                                        "drop-before-backend-ids",
                                        "drop-before-desktop-capture",
                                        "drop-before-connection-info",
                                        "wrong-type",
                                        "silent",
                                        nullptr};
  if (fault != nullptr && !g_strv_contains(kFaults, fault)) {
    g_printerr("ryxd: unknown fault \"%s\"\n", fault);
    return 2;
  }
  if (listen_port < 0 || listen_port > 65535) {
    g_printerr("ryxd: bad listen port %d\n", listen_port);
    return 2;
  }
  config.fault = fault != nullptr ? fault : "";
  config.cookie = cookie != nullptr ? g_strdup(cookie) : random_cookie();
  config.expected =
      config.fault == "wrong-cookie" ? g_strconcat(config.cookie, "-renewed", nullptr) : g_strdup(config.cookie);
  static const char *const kDefaultIds[] = {"b1", nullptr};
  config.backend_ids = g_strdupv(backend_ids != nullptr ? backend_ids : const_cast<char **>(kDefaultIds));
  config.desktop_capture = desktop_capture;
  config.payload = g_strdup(payload != nullptr ? payload : "payload");
  config.port = port;
  config.conference_id = g_strdup(conference_id != nullptr ? conference_id : "conf-id");
  config.conference_key = g_strdup(conference_key != nullptr ? conference_key : "conf-key");
  if (!parse_hex(key != nullptr ? key : "000102030405060708090a0b0c0d0e0f", &config.key)) {
    g_printerr("ryxd: bad encryption key \"%s\" (want hex digits in pairs)\n", key);
    return 2;
  }

  g_autoptr(GSocketService) service = g_threaded_socket_service_new(16);
  g_autoptr(GInetAddress) loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
  g_autoptr(GSocketAddress) address = g_inet_socket_address_new(loopback, static_cast<guint16>(listen_port));
  g_autoptr(GSocketAddress) effective = nullptr;
  if (!g_socket_listener_add_address(G_SOCKET_LISTENER(service), address, G_SOCKET_TYPE_STREAM,
                                     G_SOCKET_PROTOCOL_DEFAULT, nullptr, &effective, &error)) {
    g_printerr("ryxd: cannot listen on 127.0.0.1:%d: %s\n", listen_port, error->message);
    return 1;
  }
  guint16 bound = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(effective));
  g_signal_connect(service, "run", G_CALLBACK(on_run), nullptr);

  g_autofree char *folder = g_build_filename(g_get_user_data_dir(), "Vezo", "ryx", nullptr);
  g_autofree char *name = g_strdup_printf("ryxdport.%s.WINSESSION", g_get_host_name());
  g_autofree char *path = g_build_filename(folder, name, nullptr);
  g_autoptr(GKeyFile) keys = g_key_file_new();
  g_key_file_set_integer(keys, "ryxd", "port", bound);
  g_key_file_set_string(keys, "ryxd", "cookie", config.cookie);
  gsize length = 0;
  g_autofree char *text = g_key_file_to_data(keys, &length, nullptr);
  if (g_mkdir_with_parents(folder, 0700) != 0 ||
      !g_file_set_contents_full(path, text, static_cast<gssize>(length), G_FILE_SET_CONTENTS_CONSISTENT, 0600,
                                &error)) {
    g_printerr("ryxd: cannot write %s: %s\n", path, error != nullptr ? error->message : g_strerror(errno));
    return 1;
  }
  // The signals are caught before anyone learns that the daemon runs.
  g_autoptr(GMainLoop) loop = g_main_loop_new(nullptr, FALSE);
  g_unix_signal_add(SIGTERM, on_signal, loop);
  g_unix_signal_add(SIGINT, on_signal, loop);
  g_socket_service_start(service);
  printf("ryxd listening on 127.0.0.1:%u\n", bound);
  fflush(stdout);
  g_main_loop_run(loop);

  g_socket_service_stop(service);
  g_socket_listener_close(G_SOCKET_LISTENER(service));
  g_unlink(path);
  // Connection threads that still wait on a client end with the process.
  return 0;
}
