// SPDX-License-Identifier: MIT
// The gvc streams: strings that leave the rest unread and GVariant frames
// with their bounds, over memory streams; the deadline stream over a real
// loopback connection, with what it leaves in the socket for the next
// reader (what a handshake leaves for the application: the console port's).
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "glib_support.h"
#include "gvc/gvc-bytes-stream.h"
#include "gvc/gvc-data-input-stream.h"
#include "gvc/ryx-deadline-input-stream.h"

namespace {

GInputStream *memoryInput(const std::string &bytes) {
  return g_memory_input_stream_new_from_data(g_memdup2(bytes.data(), bytes.size()), static_cast<gssize>(bytes.size()),
                                             g_free);
}

std::string memoryContents(GOutputStream *stream) {
  GMemoryOutputStream *memory = G_MEMORY_OUTPUT_STREAM(stream);
  return std::string(static_cast<const char *>(g_memory_output_stream_get_data(memory)),
                     g_memory_output_stream_get_data_size(memory));
}

std::string frame(const std::string &type, const std::string &data) {
  std::string body = type + std::string(1, '\0') + data;
  std::string header = {static_cast<char>(body.size() >> 24), static_cast<char>(body.size() >> 16),
                        static_cast<char>(body.size() >> 8), static_cast<char>(body.size())};
  return header + body;
}

// Reads one variant of `type` from `bytes`; the error goes to *error.
GVariant *readFrom(const std::string &bytes, const char *type, GError **error) {
  g_autoptr(GInputStream) base = memoryInput(bytes);
  g_autoptr(GvcBytesInputStream) in = gvc_bytes_input_stream_new(base);
  return gvc_bytes_input_stream_read_variant(in, type, nullptr, error);
}

TEST(GvcDataInputStream, EndsAndBoundsAsDocumented) {
  const struct {
    std::string input;
    const char *stopChars;
    gsize maxLength;
    const char *text;  // null: an error
    int code;
  } cases[] = {
      {std::string("\0rest", 5), nullptr, 16, "", 0},
      {"no terminator", nullptr, 16, nullptr, G_IO_ERROR_PARTIAL_INPUT},
      {"line\nrest", "\n", 16, "line", 0},
      {std::string("abcd\0", 5), nullptr, 4, "abcd", 0},
      {std::string("abcde\0", 6), nullptr, 4, nullptr, G_IO_ERROR_MESSAGE_TOO_LARGE},
  };
  for (const auto &c : cases) {
    g_autoptr(GInputStream) base = memoryInput(c.input);
    g_autoptr(GvcDataInputStream) reader = gvc_data_input_stream_new(base);
    gvc_data_input_stream_set_max_length(reader, c.maxLength);
    g_autoptr(GError) error = nullptr;
    g_autofree char *text = gvc_data_input_stream_read_string(reader, c.stopChars, nullptr, nullptr, &error);
    EXPECT_STREQ(c.text, text) << c.input;
    EXPECT_TRUE(c.text != nullptr || g_error_matches(error, G_IO_ERROR, c.code)) << c.input;
  }
}

// An empty array (no data bytes) and a value of the daemon's shape follow
// the first frame.
TEST(GvcBytesStream, ValuesComeBackAsTheyWent) {
  g_autoptr(GOutputStream) base = g_memory_output_stream_new_resizable();
  g_autoptr(GvcBytesOutputStream) out = gvc_bytes_output_stream_new(base);
  // The frame: a 4-byte big-endian length, the type, its zero byte, the data;
  // the caller's floating reference is left alone.
  g_autoptr(GVariant) floating = g_variant_new_string("ab");
  ASSERT_TRUE(gvc_bytes_output_stream_put_variant(out, floating, nullptr, nullptr));
  EXPECT_TRUE(g_variant_is_floating(floating));
  EXPECT_EQ(std::string("\0\0\0\x05s\0ab\0", 9), memoryContents(base));
  std::vector<std::string> types = {"s"}, texts = {"'ab'", "@as []", "('payload', 7300, <[byte 0x00, 0x01, 0xff]>)"};
  for (size_t i = 1; i < texts.size(); ++i) {
    g_autoptr(GVariant) value = g_variant_parse(nullptr, texts[i].c_str(), nullptr, nullptr, nullptr);  // not floating
    ASSERT_TRUE(gvc_bytes_output_stream_put_variant(out, value, nullptr, nullptr)) << texts[i];
    types.push_back(g_variant_get_type_string(value));
  }
  g_autoptr(GInputStream) input = memoryInput(memoryContents(base));
  g_autoptr(GvcBytesInputStream) in = gvc_bytes_input_stream_new(input);
  for (size_t i = 0; i < texts.size(); ++i) {
    g_autoptr(GVariant) back = gvc_bytes_input_stream_read_variant(in, types[i].c_str(), nullptr, nullptr);
    g_autofree char *text = back != nullptr ? g_variant_print(back, TRUE) : g_strdup("(none)");
    EXPECT_EQ(texts[i], text);
  }
  g_autoptr(GError) error = nullptr;
  EXPECT_EQ(nullptr, gvc_bytes_input_stream_read_variant(in, "s", nullptr, &error));
  EXPECT_TRUE(g_error_matches(error, G_IO_ERROR, G_IO_ERROR_PARTIAL_INPUT)) << "at the end of the stream";
}

TEST(GvcBytesStream, RefusesBrokenFrames) {
  const std::string noType = "The value has no valid type";
  const struct {
    std::string bytes;
    const char *type;
    int code;
    std::string message;  // "": any
  } cases[] = {
      {frame("s", std::string("x\0", 2)), "as", G_IO_ERROR_INVALID_DATA,
       "Expected a value of type “as” but received one of type “s”"},
      {std::string("\x00\x10\x00\x01", 4), "s", G_IO_ERROR_MESSAGE_TOO_LARGE,  // one byte above the limit
       "A value of 1048577 bytes is larger than the limit of 1048576 bytes"},
      {std::string("\0\0", 2), "s", G_IO_ERROR_PARTIAL_INPUT, "The stream ended before a whole value was read"},
      {frame("s", "abc").substr(0, 8), "s", G_IO_ERROR_PARTIAL_INPUT, ""},  // a cut body
      {std::string("\0\0\0\x01s", 5), "s", G_IO_ERROR_INVALID_DATA, "A value of 1 bytes is too short to hold a type"},
      {std::string("\0\0\0\x02sx", 6), "s", G_IO_ERROR_INVALID_DATA, noType},  // no zero byte after the type
      {frame("z", ""), "s", G_IO_ERROR_INVALID_DATA, noType},
      {frame("i", "abc"), "i", G_IO_ERROR_INVALID_DATA, "The value of type “i” is not in normal form"},
  };
  for (const auto &c : cases) {
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) value = readFrom(c.bytes, c.type, &error);
    EXPECT_EQ(nullptr, value) << c.message;
    EXPECT_EQ(error == nullptr || error->domain != G_IO_ERROR
                  ? "no I/O error"
                  : std::to_string(error->code) + " " + (c.message.empty() ? "" : error->message),
              std::to_string(c.code) + " " + c.message);
  }
}

