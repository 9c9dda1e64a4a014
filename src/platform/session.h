// SPDX-License-Identifier: MIT
// What kind of desktop session the program runs in.
#pragma once

namespace ryx::platform {

// Whether the process runs inside a remote-desktop session, where the
// count of the VNC server's viewers means nothing to the user.
//
// POSIX rule: the environment variable RYX_REMOTE_SESSION, when set to "1"
// or "0", decides (for sites whose remote sessions logind does not know,
// and for tests).  Otherwise the answer is logind's: the login session of
// this process is remote (sd_session_is_remote: the session was opened for
// a remote host, as xrdp and ssh do).  A process outside any login session,
// or a build without libsystemd, counts as local.
bool isRemoteSession();

// Whether the desktop's notification area may be a StatusNotifierWatcher on
// the D-Bus session bus, besides the toolkit's own tray icon: true on the
// desktops of this platform, false on Windows, whose notification area only
// the toolkit's tray icon reaches.
bool notificationAreaMayBeOnSessionBus();

}  // namespace ryx::platform
