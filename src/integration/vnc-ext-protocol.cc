// SPDX-License-Identifier: MIT
#include "integration/vnc-ext-protocol.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace ryx::vncext {

namespace {

using platform::PipeIo;

void putU32(uint8_t *at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

void putU64(uint8_t *at, uint64_t value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(value >> (56 - 8 * i));
}

uint32_t getU32(const uint8_t *at) {
  return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 | static_cast<uint32_t>(at[2]) << 8 |
         at[3];
}

uint64_t getU64(const uint8_t *at) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = value << 8 | at[i];
  return value;
}

// A request frame: L, the name, P, then room for P payload bytes.
std::vector<uint8_t> requestFrame(const char *name, uint32_t payloadLength) {
  size_t length = strlen(name);
  std::vector<uint8_t> frame(1 + length + 4 + payloadLength, 0);
  frame[0] = static_cast<uint8_t>(length);
  memcpy(frame.data() + 1, name, length);
  putU32(frame.data() + 1 + length, payloadLength);
  return frame;
}

bool writeWhole(Channel &channel, const std::vector<uint8_t> &frame) {
  uint32_t written = 0;
  return channel.write(frame.data(), static_cast<uint32_t>(frame.size()), &written) == PipeIo::kOk &&
         written == frame.size();
}

bool readExactly(Channel &channel, void *buffer, uint32_t size) {
  uint32_t got = 0;
  return channel.read(buffer, size, &got) == PipeIo::kOk && got == size;
}

// Reads L, the name and P of a reply; false unless all came and the name
// is `expected`, exactly.  A reply named otherwise is left with its P and
// payload unread.
bool readReplyHeader(Channel &channel, const char *expected, uint32_t *payloadLength) {
  uint8_t length = 0;
  if (!readExactly(channel, &length, 1)) return false;
  char name[256];
  if (!readExactly(channel, name, length)) return false;
  name[length] = '\0';
  if (length != strlen(expected) || memcmp(name, expected, length) != 0) return false;
  uint8_t p[4];
  if (!readExactly(channel, p, 4)) return false;
  *payloadLength = getU32(p);
  return true;
}

// Reads a payload of P bytes; P = 0 and P above the bound are failures.
bool readPayload(Channel &channel, uint32_t payloadLength, std::vector<uint8_t> *payload) {
  if (payloadLength == 0 || payloadLength > RYX_EXT_PIPE_MAX_PAYLOAD) return false;
  payload->assign(payloadLength, 0);
  return readExactly(channel, payload->data(), payloadLength);
}

}  // namespace

int32_t requestViewerList(Channel &channel, guint64 **ids) {
  if (ids == nullptr) return -1;
  if (!writeWhole(channel, requestFrame("GetViewerList", 0))) return -1;
  uint32_t payloadLength = 0;
  if (!readReplyHeader(channel, "GetViewerList", &payloadLength)) return 0;
  *ids = nullptr;
  std::vector<uint8_t> payload;
  if (!readPayload(channel, payloadLength, &payload)) return 0;
  // Bytes past the last whole 8 are ignored.
  uint32_t count = payloadLength / 8;
  if (count == 0) return 0;
  // The caller frees the list with free(); hence calloc.
  auto *list = static_cast<guint64 *>(calloc(count, sizeof(guint64)));
  if (list == nullptr) return 0;
  for (uint32_t i = 0; i < count; ++i) list[i] = getU64(payload.data() + 8 * i);
  *ids = list;
  return static_cast<int32_t>(count);
}

bool decodeViewerInfo(const uint8_t *payload, uint32_t size, guint64 id, RyxExtViewerInfo *info) {
  if (size < 3) return false;
  uint8_t nameLength = payload[2];
  if (size - 3 < nameLength) return false;
  info->id = id;
  info->supports_rvn = payload[0] == 1;
  info->second_flag = payload[1] == 1;
  memcpy(info->name, payload + 3, nameLength);
  info->name[nameLength] = '\0';
  return true;
}

bool requestViewerInfo(Channel &channel, guint64 id, RyxExtViewerInfo *info) {
  if (info == nullptr) return false;
  std::vector<uint8_t> request = requestFrame("GetViewerInfo", 8);
  putU64(request.data() + 18, id);
  if (!writeWhole(channel, request)) return false;
  uint32_t payloadLength = 0;
  if (!readReplyHeader(channel, "GetViewerInfo", &payloadLength)) return false;
  std::vector<uint8_t> payload;
  if (!readPayload(channel, payloadLength, &payload)) return false;
  return decodeViewerInfo(payload.data(), payloadLength, id, info);
}

bool requestTrackWindow(Channel &channel, guint64 window, const void *data, uint32_t length) {
  if (length > RYX_EXT_PIPE_MAX_PAYLOAD - 13 || (data == nullptr && length > 0)) return false;
  // P counts the window id (8), the 0x01 byte (1), n (4) and the data.
  std::vector<uint8_t> request = requestFrame("TrackWindow", length + 13);
  putU64(request.data() + 16, window);
  request[24] = 0x01;
  putU32(request.data() + 25, length);
  if (length > 0) memcpy(request.data() + 29, data, length);
  if (!writeWhole(channel, request)) return false;
  // The answer is one bare status byte, not a frame; whatever the first
  // arrival brings is the answer, so an extension that sends one byte and
  // keeps the pipe open is not waited on for more.
  uint8_t reply[16] = {0};
  uint32_t got = 0;
  return channel.readSome(reply, sizeof reply, &got) == PipeIo::kOk && got == 1 && reply[0] == 1;
}

}  // namespace ryx::vncext