TEST(GvcBytesStream, TheSizeLimitHoldsBothWays) {
  g_autoptr(GOutputStream) base = g_memory_output_stream_new_resizable();
  g_autoptr(GvcBytesOutputStream) out = gvc_bytes_output_stream_new(base);
  std::string big(GVC_FRAME_MAX_SIZE, 'x');
  g_autoptr(GVariant) value = g_variant_ref_sink(g_variant_new_string(big.c_str()));
  g_autoptr(GError) error = nullptr;
  EXPECT_FALSE(gvc_bytes_output_stream_put_variant(out, value, nullptr, &error));
  EXPECT_TRUE(g_error_matches(error, G_IO_ERROR, G_IO_ERROR_MESSAGE_TOO_LARGE));
  EXPECT_EQ(0u, memoryContents(base).size()) << "nothing written";

  // The largest frame that fits goes through both ways.
  std::string fits(GVC_FRAME_MAX_SIZE - 3, 'y');  // "s", its zero byte and the string's zero byte
  g_autoptr(GVariant) largest = g_variant_ref_sink(g_variant_new_string(fits.c_str()));
  ASSERT_TRUE(gvc_bytes_output_stream_put_variant(out, largest, nullptr, nullptr));
  g_autoptr(GVariant) back = readFrom(memoryContents(base), "s", nullptr);
  ASSERT_NE(nullptr, back);
  EXPECT_EQ(fits, g_variant_get_string(back, nullptr));
}

