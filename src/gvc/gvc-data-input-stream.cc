// SPDX-License-Identifier: MIT
#include "gvc/gvc-data-input-stream.h"

#include <cstring>
#include <string>

#include "common/ryx_strfunc.h"

struct _GvcDataInputStream {
  GFilterInputStream parent_instance;
  gsize max_length;
};

G_DEFINE_FINAL_TYPE(GvcDataInputStream, gvc_data_input_stream, G_TYPE_FILTER_INPUT_STREAM)

static void gvc_data_input_stream_class_init(GvcDataInputStreamClass *klass) { (void)klass; }

static void gvc_data_input_stream_init(GvcDataInputStream *self) {
  self->max_length = GVC_DATA_INPUT_STREAM_MAX_LENGTH;
}

GvcDataInputStream *gvc_data_input_stream_new(GInputStream *base_stream) {
  g_return_val_if_fail(G_IS_INPUT_STREAM(base_stream), NULL);
  return GVC_DATA_INPUT_STREAM(g_object_new(GVC_TYPE_DATA_INPUT_STREAM, "base-stream", base_stream, NULL));
}

void gvc_data_input_stream_set_max_length(GvcDataInputStream *stream, gsize max_length) {
  g_return_if_fail(GVC_IS_DATA_INPUT_STREAM(stream));
  stream->max_length = max_length;
}

gsize gvc_data_input_stream_get_max_length(GvcDataInputStream *stream) {
  g_return_val_if_fail(GVC_IS_DATA_INPUT_STREAM(stream), 0);
  return stream->max_length;
}

static bool is_terminator(char c, const char *stop_chars) {
  return c == '\0' || (stop_chars != nullptr && std::strchr(stop_chars, c) != nullptr);
}

char *gvc_data_input_stream_read_string(GvcDataInputStream *stream, const char *stop_chars, gsize *length,
                                        GCancellable *cancellable, GError **error) {
  g_return_val_if_fail(GVC_IS_DATA_INPUT_STREAM(stream), NULL);
  if (length != nullptr) *length = 0;
  GInputStream *self = G_INPUT_STREAM(stream);
  if (!g_input_stream_set_pending(self, error)) return NULL;
  GInputStream *base = g_filter_input_stream_get_base_stream(G_FILTER_INPUT_STREAM(stream));

  // One byte per read: a buffer would swallow what follows the terminator.
  // The reader is pending for the whole string and its base stream is its
  // own, so each byte goes straight to the base stream's read function:
  // g_input_stream_read's per-call bookkeeping costs more than the byte.
  if (g_input_stream_is_closed(base)) {
    g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_CLOSED, "Stream is already closed");
    g_input_stream_clear_pending(self);
    return NULL;
  }
  GInputStreamClass *base_class = G_INPUT_STREAM_GET_CLASS(base);
  std::string text;
  char *result = NULL;
  for (;;) {
    char c = 0;
    gssize n = g_cancellable_set_error_if_cancelled(cancellable, error)
                   ? -1
                   : base_class->read_fn(base, &c, 1, cancellable, error);
    if (n < 0) break;
    if (n == 0) {
      g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_PARTIAL_INPUT,
                          text.empty() ? "The stream ended before a string" : "The stream ended inside a string");
      break;
    }
    if (is_terminator(c, stop_chars)) {
      result = static_cast<char *>(g_malloc(text.size() + 1));
      std::memcpy(result, text.data(), text.size());
      result[text.size()] = '\0';
      if (length != nullptr) *length = text.size();
      break;
    }
    if (text.size() >= stream->max_length) {
      g_set_error(error, G_IO_ERROR, G_IO_ERROR_MESSAGE_TOO_LARGE,
                  "The string is longer than %" G_GSIZE_FORMAT " bytes", stream->max_length);
      break;
    }
    text.push_back(c);
  }
  g_input_stream_clear_pending(self);
  return result;
}
