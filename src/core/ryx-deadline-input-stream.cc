// SPDX-License-Identifier: MIT
#include "core/ryx-deadline-input-stream.h"

struct _RyxDeadlineInputStream {
  GFilterInputStream parent_instance;
  GSocket *socket;  // owned reference
  gint64 deadline;  // monotonic time in microseconds
};

G_DEFINE_FINAL_TYPE (RyxDeadlineInputStream, ryx_deadline_input_stream, G_TYPE_FILTER_INPUT_STREAM)

static gssize ryx_deadline_input_stream_read (GInputStream *stream, void *buffer, gsize count,
                                              GCancellable *cancellable, GError **error) {
  RyxDeadlineInputStream *self = RYX_DEADLINE_INPUT_STREAM (stream);
  gint64 left = self->deadline - g_get_monotonic_time ();
  if (left <= 0) {
    g_set_error_literal (error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT, "Deadline passed");
    return -1;
  }
  if (!g_socket_condition_timed_wait (self->socket, G_IO_IN, left, cancellable, error)) return -1;
  GInputStream *base = g_filter_input_stream_get_base_stream (G_FILTER_INPUT_STREAM (stream));
  return g_input_stream_read (base, buffer, count, cancellable, error);
}

static void ryx_deadline_input_stream_dispose (GObject *object) {
  RyxDeadlineInputStream *self = RYX_DEADLINE_INPUT_STREAM (object);
  g_clear_object (&self->socket);
  G_OBJECT_CLASS (ryx_deadline_input_stream_parent_class)->dispose (object);
}

static void ryx_deadline_input_stream_class_init (RyxDeadlineInputStreamClass *klass) {
  G_OBJECT_CLASS (klass)->dispose = ryx_deadline_input_stream_dispose;
  G_INPUT_STREAM_CLASS (klass)->read_fn = ryx_deadline_input_stream_read;
}

static void ryx_deadline_input_stream_init (RyxDeadlineInputStream *self) { (void) self; }

GInputStream *ryx_deadline_input_stream_new (GSocketConnection *connection, guint timeout_ms) {
  g_return_val_if_fail (G_IS_SOCKET_CONNECTION (connection), nullptr);
  GInputStream *base = g_io_stream_get_input_stream (G_IO_STREAM (connection));
  RyxDeadlineInputStream *self = RYX_DEADLINE_INPUT_STREAM (g_object_new (
      RYX_TYPE_DEADLINE_INPUT_STREAM, "base-stream", base, "close-base-stream", FALSE, nullptr));
  self->socket = G_SOCKET (g_object_ref (g_socket_connection_get_socket (connection)));
  self->deadline = g_get_monotonic_time () + (gint64) timeout_ms * 1000;
  return G_INPUT_STREAM (self);
}
