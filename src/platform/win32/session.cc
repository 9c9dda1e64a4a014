// SPDX-License-Identifier: MIT
#include "platform/session.h"

#include <windows.h>

namespace ryx::platform {

bool isRemoteSession() { return GetSystemMetrics(SM_REMOTESESSION) != 0; }

bool notificationAreaMayBeOnSessionBus() { return false; }

}  // namespace ryx::platform
