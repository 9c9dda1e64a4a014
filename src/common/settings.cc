// SPDX-License-Identifier: MIT
#include "common/settings.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/cstring.h"
#include "common/install_root.h"
#include "platform/file.h"

namespace ryx {

namespace {

// Sizes of the buffers environment values are read into; a longer value is
// ignored as if unset.
constexpr size_t kStringBuffer = 1024;
constexpr size_t kIntBuffer = 32;
constexpr size_t kBoolBuffer = 8;

bool isPresent(const char *text) { return text != nullptr && *text != '\0' && strcmp(text, "<null>") != 0; }

bool exists(const std::string &path) { return platform::pathExists(path.c_str()); }

// An environment value that fits the buffer, trimmed; empty when unset.
std::string readEnvironment(const char *name, size_t bufferSize) {
  if (name == nullptr) return {};
  const char *value = getenv(name);
  if (value == nullptr || strlen(value) >= bufferSize) return {};
  std::string text(value);
  size_t start = 0;
  while (start < text.size() && isspace(static_cast<unsigned char>(text[start]))) ++start;
  size_t end = text.size();
  while (end > start && isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(start, end - start);
}

std::string pathOf(std::initializer_list<const char *> parts) {
  CString joined = joinPath(parts);
  return joined ? std::string(joined.get()) : std::string();
}

// A file missing at construction is taken in once it exists; a file that
// fails to parse is reported once and stays out for the rest of the object's
// life, so a broken file costs one message, not one per reload.
void reloadFile(std::unique_ptr<IniFile> &file, const std::string &path, bool &dropped) {
  if (!file && !dropped && exists(path)) file = std::make_unique<IniFile>(path.c_str());
  if (!file) return;
  file->load();
  if (const IniFile::Error *error = file->getError()) {
    fprintf(stderr, "Cannot parse .ini file \"%s\":<errnum %d> <linenum %d> <errstr %s>\n", file->getFilename(),
            error->code, error->line, error->text);
    file.reset();
    dropped = true;
  }
}

}  // namespace

Settings::Settings() {
  char root[kInstallRootSize];
  getInstallRoot(root);
  systemPath_ = pathOf({root, "conf", "ryx.conf"});
  if (!systemPath_.empty()) adminPath_ = systemPath_ + ".admin";

  const char *rawUserDir = getenv("RYX_USER_CONFIG_DIR");
  if (rawUserDir != nullptr && *rawUserDir != '\0' && strlen(rawUserDir) < kStringBuffer)
    userPath_ = pathOf({rawUserDir, "ryx.conf"});
  else
    userPath_ = pathOf({getHomeFolder().c_str(), "ryx", "conf", "ryx.conf"});

  if (exists(userPath_)) userFile_ = std::make_unique<IniFile>(userPath_.c_str());
  if (exists(systemPath_)) systemFile_ = std::make_unique<IniFile>(systemPath_.c_str());
  if (exists(adminPath_)) adminFile_ = std::make_unique<IniFile>(adminPath_.c_str());
}

Settings::~Settings() = default;

void Settings::reload() {
  reloadFile(adminFile_, adminPath_, adminDropped_);
  reloadFile(userFile_, userPath_, userDropped_);
  reloadFile(systemFile_, systemPath_, systemDropped_);
}

bool Settings::parseInt(const char *text, int32_t *value) {
  if (text == nullptr || *text == '\0') return false;
  char *end = nullptr;
  errno = 0;
  long number = strtol(text, &end, 10);
  if (end == text || *end != '\0') return false;
  if (number > INT32_MAX) number = INT32_MAX;
  if (number < INT32_MIN) number = INT32_MIN;
  *value = static_cast<int32_t>(number);
  return true;
}

bool Settings::parseBool(const char *text, bool *value) {
  if (text == nullptr) return false;
  if (equalsIgnoringCase(text, "false")) {
    *value = false;
    return true;
  }
  if (equalsIgnoringCase(text, "true")) {
    *value = true;
    return true;
  }
  int32_t number = 0;
  if (parseInt(text, &number) && (number == 0 || number == 1)) {
    *value = number == 1;
    return true;
  }
  return false;
}

template <typename Accept>
Settings::Found Settings::find(const char *envName, const char *section, const char *key, size_t envBuffer,
                               Accept accept) const {
  Found found;
  auto fromFile = [&](const std::unique_ptr<IniFile> &file, Origin origin) {
    if (!file) return false;
    const char *text = file->getValue(section, key);
    if (!isPresent(text) || !accept(text)) return false;
    found.origin = origin;
    found.text = text;
    return true;
  };
  if (fromFile(adminFile_, Origin::Admin)) return found;
  std::string env = readEnvironment(envName, envBuffer);
  if (isPresent(env.c_str()) && accept(env.c_str())) {
    found.origin = Origin::Environment;
    found.environmentText = std::move(env);
    found.text = found.environmentText.c_str();
    return found;
  }
  if (fromFile(userFile_, Origin::User)) return found;
  if (fromFile(systemFile_, Origin::System)) return found;
  return found;
}

Settings::Found Settings::findString(const char *envName, const char *section, const char *key) const {
  return find(envName, section, key, kStringBuffer, [](const char *) { return true; });
}

Settings::Found Settings::findInt(const char *envName, const char *section, const char *key, int32_t *value) const {
  return find(envName, section, key, kIntBuffer, [value](const char *text) { return parseInt(text, value); });
}

Settings::Found Settings::findBool(const char *envName, const char *section, const char *key, bool *value) const {
  return find(envName, section, key, kBoolBuffer, [value](const char *text) { return parseBool(text, value); });
}

CString Settings::getString(const char *envName, const char *section, const char *key, const char *defaultValue) const {
  Found found = findString(envName, section, key);
  return copyCString(found.origin == Origin::Default ? defaultValue : found.text);
}

int32_t Settings::getInt(const char *envName, const char *section, const char *key, int32_t defaultValue) const {
  int32_t value = defaultValue;
  Found found = findInt(envName, section, key, &value);
  return found.origin == Origin::Default ? defaultValue : value;
}

bool Settings::getBool(const char *envName, const char *section, const char *key, bool defaultValue) const {
  bool value = defaultValue;
  Found found = findBool(envName, section, key, &value);
  return found.origin == Origin::Default ? defaultValue : value;
}

std::string describeOrigin(const Settings &settings, Settings::Origin origin, const char *envName) {
  switch (origin) {
    case Settings::Origin::Admin: return "admin file " + settings.adminPath();
    case Settings::Origin::Environment: return std::string("environment ") + envName;
    case Settings::Origin::User: return "user file " + settings.userPath();
    case Settings::Origin::System: return "system file " + settings.systemPath();
    case Settings::Origin::Default: break;
  }
  return "default";
}

}  // namespace ryx
