// SPDX-License-Identifier: MIT
// Where the POSIX back-end keeps named pipes: "\\.\pipe\NAME" is the Unix
// domain stream socket NAME in one folder of the user's,
//   $RYX_PIPE_DIR                  when set (tests and the demo move it),
//   $XDG_RUNTIME_DIR/ryx-pipes     in a login session,
//   /tmp/ryx-pipes-UID             otherwise.
// The folder must be a real folder owned by the user that nobody else can
// write to (mode 0700 when we create it); otherwise no pipe in it is used,
// so another user cannot plant a pipe under a name we open.
// Shared by the client back-end and the stand-in servers in peers/.
#pragma once

#include <string>

namespace ryx::platform::pipes {

// The folder above, without a trailing slash.
std::string folder();

// The socket path for a pipe name.  False when `name` does not start with
// "\\.\pipe\" (the word "pipe" in any case), when the rest is empty, "." or
// "..", holds a '/' or '\', or when the path is too long for a socket.
bool socketPath(const char *name, std::string *path);

// True when `path` is a folder owned by this user that group and others
// cannot write to; *error says why not.
bool folderIsSafe(const std::string &path, std::string *error);

// Creates the folder (mode 0700, its parents as needed) unless it exists,
// and checks it as above.
bool prepareFolder(std::string *error);

}  // namespace ryx::platform::pipes
