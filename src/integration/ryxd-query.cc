// SPDX-License-Identifier: MIT
#include "integration/ryxd-query.h"

#include <glib/gstdio.h>

#include "common/ryx_gcommon.h"
#include "common/ryx_strfunc.h"
#include "gvc/gvc-bytes-stream.h"
#include "gvc/ryx-deadline-input-stream.h"

namespace {

// The port cache file is the daemon's, in the user's own folder; anything
// other than a small regular file there (a pipe, a device, a huge file) is
// refused before it is read, so reading it cannot block or grow at will.
constexpr goffset kMaxPortFileSize = 64 * 1024;

// The whole exchange has one deadline.  Connecting is bounded by the
// client's time-out; every read goes through a stream that waits for data
// only until the deadline; writes are a few bytes, bounded by the socket's
// time-out.  All of it on the calling thread.  A failure past the deadline
// is reported as the deadline's, not as the step's own time-out.
void explainDeadline(GError **error) {
  if (error == NULL || !g_error_matches(*error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) return;
  g_clear_error(error);
  g_set_error(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT, "ryxd did not finish the exchange within %d seconds",
              RYX_RYXD_QUERY_TIMEOUT_MS / 1000);
}

// A connection to the daemon, given up after the query's time-out (the
// client counts whole seconds).
GSocketConnection *connectTo(const char *host, guint16 port, GCancellable *cancellable, GError **error) {
  g_autoptr(GSocketClient) client = g_socket_client_new();
  g_socket_client_set_timeout(client, RYX_RYXD_QUERY_TIMEOUT_MS / 1000);
  return g_socket_client_connect_to_host(client, host, port, cancellable, error);
}

GVariant *command(const char *name) { return g_variant_ref_sink(g_variant_new("(sv)", name, g_variant_new_int32(0))); }

}  // namespace

GFile *get_ryxd_port_file(void) {
  g_autofree char *name = g_strdup_printf("ryxdport.%s.WINSESSION", g_get_host_name());
  g_autofree char *path = g_build_filename(g_get_user_data_dir(), "Vezo", "ryx", name, NULL);
  return g_file_new_for_path(path);
}

void get_ryxd_connection_info(char **host, guint16 *port, char **cookie) {
  *host = NULL;
  *port = 0;
  *cookie = NULL;
  g_autoptr(GFile) file = get_ryxd_port_file();
  g_autofree char *path = g_file_get_path(file);
  g_autoptr(GKeyFile) keys = g_key_file_new();
  g_autoptr(GError) error = NULL;

  GStatBuf st;
  if (g_stat(path, &st) == 0 && (!S_ISREG(st.st_mode) || st.st_size > kMaxPortFileSize)) {
    g_set_error(&error, G_FILE_ERROR, G_FILE_ERROR_INVAL, "“%s” is not a regular file of at most %d bytes", path,
                static_cast<int>(kMaxPortFileSize));
  } else {
    g_key_file_load_from_file(keys, path, G_KEY_FILE_NONE, &error);
  }
  if (error != NULL) {
    if (!g_error_matches(error, G_KEY_FILE_ERROR, G_KEY_FILE_ERROR_NOT_FOUND))
      RYX_LOG(G_LOG_LEVEL_WARNING, "There was an error getting the port from the caching file: %s", error->message);
    return;
  }
  *host = g_strdup("localhost");
  // Missing keys give 0 and NULL; their errors say nothing worth telling.
  *port = static_cast<guint16>(g_key_file_get_integer(keys, "ryxd", "port", NULL));
  *cookie = g_key_file_get_string(keys, "ryxd", "cookie", NULL);
}

gboolean check_ryxd_server_started(RyxConfigDaemonData *data) {
  g_return_val_if_fail(data != NULL, FALSE);

  g_autofree char *host = NULL;
  guint16 port = 0;
  g_autofree char *cookie = NULL;
  get_ryxd_connection_info(&host, &port, &cookie);
  if (host == NULL || port == 0) {
    g_printerr("Could not find ryxd server info\n");
    return FALSE;
  }
  if (cookie == NULL) {
    g_printerr("Could not find ryxd cookie\n");
    return FALSE;
  }

  g_clear_object(&data->ryxd_cancellable);
  data->ryxd_cancellable = g_cancellable_new();
  GCancellable *cancellable = data->ryxd_cancellable;
  const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(RYX_RYXD_QUERY_TIMEOUT_MS) * 1000;

  // Every failure from here on: the message, then the connection (if any)
  // goes; the streams go with the locals and leave the connection alone.
  g_autoptr(GError) error = NULL;
  auto fail = [&](const char *format) {
    explainDeadline(&error);
    g_printerr(format, error->message);
    g_clear_object(&data->ryxd_connection);
    return FALSE;
  };

  g_clear_object(&data->ryxd_connection);
  data->ryxd_connection = connectTo(host, port, cancellable, &error);
  GSocketConnection *connection = data->ryxd_connection;
  if (connection == NULL) return fail("There was an error connecting to ryxd: %s\n");
  RYX_LOG(G_LOG_LEVEL_DEBUG, "Connected to ryxd on port %d", port);

  GOutputStream *base_out = g_io_stream_get_output_stream(G_IO_STREAM(connection));
  gint64 left_ms = (deadline - g_get_monotonic_time()) / 1000;
  g_autoptr(GInputStream) base_in =
      ryx_deadline_input_stream_new(connection, static_cast<guint>(left_ms > 0 ? left_ms : 1));
  static const guint8 kVariantFlag = 0x01;
  if (!g_output_stream_write_all(base_out, &kVariantFlag, 1, NULL, cancellable, &error))
    return fail("There was an error sending the variant flag: %s\n");

  g_autoptr(GvcBytesOutputStream) out = gvc_bytes_output_stream_new(base_out);
  g_autoptr(GvcBytesInputStream) in = gvc_bytes_input_stream_new(base_in);
  g_filter_output_stream_set_close_base_stream(G_FILTER_OUTPUT_STREAM(out), FALSE);
  g_filter_input_stream_set_close_base_stream(G_FILTER_INPUT_STREAM(in), FALSE);

  g_autoptr(GVariant) cookie_value = g_variant_ref_sink(g_variant_new_string(cookie));
  if (!gvc_bytes_output_stream_put_variant(out, cookie_value, cancellable, &error))
    return fail("There was a problem writing the cookie: %s\n");

  g_autoptr(GVariant) backend_request = command("backend-ids");
  if (!gvc_bytes_output_stream_put_variant(out, backend_request, cancellable, &error))
    return fail("There was a problem writing the backend ids command: %s\n");
  g_autoptr(GVariant) backend_reply = gvc_bytes_input_stream_read_variant(in, "as", cancellable, &error);
  if (backend_reply == NULL) return fail("There was an error reading the backend ids: %s\n");
  g_clear_pointer(&data->backend_ids, g_strfreev);
  data->backend_ids = g_variant_dup_strv(backend_reply, NULL);

  g_autoptr(GVariant) capture_request = command("is-using-desktop-capture");
  if (!gvc_bytes_output_stream_put_variant(out, capture_request, cancellable, &error))
    return fail("There was a problem writing the desktop capture command: %s\n");
  g_autoptr(GVariant) capture_reply = gvc_bytes_input_stream_read_variant(in, "b", cancellable, &error);
  if (capture_reply == NULL) return fail("There was an error reading whether desktop capture is enabled: %s\n");
  data->using_desktop_capture = g_variant_get_boolean(capture_reply);

  if (data->using_desktop_capture) {
    RYX_LOG(G_LOG_LEVEL_DEBUG, "ryxd desktop capture enabled");
  } else {
    g_autoptr(GVariant) info_request = command("connection-info");
    if (!gvc_bytes_output_stream_put_variant(out, info_request, cancellable, &error))
      return fail("There was a problem writing the connection information: %s\n");
    g_autoptr(GVariant) info_reply = gvc_bytes_input_stream_read_variant(in, "(sissv)", cancellable, &error);
    if (info_reply == NULL) return fail("There was an error reading ryxd information: %s\n");

    g_autoptr(GVariant) key = NULL;
    g_clear_pointer(&data->payload, g_free);
    g_clear_pointer(&data->conference_id, g_free);
    g_clear_pointer(&data->conference_key, g_free);
    g_clear_pointer(&data->encryption_key, g_bytes_unref);
    g_variant_get(info_reply, "(sissv)", &data->payload, &data->port, &data->conference_id, &data->conference_key,
                  &key);
    data->encryption_key = g_variant_get_data_as_bytes(key);
    RYX_LOG(G_LOG_LEVEL_DEBUG, "ryxd port: %d, conference id: %s, conference key: %s. enc key len: %ld, payload: %s",
            data->port, data->conference_id, data->conference_key,
            static_cast<long>(g_bytes_get_size(data->encryption_key)), data->payload);
  }

  RYX_LOG(G_LOG_LEVEL_DEBUG, "Retrieved info from ryxd");
  return TRUE;
}

void ryx_config_daemon_data_release_objects(RyxConfigDaemonData *data) {
  g_return_if_fail(data != NULL);
  g_clear_pointer(&data->encryption_key, g_bytes_unref);
  g_clear_object(&data->ryxd_cancellable);
  g_clear_object(&data->ryxd_connection);
}

void ryx_config_daemon_data_clear(RyxConfigDaemonData *data) {
  g_return_if_fail(data != NULL);
  ryx_config_daemon_data_release_objects(data);
  g_clear_pointer(&data->payload, g_free);
  g_clear_pointer(&data->conference_id, g_free);
  g_clear_pointer(&data->conference_key, g_free);
  g_clear_pointer(&data->backend_ids, g_strfreev);
  data->port = 0;
  data->using_desktop_capture = FALSE;
}
