// SPDX-License-Identifier: MIT
#include "gvc/gvc-bytes-stream.h"

#include <cstring>
#include <vector>

#include "common/ryx_strfunc.h"

struct _GvcBytesInputStream {
  GFilterInputStream parent_instance;
};

struct _GvcBytesOutputStream {
  GFilterOutputStream parent_instance;
};

G_DEFINE_FINAL_TYPE(GvcBytesInputStream, gvc_bytes_input_stream, G_TYPE_FILTER_INPUT_STREAM)
G_DEFINE_FINAL_TYPE(GvcBytesOutputStream, gvc_bytes_output_stream, G_TYPE_FILTER_OUTPUT_STREAM)

static void gvc_bytes_input_stream_class_init(GvcBytesInputStreamClass *klass) { (void)klass; }
static void gvc_bytes_input_stream_init(GvcBytesInputStream *self) { (void)self; }
static void gvc_bytes_output_stream_class_init(GvcBytesOutputStreamClass *klass) { (void)klass; }
static void gvc_bytes_output_stream_init(GvcBytesOutputStream *self) { (void)self; }

GvcBytesInputStream *gvc_bytes_input_stream_new(GInputStream *base_stream) {
  g_return_val_if_fail(G_IS_INPUT_STREAM(base_stream), NULL);
  return GVC_BYTES_INPUT_STREAM(g_object_new(GVC_TYPE_BYTES_INPUT_STREAM, "base-stream", base_stream, NULL));
}

GvcBytesOutputStream *gvc_bytes_output_stream_new(GOutputStream *base_stream) {
  g_return_val_if_fail(G_IS_OUTPUT_STREAM(base_stream), NULL);
  return GVC_BYTES_OUTPUT_STREAM(g_object_new(GVC_TYPE_BYTES_OUTPUT_STREAM, "base-stream", base_stream, NULL));
}

gboolean gvc_bytes_output_stream_put_variant(GvcBytesOutputStream *stream, GVariant *value, GCancellable *cancellable,
                                             GError **error) {
  g_return_val_if_fail(GVC_IS_BYTES_OUTPUT_STREAM(stream), FALSE);
  g_return_val_if_fail(value != NULL, FALSE);

  // The normal form takes its own reference and leaves the caller's alone,
  // floating or not.
  g_autoptr(GVariant) normal = g_variant_get_normal_form(value);
  const char *type = g_variant_get_type_string(normal);
  gsize type_length = std::strlen(type);
  gsize data_size = g_variant_get_size(normal);
  if (type_length > GVC_TYPE_STRING_MAX_LENGTH || data_size > GVC_FRAME_MAX_SIZE - type_length - 1) {
    g_set_error(error, G_IO_ERROR, G_IO_ERROR_MESSAGE_TOO_LARGE,
                "A value of type “%.32s” and %" G_GSIZE_FORMAT " bytes is too large to send", type, data_size);
    return FALSE;
  }
  guint32 body = static_cast<guint32>(type_length + 1 + data_size);
  std::vector<guint8> frame(4 + body);
  frame[0] = static_cast<guint8>(body >> 24);
  frame[1] = static_cast<guint8>(body >> 16);
  frame[2] = static_cast<guint8>(body >> 8);
  frame[3] = static_cast<guint8>(body);
  std::memcpy(frame.data() + 4, type, type_length + 1);
  // g_variant_store() wants an aligned target; the frame has none to offer.
  if (data_size > 0) std::memcpy(frame.data() + 4 + type_length + 1, g_variant_get_data(normal), data_size);

  GOutputStream *self = G_OUTPUT_STREAM(stream);
  if (!g_output_stream_set_pending(self, error)) return FALSE;
  GOutputStream *base = g_filter_output_stream_get_base_stream(G_FILTER_OUTPUT_STREAM(stream));
  gboolean ok = g_output_stream_write_all(base, frame.data(), frame.size(), NULL, cancellable, error);
  g_output_stream_clear_pending(self);
  return ok;
}

// Reads exactly size bytes; a stream that ends first is PARTIAL_INPUT.
static gboolean read_exactly(GInputStream *base, void *buffer, gsize size, GCancellable *cancellable, GError **error) {
  gsize got = 0;
  if (!g_input_stream_read_all(base, buffer, size, &got, cancellable, error)) return FALSE;
  if (got < size) {
    g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_PARTIAL_INPUT, "The stream ended before a whole value was read");
    return FALSE;
  }
  return TRUE;
}

static GVariant *read_frame(GInputStream *base, const char *type_string, GCancellable *cancellable, GError **error) {
  guint8 header[4];
  if (!read_exactly(base, header, sizeof header, cancellable, error)) return NULL;
  guint32 body = (guint32)header[0] << 24 | (guint32)header[1] << 16 | (guint32)header[2] << 8 | header[3];
  if (body > GVC_FRAME_MAX_SIZE) {
    g_set_error(error, G_IO_ERROR, G_IO_ERROR_MESSAGE_TOO_LARGE,
                "A value of %u bytes is larger than the limit of %u bytes", body, GVC_FRAME_MAX_SIZE);
    return NULL;
  }
  if (body < 2) {  // the shortest frame is a one-letter type and its zero byte
    g_set_error(error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA, "A value of %u bytes is too short to hold a type", body);
    return NULL;
  }
  std::vector<char> frame(body);
  if (!read_exactly(base, frame.data(), body, cancellable, error)) return NULL;

  const void *end = std::memchr(frame.data(), '\0', MIN(body, GVC_TYPE_STRING_MAX_LENGTH + 1));
  const char *type = frame.data();
  if (end == NULL || !g_variant_type_string_is_valid(type) || !g_variant_type_is_definite(G_VARIANT_TYPE(type))) {
    g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA, "The value has no valid type");
    return NULL;
  }
  if (std::strcmp(type, type_string) != 0) {
    g_set_error(error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA,
                "Expected a value of type “%s” but received one of type “%s”", type_string, type);
    return NULL;
  }
  // The data gets a buffer of its own: GVariant wants it aligned, and the
  // type string in front of it breaks the frame buffer's alignment.
  gsize offset = std::strlen(type) + 1;
  gsize size = body - offset;
  g_autoptr(GBytes) data = g_bytes_new_take(g_memdup2(frame.data() + offset, size), size);
  g_autoptr(GVariant) value = g_variant_ref_sink(g_variant_new_from_bytes(G_VARIANT_TYPE(type), data, FALSE));
  if (!g_variant_is_normal_form(value)) {
    g_set_error(error, G_IO_ERROR, G_IO_ERROR_INVALID_DATA, "The value of type “%s” is not in normal form", type);
    return NULL;
  }
  return static_cast<GVariant *>(g_steal_pointer(&value));
}

GVariant *gvc_bytes_input_stream_read_variant(GvcBytesInputStream *stream, const char *type_string,
                                              GCancellable *cancellable, GError **error) {
  g_return_val_if_fail(GVC_IS_BYTES_INPUT_STREAM(stream), NULL);
  g_return_val_if_fail(type_string != NULL && g_variant_type_string_is_valid(type_string), NULL);
  GInputStream *self = G_INPUT_STREAM(stream);
  if (!g_input_stream_set_pending(self, error)) return NULL;
  GInputStream *base = g_filter_input_stream_get_base_stream(G_FILTER_INPUT_STREAM(stream));
  GVariant *value = read_frame(base, type_string, cancellable, error);
  g_input_stream_clear_pending(self);
  return value;
}
