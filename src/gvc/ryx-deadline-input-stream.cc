// SPDX-License-Identifier: MIT
#include "gvc/ryx-deadline-input-stream.h"

#include <algorithm>
#include <cstring>

#include "common/ryx_strfunc.h"

// How much is looked at in one go: a handshake and its command byte fit.
constexpr gsize kPeekSize = 64;
// How much is taken in one receive: a handshake with the update sent with it.
constexpr gsize kTakeSize = 4096;

struct _RyxDeadlineInputStream {
  GInputStream parent_instance;
  GSocket *socket;  // owned reference
  gint64 deadline;  // monotonic time in microseconds
  // Bytes looked at (still in the socket) or taken, and how many of them
  // were handed out.
  char buffered[kTakeSize];
  gsize buffered_length;
  gsize handed_out;
  // With a take limit: bytes are taken at once, never more than this many
  // in all (0: bytes are looked at).
  gsize take_limit;
  gsize taken;
};

G_DEFINE_FINAL_TYPE(RyxDeadlineInputStream, ryx_deadline_input_stream, G_TYPE_INPUT_STREAM)

void ryx_deadline_input_stream_set_take_limit(RyxDeadlineInputStream *self, gsize limit) {
  g_return_if_fail(RYX_IS_DEADLINE_INPUT_STREAM(self));
  g_return_if_fail(self->buffered_length == 0 && limit > 0);
  self->take_limit = limit;
}

gboolean ryx_deadline_input_stream_commit(RyxDeadlineInputStream *self, GError **error) {
  g_return_val_if_fail(RYX_IS_DEADLINE_INPUT_STREAM(self), FALSE);
  if (self->take_limit > 0) return TRUE;  // taken already
  // The bytes handed out are in the socket's buffer: taking them cannot block.
  while (self->handed_out > 0) {
    char sink[kPeekSize];
    gssize n = g_socket_receive_with_blocking(self->socket, sink, self->handed_out, FALSE, nullptr, error);
    if (n <= 0) {
      if (n == 0) g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_PARTIAL_INPUT, "Connection closed");
      return FALSE;
    }
    self->handed_out -= (gsize)n;
  }
  self->buffered_length = 0;
  return TRUE;
}

static gssize ryx_deadline_input_stream_read(GInputStream *stream, void *buffer, gsize count, GCancellable *cancellable,
                                             GError **error) {
  RyxDeadlineInputStream *self = RYX_DEADLINE_INPUT_STREAM(stream);
  if (self->socket == nullptr) {
    g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_NOT_CONNECTED, "No connection to read");
    return -1;
  }
  if (self->handed_out == self->buffered_length) {
    // Everything looked at was handed out: take it, then wait for more.
    if (!ryx_deadline_input_stream_commit(self, error)) return -1;
    const bool take = self->take_limit > 0;
    const gsize room = take ? std::min(kTakeSize, self->take_limit - self->taken) : kPeekSize;
    if (room == 0) return 0;  // the limit is the end of this stream
    self->buffered_length = self->handed_out = 0;
    GInputVector vector = {self->buffered, room};
    gssize n;
    for (;;) {
      // Try first, wait only when nothing is there: a peer sends its
      // handshake at once, so the wait is the exception.
      gint flags = take ? 0 : G_SOCKET_MSG_PEEK;
      g_autoptr(GError) local_error = nullptr;
      n = g_socket_receive_message(self->socket, nullptr, &vector, 1, nullptr, nullptr, &flags, cancellable,
                                   &local_error);
      if (n >= 0) break;
      if (!g_error_matches(local_error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK)) {
        g_propagate_error(error, g_steal_pointer(&local_error));
        return -1;
      }
      gint64 left = self->deadline - g_get_monotonic_time();
      if (left <= 0) {
        g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT, "Deadline passed");
        return -1;
      }
      if (!g_socket_condition_timed_wait(self->socket, G_IO_IN, left, cancellable, error)) return -1;
    }
    if (n == 0) return 0;  // the peer closed
    self->buffered_length = (gsize)n;
    if (take) self->taken += (gsize)n;
  }
  gsize n = std::min(count, self->buffered_length - self->handed_out);
  memcpy(buffer, self->buffered + self->handed_out, n);
  self->handed_out += n;
  return (gssize)n;
}

GBytes *ryx_deadline_input_stream_take_unread(RyxDeadlineInputStream *self) {
  g_return_val_if_fail(RYX_IS_DEADLINE_INPUT_STREAM(self), nullptr);
  if (self->take_limit == 0 || self->handed_out == self->buffered_length) return nullptr;
  GBytes *unread = g_bytes_new(self->buffered + self->handed_out, self->buffered_length - self->handed_out);
  self->handed_out = self->buffered_length;
  return unread;
}

static void ryx_deadline_input_stream_dispose(GObject *object) {
  RyxDeadlineInputStream *self = RYX_DEADLINE_INPUT_STREAM(object);
  if (self->socket != nullptr) ryx_deadline_input_stream_commit(self, nullptr);
  g_clear_object(&self->socket);
  G_OBJECT_CLASS(ryx_deadline_input_stream_parent_class)->dispose(object);
}

static void ryx_deadline_input_stream_class_init(RyxDeadlineInputStreamClass *klass) {
  G_OBJECT_CLASS(klass)->dispose = ryx_deadline_input_stream_dispose;
  G_INPUT_STREAM_CLASS(klass)->read_fn = ryx_deadline_input_stream_read;
}

static void ryx_deadline_input_stream_init(RyxDeadlineInputStream *self) { (void)self; }

void ryx_deadline_input_stream_set_connection(RyxDeadlineInputStream *self, GSocketConnection *connection,
                                              guint timeout_ms) {
  g_return_if_fail(RYX_IS_DEADLINE_INPUT_STREAM(self));
  g_return_if_fail(connection == nullptr || G_IS_SOCKET_CONNECTION(connection));
  if (self->socket != nullptr) ryx_deadline_input_stream_commit(self, nullptr);
  g_clear_object(&self->socket);
  self->buffered_length = self->handed_out = self->taken = 0;
  if (connection == nullptr) return;
  self->socket = G_SOCKET(g_object_ref(g_socket_connection_get_socket(connection)));
  // The deadline is the only wait: a receive that finds nothing returns at
  // once instead of waiting on its own.
  g_socket_set_blocking(self->socket, FALSE);
  self->deadline = g_get_monotonic_time() + (gint64)timeout_ms * 1000;
}

GInputStream *ryx_deadline_input_stream_new(GSocketConnection *connection, guint timeout_ms) {
  g_return_val_if_fail(connection == nullptr || G_IS_SOCKET_CONNECTION(connection), nullptr);
  // No properties: the daemon query makes one per query.
  RyxDeadlineInputStream *self = RYX_DEADLINE_INPUT_STREAM(g_object_new(RYX_TYPE_DEADLINE_INPUT_STREAM, nullptr));
  if (connection != nullptr) ryx_deadline_input_stream_set_connection(self, connection, timeout_ms);
  return G_INPUT_STREAM(self);
}
