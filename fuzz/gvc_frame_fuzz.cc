// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to the gvc readers: frames asked for as one of the
// daemon's types, and zero-terminated strings.  A value that is read must
// write back to a frame that reads to an equal value.
#include <gio/gio.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "gvc/gvc-bytes-stream.h"
#include "gvc/gvc-data-input-stream.h"

namespace {

const char *const kTypes[] = {"s", "as", "b", "(sv)", "(sissv)", "ay", "v", "a{sv}"};

void checkRoundTrip(GVariant *value) {
  g_autoptr(GOutputStream) sink = g_memory_output_stream_new_resizable();
  g_autoptr(GvcBytesOutputStream) out = gvc_bytes_output_stream_new(sink);
  if (!gvc_bytes_output_stream_put_variant(out, value, nullptr, nullptr)) abort();
  GMemoryOutputStream *memory = G_MEMORY_OUTPUT_STREAM(sink);
  g_autoptr(GInputStream) source =
      g_memory_input_stream_new_from_data(g_memory_output_stream_get_data(memory),
                                          static_cast<gssize>(g_memory_output_stream_get_data_size(memory)), nullptr);
  g_autoptr(GvcBytesInputStream) in = gvc_bytes_input_stream_new(source);
  g_autoptr(GVariant) back =
      gvc_bytes_input_stream_read_variant(in, g_variant_get_type_string(value), nullptr, nullptr);
  if (back == nullptr || !g_variant_equal(value, back)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const char *type = kTypes[data[0] % G_N_ELEMENTS(kTypes)];
  g_autoptr(GInputStream) base = g_memory_input_stream_new_from_data(data + 1, static_cast<gssize>(size - 1), nullptr);
  g_autoptr(GvcBytesInputStream) in = gvc_bytes_input_stream_new(base);
  for (int i = 0; i < 4; ++i) {
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) value = gvc_bytes_input_stream_read_variant(in, type, nullptr, &error);
    if (value == nullptr) {
      if (error == nullptr) abort();
      break;
    }
    if (!g_variant_is_of_type(value, G_VARIANT_TYPE(type)) || !g_variant_is_normal_form(value)) abort();
    checkRoundTrip(value);
  }

  g_autoptr(GInputStream) text = g_memory_input_stream_new_from_data(data, static_cast<gssize>(size), nullptr);
  g_autoptr(GvcDataInputStream) reader = gvc_data_input_stream_new(text);
  gvc_data_input_stream_set_max_length(reader, 64);
  gsize length = 0;
  g_autofree char *string =
      gvc_data_input_stream_read_string(reader, data[0] & 1 ? "\n" : nullptr, &length, nullptr, nullptr);
  if (string != nullptr && (length > 64 || strlen(string) != length)) abort();
  return 0;
}
