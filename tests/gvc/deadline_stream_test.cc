// SPDX-License-Identifier: MIT
// The deadline stream over a real loopback connection: what it leaves in the
// socket for the next reader, and the one deadline for all its reads.  (A
// handshake and command byte arriving a byte at a time: e2e
// WrongHandshakesAreLoggedAndTheInstanceCarriesOn.)
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "glib_support.h"
#include "gvc/gvc-data-input-stream.h"
#include "gvc/ryx-deadline-input-stream.h"

namespace {

using ryx::test::LoopbackPair;

// What the socket still holds for the next reader, up to `size` bytes.
std::string leftInSocket(GSocketConnection *connection, gsize size) {
  std::string bytes(size, '\0');
  GSocket *socket = g_socket_connection_get_socket(connection);
  gssize n = g_socket_receive_with_blocking(socket, bytes.data(), size, FALSE, nullptr, nullptr);
  bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return bytes;
}

char *readHandshake(GInputStream *input, GError **error) {
  g_autoptr(GvcDataInputStream) reader = gvc_data_input_stream_new(input);
  g_filter_input_stream_set_close_base_stream(G_FILTER_INPUT_STREAM(reader), FALSE);
  return gvc_data_input_stream_read_string(reader, nullptr, nullptr, nullptr, error);
}

TEST(DeadlineInputStream, OneDeadlineForAllReadsAndTheLimitEndsTheStream) {
  LoopbackPair pair;
  // A peer that trickles a byte every 40 ms cannot stretch a 300 ms deadline.
  std::thread trickler([&] {
    for (int i = 0; i < 25; ++i) {
      if (!pair.send("x")) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  });
  g_autoptr(GInputStream) input = ryx_deadline_input_stream_new(pair.server, 300);
  g_autoptr(GError) error = nullptr;
  g_autofree char *text = readHandshake(input, &error);
  EXPECT_EQ(nullptr, text);
  EXPECT_TRUE(g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) << (error ? error->message : "no error");
  trickler.join();

  LoopbackPair limited;
  ASSERT_TRUE(limited.send("abcdef"));
  g_autoptr(GInputStream) bounded = ryx_deadline_input_stream_new(limited.server, 2000);
  ryx_deadline_input_stream_set_take_limit(RYX_DEADLINE_INPUT_STREAM(bounded), 4);
  char buffer[8] = {};
  gsize count = 0;
  EXPECT_TRUE(g_input_stream_read_all(bounded, buffer, sizeof buffer, &count, nullptr, nullptr));
  EXPECT_EQ("abcd", std::string(buffer, count)) << "the limit reads as the end of the stream";
}

// The console port reads every handshake through one stream and one reader,
// aimed at each connection in turn: nothing of one connection may reach the
// next, and the take limit counts anew for each.
TEST(DeadlineInputStream, OneStreamServesConnectionAfterConnection) {
  for (bool take : {true, false}) {
    SCOPED_TRACE(take ? "take limit" : "peek");
    g_autoptr(GInputStream) input = ryx_deadline_input_stream_new(nullptr, 0);
    if (take) ryx_deadline_input_stream_set_take_limit(RYX_DEADLINE_INPUT_STREAM(input), 22);
    g_autoptr(GvcDataInputStream) reader = gvc_data_input_stream_new(input);
    g_filter_input_stream_set_close_base_stream(G_FILTER_INPUT_STREAM(reader), FALSE);

    g_autoptr(GError) error = nullptr;
    g_autofree char *none = gvc_data_input_stream_read_string(reader, nullptr, nullptr, nullptr, &error);
    EXPECT_EQ(nullptr, none);
    EXPECT_TRUE(g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_CONNECTED)) << "a read before any connection";

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
    // With the take limit, the first connection's 22 bytes and the second's
    // own limit; without, what the reader did not use stays.
    EXPECT_EQ(leftInSocket(first.server, 16), take ? "678"
                                                   : "\x02"
                                                     "12345678");
    EXPECT_EQ(leftInSocket(second.server, 16), "<Update>");
  }
}

// The console port takes a handshake with what follows it in one receive and
// hands the rest to the application: nothing may be lost or handed twice.
TEST(DeadlineInputStream, WhatTheHandshakeLeavesIsHandedOverOnce) {
  const std::string update = "<Update>\n</Update>\n";
  LoopbackPair pair;
  ASSERT_TRUE(pair.send(std::string("RVN Dashboard Thread\n\0", 22) + update));
  g_autoptr(GInputStream) input = ryx_deadline_input_stream_new(pair.server, 2000);
  auto *stream = RYX_DEADLINE_INPUT_STREAM(input);
  ryx_deadline_input_stream_set_take_limit(stream, 4096);
  g_autofree char *text = readHandshake(input, nullptr);
  EXPECT_STREQ("RVN Dashboard Thread\n", text);
  g_autoptr(GBytes) rest = ryx_deadline_input_stream_take_unread(stream);
  ASSERT_NE(nullptr, rest);
  EXPECT_EQ(update, std::string(static_cast<const char *>(g_bytes_get_data(rest, nullptr)), g_bytes_get_size(rest)));
  EXPECT_EQ(nullptr, ryx_deadline_input_stream_take_unread(stream));
  EXPECT_EQ("", leftInSocket(pair.server, 64));
}

}  // namespace
