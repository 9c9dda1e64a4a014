// SPDX-License-Identifier: MIT
#include "platform/session.h"

#include <cstdlib>
#include <cstring>

#if RYX_HAVE_LIBSYSTEMD
#include <systemd/sd-login.h>
#endif

namespace ryx::platform {

bool isRemoteSession() {
  const char *forced = getenv("RYX_REMOTE_SESSION");
  if (forced != nullptr && strcmp(forced, "1") == 0) return true;
  if (forced != nullptr && strcmp(forced, "0") == 0) return false;
#if RYX_HAVE_LIBSYSTEMD
  // Reads logind's state files under /run; no bus round trip, no waiting.
  char *session = nullptr;
  if (sd_pid_get_session(0, &session) < 0 || session == nullptr) return false;
  int remote = sd_session_is_remote(session);
  free(session);
  return remote > 0;
#else
  return false;
#endif
}

bool notificationAreaMayBeOnSessionBus() { return true; }

}  // namespace ryx::platform
