// SPDX-License-Identifier: MIT
// The bytes of the extension's three requests and their replies, over any
// byte channel, so that the pipe client, the tests and the fuzzer share one
// decoder.  Requests and replies (except TrackWindow's bare status byte)
// are frames: name length L (1 byte), the name (L bytes, no terminator),
// payload length P (4 bytes, big-endian), the payload.  Integers inside
// payloads are big-endian too.
#pragma once

#include <cstdint>

#include "integration/vnc-ext-pipe.h"
#include "platform/named_pipe.h"

namespace ryx::vncext {

// One exchange's byte stream.  read() waits for the whole count or the end
// of the stream; readSome() returns what the next arrival brings.
class Channel {
 public:
  virtual ~Channel() = default;
  virtual platform::PipeIo write(const void *data, uint32_t size, uint32_t *written) = 0;
  virtual platform::PipeIo read(void *buffer, uint32_t size, uint32_t *read) = 0;
  virtual platform::PipeIo readSome(void *buffer, uint32_t size, uint32_t *read) = 0;
};

// The three exchanges, with the results of GetViewerList, GetViewerInfo and
// TrackWindow (see vnc-ext-pipe.h); the pipe is the caller's business.
int32_t requestViewerList(Channel &channel, guint64 **ids);
bool requestViewerInfo(Channel &channel, guint64 id, RyxExtViewerInfo *info);
bool requestTrackWindow(Channel &channel, guint64 window, const void *data, uint32_t length);

// Decodes a GetViewerInfo payload: RVN flag, second flag (each true only
// when it is 1), name length N, N name bytes.  False, with *info untouched,
// when the payload is shorter than 3 or than 3 + N bytes.
bool decodeViewerInfo(const uint8_t *payload, uint32_t size, guint64 id, RyxExtViewerInfo *info);

}  // namespace ryx::vncext
