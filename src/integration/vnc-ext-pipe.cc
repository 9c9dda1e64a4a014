// SPDX-License-Identifier: MIT
#include "integration/vnc-ext-pipe.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "integration/vnc-ext-pipe-private.h"
#include "integration/vnc-ext-protocol.h"
#include "platform/named_pipe.h"
#include "platform/system.h"

namespace {

using ryx::platform::Pipe;
using ryx::platform::PipeDeadline;
using ryx::platform::PipeIo;

// The two process-wide handles; null is the invalid handle.  Only the main
// thread uses them, one request at a time.
Pipe *sessionPipe = nullptr;
Pipe *notifyPipe = nullptr;

PipeDeadline deadlineFromNow() {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(RYX_EXT_PIPE_TIMEOUT_MS);
}

// The session pipe for one exchange, under one deadline; remembers whether
// the deadline cut it short or the pipe broke.  Reads go through a buffer:
// a reply arrives in one piece, and its fields are read a few bytes at a
// time.  Bytes left in the buffer when the exchange ends were sent beyond
// the reply and go with it, as the rest of a message would on a
// message-mode pipe.
class PipeChannel : public ryx::vncext::Channel {
 public:
  explicit PipeChannel(Pipe *pipe) : pipe_(pipe), deadline_(deadlineFromNow()) {}
  PipeIo write(const void *data, uint32_t size, uint32_t *written) override {
    return note(ryx::platform::writePipe(pipe_, data, size, written, deadline_));
  }
  PipeIo read(void *buffer, uint32_t size, uint32_t *read) override {
    *read = 0;
    char *bytes = static_cast<char *>(buffer);
    while (*read < size) {
      uint32_t got = 0;
      PipeIo result = readSome(bytes + *read, size - *read, &got);
      if (result != PipeIo::kOk) return result;
      if (got == 0) return PipeIo::kOk;  // the server closed: a short read
      *read += got;
    }
    return PipeIo::kOk;
  }
  PipeIo readSome(void *buffer, uint32_t size, uint32_t *read) override {
    *read = 0;
    if (size == 0) return PipeIo::kOk;
    if (start_ == end_) {
      // A large read goes straight to the caller.
      if (size >= sizeof buffer_) return note(ryx::platform::readPipeSome(pipe_, buffer, size, read, deadline_));
      uint32_t got = 0;
      PipeIo result = note(ryx::platform::readPipeSome(pipe_, buffer_, sizeof buffer_, &got, deadline_));
      if (result != PipeIo::kOk) return result;
      start_ = 0;
      end_ = got;
    }
    uint32_t n = std::min(size, end_ - start_);
    memcpy(buffer, buffer_ + start_, n);
    start_ += n;
    *read = n;
    return PipeIo::kOk;
  }
  bool unusable() const { return unusable_; }

 private:
  PipeIo note(PipeIo result) {
    if (result != PipeIo::kOk) unusable_ = true;
    return result;
  }
  Pipe *pipe_;
  PipeDeadline deadline_;
  bool unusable_ = false;
  char buffer_[4096];
  uint32_t start_ = 0, end_ = 0;
};

// After an exchange that ran out of time the pipe may still deliver the
// rest of the late reply, which would be read as the next reply; after one
// that failed the pipe is broken for good (the extension ended, perhaps to
// be started again).  Either way drop it: the next request opens it anew.
void dropSessionPipeIfUnusable(const PipeChannel &channel) {
  if (!channel.unusable()) return;
  ryx::platform::closePipe(sessionPipe);
  sessionPipe = nullptr;
}

}  // namespace

gboolean OpenExtPipe(RyxExtPipeSlot slot) {
  Pipe *&handle = slot == RYX_EXT_PIPE_SESSION ? sessionPipe : notifyPipe;
  if (handle != nullptr) return TRUE;
  const char *kind = slot == RYX_EXT_PIPE_SESSION ? "Session" : "Notify";
  auto access = slot == RYX_EXT_PIPE_SESSION ? ryx::platform::PipeAccess::kReadWrite : ryx::platform::PipeAccess::kRead;

  // The session id stays 0 when the platform cannot tell it.
  uint32_t session = 0;
  ryx::platform::processSessionId(ryx::platform::processId(), &session);

  char name[128];
  snprintf(name, sizeof name, "\\\\.\\pipe\\VNC_Visualization_Ext_%s-%u", kind, session);
  handle = ryx::platform::openPipe(name, access, deadlineFromNow());
  if (handle == nullptr) {
    snprintf(name, sizeof name, "\\\\.\\pipe\\VNC_Visualization_Ext_%s-Console", kind);
    handle = ryx::platform::openPipe(name, access, deadlineFromNow());
  }
  return handle != nullptr;
}

gint32 GetViewerList(guint64 **ids) {
  ryx::platform::clearLastError();
  if (!OpenExtPipe(RYX_EXT_PIPE_SESSION)) return -1;
  PipeChannel channel(sessionPipe);
  gint32 count = ryx::vncext::requestViewerList(channel, ids);
  dropSessionPipeIfUnusable(channel);
  return count;
}

gboolean GetViewerInfo(guint64 id, RyxExtViewerInfo *info) {
  ryx::platform::clearLastError();
  if (!OpenExtPipe(RYX_EXT_PIPE_SESSION)) return FALSE;
  PipeChannel channel(sessionPipe);
  bool ok = ryx::vncext::requestViewerInfo(channel, id, info);
  dropSessionPipeIfUnusable(channel);
  return ok ? TRUE : FALSE;
}

gboolean TrackWindow(guint64 window, const void *data, guint32 length) {
  ryx::platform::clearLastError();
  if (!OpenExtPipe(RYX_EXT_PIPE_SESSION)) return FALSE;
  PipeChannel channel(sessionPipe);
  bool ok = ryx::vncext::requestTrackWindow(channel, window, data, length);
  dropSessionPipeIfUnusable(channel);
  return ok ? TRUE : FALSE;
}

void CloseExtPipesForTesting() {
  ryx::platform::closePipe(sessionPipe);
  ryx::platform::closePipe(notifyPipe);
  sessionPipe = nullptr;
  notifyPipe = nullptr;
}