using ryx::test::LoopbackPair;

// What the socket still holds for the next reader, up to `size` bytes.
std::string leftInSocket(GSocketConnection *connection, gsize size) {
  std::string bytes(size, '\0');
  GSocket *socket = g_socket_connection_get_socket(connection);
  gssize n = g_socket_receive_with_blocking(socket, bytes.data(), size, FALSE, nullptr, nullptr);
  bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return bytes;
}

TEST(DeadlineInputStream, OneDeadlineForAllReads) {
  LoopbackPair pair;
  // A peer that trickles a byte every 40 ms cannot stretch a 300 ms deadline.
  std::thread trickler([&] {
    for (int i = 0; i < 25; ++i) {
      if (!pair.send("x")) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  });
  g_autoptr(GInputStream) input = ryx_deadline_input_stream_new(pair.server, 300);
  g_autoptr(GvcDataInputStream) reader = gvc_data_input_stream_new(input);
  g_autoptr(GError) error = nullptr;
  g_autofree char *text = gvc_data_input_stream_read_string(reader, nullptr, nullptr, nullptr, &error);
  EXPECT_EQ(nullptr, text);
  EXPECT_TRUE(g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) << (error ? error->message : "no error");
  trickler.join();
}

// The console port reads every handshake through one stream and one reader,
// aimed at each connection in turn: nothing of one connection may reach the
// next, and the take limit counts anew for each.
TEST(DeadlineInputStream, OneStreamServesConnectionAfterConnection) {
  g_autoptr(GInputStream) input = ryx_deadline_input_stream_new(nullptr, 0);
  ryx_deadline_input_stream_set_take_limit(RYX_DEADLINE_INPUT_STREAM(input), 22);
  g_autoptr(GvcDataInputStream) reader = gvc_data_input_stream_new(input);
  g_filter_input_stream_set_close_base_stream(G_FILTER_INPUT_STREAM(reader), FALSE);

  // The first peer sends its handshake, its command byte and more than
  // the limit allows; the second sends its handshake a little later.
  LoopbackPair first, second;
  ASSERT_TRUE(
      first.send(std::string("RYX Command UI\n\0\x02"
                             "12345678",
                             25)));
  ryx_deadline_input_stream_set_connection(RYX_DEADLINE_INPUT_STREAM(input), first.server, 2000);
  g_autofree char *one = gvc_data_input_stream_read_string(reader, nullptr, nullptr, nullptr, nullptr);
  EXPECT_STREQ("RYX Command UI\n", one);

  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    second.send(std::string("RVN Dashboard Thread\n\0<Update>", 30));
  });
  ryx_deadline_input_stream_set_connection(RYX_DEADLINE_INPUT_STREAM(input), second.server, 2000);
  g_autofree char *two = gvc_data_input_stream_read_string(reader, nullptr, nullptr, nullptr, nullptr);
  late.join();
  // The command byte left behind by the first peer is not the start of this one.
  EXPECT_STREQ("RVN Dashboard Thread\n", two);
  ryx_deadline_input_stream_set_connection(RYX_DEADLINE_INPUT_STREAM(input), nullptr, 0);
  // The first connection's 22 bytes were taken, the second has its own limit.
  EXPECT_EQ(leftInSocket(first.server, 16), "678");
  EXPECT_EQ(leftInSocket(second.server, 16), "<Update>");
}

}  // namespace
