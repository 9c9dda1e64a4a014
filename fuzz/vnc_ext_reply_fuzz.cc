// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes as the extension's reply to each of the three
// requests; whatever the decoder accepts must keep its promises.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "integration/vnc-ext-protocol.h"

namespace {

using ryx::platform::PipeIo;

// Requests vanish; replies come from the fuzzer's bytes, which end like a
// pipe whose server closed.
class MemoryChannel : public ryx::vncext::Channel {
 public:
  MemoryChannel(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  PipeIo write(const void *, uint32_t size, uint32_t *written) override {
    *written = size;
    return PipeIo::kOk;
  }
  PipeIo read(void *buffer, uint32_t size, uint32_t *read) override {
    size_t n = size < size_ - at_ ? size : size_ - at_;
    if (n > 0) memcpy(buffer, data_ + at_, n);
    at_ += n;
    *read = static_cast<uint32_t>(n);
    return PipeIo::kOk;
  }
  PipeIo readSome(void *buffer, uint32_t size, uint32_t *read) override { return this->read(buffer, size, read); }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  MemoryChannel channel(data + 1, size - 1);
  switch (data[0] % 3) {
    case 0: {
      guint64 *ids = nullptr;
      int32_t count = ryx::vncext::requestViewerList(channel, &ids);
      if (count < 0 || static_cast<size_t>(count) * 8 > size) abort();
      if ((count > 0) != (ids != nullptr)) abort();
      for (int32_t i = 0; i < count; ++i) (void)ids[i];  // every slot is there
      free(ids);
      break;
    }
    case 1: {
      RyxExtViewerInfo info;
      memset(&info, 0x55, sizeof info);
      if (ryx::vncext::requestViewerInfo(channel, 42, &info)) {
        if (info.id != 42 || memchr(info.name, '\0', sizeof info.name) == nullptr) abort();
        if ((info.supports_rvn != TRUE && info.supports_rvn != FALSE) ||
            (info.second_flag != TRUE && info.second_flag != FALSE))
          abort();
      } else if (info.id != 0x5555555555555555u) {
        abort();  // a failure leaves the record alone
      }
      break;
    }
    default: {
      bool accepted = ryx::vncext::requestTrackWindow(channel, 7, "payload", 8);
      if (accepted && !(size == 2 && data[1] == 1)) abort();
      break;
    }
  }
  return 0;
}
