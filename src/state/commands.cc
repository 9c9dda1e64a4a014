// SPDX-License-Identifier: MIT
#include "state/commands.h"

#include <string>

#include "common/conf_settings.h"
#include "common/install_root.h"
#include "common/logger.h"
#include "platform/dynamic_library.h"
#include "platform/shell_folders.h"

namespace ryx {

namespace {

constexpr size_t kGridPathSize = 260;

}  // namespace

bool Commands::isRyxOn(bool directX) {
  uint32_t value = 0;  // a shorter value (e.g. a one-character string) fills only its own bytes
  if (readProductDword(directX ? kDirectXStatusValue : kStatusValue, &value)) return value != 0;

  // Missing, unreadable or larger than 4 bytes: start the user switched on.
  if (!createProductKey()) {
    RYX_LOG_ERROR("ryx::Commands::isRyxOn", "Error creating registry key to store RYX status.");
    return false;
  }
  bool statusWritten = writeProductDword(kStatusValue, 1);
  bool directXWritten = writeProductDword(kDirectXStatusValue, 1);
  return statusWritten && directXWritten;
}

bool Commands::isWrapperInstalled() const {
  platform::Library *library = platform::loadLibrary("opengl32");
  if (library == nullptr) {
    printError("No OpenGL library could be found on this system.\n");
    return false;
  }
  platform::Library *again = platform::loadLibrary("opengl32");
  bool exported = platform::findSymbol(again, "ryxEnabled") != nullptr;
  platform::freeLibrary(again);
  platform::freeLibrary(library);
  return exported;
}

bool Commands::isGridAvailable() {
  if (usesExternalRenderingServer()) return true;
  if (gridAttempted_) return gridLoaded_;
  gridAttempted_ = true;

  std::string folder;
  char path[kGridPathSize];
  if (!platform::getShellFolder(platform::ShellFolder::System, &folder)) return false;
  int length = formatInto(path, sizeof path, "%s%cNvIFR64.dll", folder.c_str(), platform::kPathSeparator);
  if (length < 0 || static_cast<size_t>(length) >= sizeof path) return false;  // a cut path names another file

  uint32_t previousMode = platform::setErrorMode(platform::kFailCriticalErrors);
  platform::Library *library = platform::loadLibrary(path);
  platform::setErrorMode(previousMode);
  if (library != nullptr) {
    platform::freeLibrary(library);
    gridLoaded_ = true;
  }
  return gridLoaded_;
}

bool Commands::usesExternalRenderingServer() const {
  const conf::Settings &settings = conf::Settings::instance();
  const char *server = settings.rendering_server.get();
  return !settings.force_local_rendering && server != nullptr && *server != '\0';
}

bool Commands::updateStatus() {
  bool wrapperFound = isWrapperInstalled();
  bool gridUsable = true;
  if (isRyxOn(true)) gridUsable = isGridAvailable();

  if (!wrapperFound)
    setStatus(STATUS_NOT_ENABLED, kNotEnabledMessage);  // wins over everything else
  else if (gridUsable)
    setStatus(STATUS_OK, nullptr);
  else
    setStatus(STATUS_GRID_LIBRARY_MISSING, kGridLibraryMissingMessage);
  return wrapperFound;
}

bool Commands::switchRyx(bool on) {
  const uint32_t value = on ? 1 : 0;
  bool allWritten = true;
  for (const char *name : {kStatusValue, kDirectXStatusValue}) {
    clearStatus();
    if (updateStatus())
      allWritten = writeProductDword(name, value) && allWritten;
    else
      allWritten = false;
  }
  return allWritten;
}

void Commands::clearStatus() { setStatus(STATUS_OK, nullptr); }

void Commands::setStatus(int32_t code, const char *message) {
  message_.reset();  // the old message goes first
  code_ = code;
  message_ = copyCString(message);
}

}  // namespace ryx
