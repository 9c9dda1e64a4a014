// SPDX-License-Identifier: MIT
// Registry hives kept as text files.  A change works on the file under an
// exclusive advisory lock (a companion ".lock" file, since the hive itself
// is replaced on every write), reads it whole, and writes it back through a
// temporary file, fsync and rename, so a reader never sees a torn hive and
// needs no lock.  A read parses the file once and keeps it while the file
// stays the same (same inode, size, modification and change times, and
// quiet for a second or two before it was read): the periodic check reads
// the same hive several times every 2 seconds.  A hive
// that cannot be parsed is moved aside under the lock, never overwritten.
#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "platform/posix/registry_file.h"

namespace ryx::platform {

class RegKey {
 public:
  Hive hive;
  std::string path;  // below the hive root, after view mapping
  uint32_t access;
};

void RegKeyDeleter::operator()(RegKey *key) const { delete key; }

namespace {

using regfile::HiveData;

const char *rootName(Hive hive) { return hive == Hive::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE"; }

std::string hiveFolder(Hive hive) {
  if (const char *dir = getenv("RYX_REGISTRY_DIR"); dir != nullptr && *dir != '\0') return dir;
  if (hive == Hive::LocalMachine) return "/etc/ryx/registry";
  const char *config = getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config != nullptr && *config == '/') {
    base = config;
  } else {
    const char *home = getenv("HOME");
    base = std::string(home != nullptr ? home : "") + "/.config";
  }
  return base + "/ryx/registry";
}

std::string hiveFile(Hive hive) {
  return hiveFolder(hive) + (hive == Hive::CurrentUser ? "/user.reg" : "/machine.reg");
}

bool makeFolders(const std::string &folder, mode_t mode) {
  std::string partial;
  size_t start = 0;
  while (start <= folder.size()) {
    size_t slash = folder.find('/', start);
    if (slash == std::string::npos) slash = folder.size();
    partial = folder.substr(0, slash);
    start = slash + 1;
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Normalises a key path and applies the 32-bit view of HKLM\Software.
std::string mapPath(Hive hive, const char *subKey, uint32_t access) {
  std::string path(subKey != nullptr ? subKey : "");
  while (!path.empty() && path.front() == '\\') path.erase(path.begin());
  while (!path.empty() && path.back() == '\\') path.pop_back();
  if (hive == Hive::LocalMachine && (access & kKeyWow64_32Key) != 0) {
    std::string_view view(path);
    if (regfile::namesEqual(view.substr(0, 8), "Software") && (path.size() == 8 || path[8] == '\\'))
      path.insert(8, "\\WOW6432Node");
  }
  return path;
}

// What identifies one version of a hive file: a write renames a new file
// into place (new inode); an edit in place changes the times.
struct FileVersion {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  struct timespec modified = {}, changed = {};

  explicit FileVersion(const struct stat &st)
      : device(st.st_dev), inode(st.st_ino), size(st.st_size), modified(st.st_mtim), changed(st.st_ctim) {}
  FileVersion() = default;
  bool operator==(const FileVersion &o) const {
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
           changed.tv_nsec == o.changed.tv_nsec;
  }
};

// The last hive read, per hive, with the file and version it came from.
struct ReadCache {
  std::string file;
  FileVersion version;
  HiveData data;
};
std::mutex cacheMutex;
ReadCache readCaches[2];

ReadCache &readCache(Hive hive) { return readCaches[hive == Hive::CurrentUser ? 0 : 1]; }

// One session on a hive file: locked for a change, lock-free for a read.
class HiveSession {
 public:
  explicit HiveSession(Hive hive) : hive_(hive), file_(hiveFile(hive)) {}
  ~HiveSession() {
    if (lockFd_ >= 0) close(lockFd_);  // closing releases the lock
  }
  HiveSession(const HiveSession &) = delete;
  HiveSession &operator=(const HiveSession &) = delete;

  // Reads the hive; for writing, locked and creating the folder if needed.
  long open(bool forWriting) {
    // A read looks at the file alone: no folder means no file, an empty hive.
    if (!forWriting && readUnlocked()) return kRegOk;
    std::string folder = hiveFolder(hive_);
    struct stat st;
    if (stat(folder.c_str(), &st) != 0) {
      if (!forWriting) return kRegOk;  // no folder: an empty hive
      if (!makeFolders(folder, 0700)) return kRegFailed;
    }
    lockFd_ = ::open((file_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd_ < 0) {
      // A read-only folder still lets us read a hive that is there.
      if (forWriting) return kRegFailed;
    } else {
      while (flock(lockFd_, LOCK_EX) != 0) {
        if (errno != EINTR) return kRegFailed;
      }
    }
    return load();
  }

  HiveData &data() { return data_; }

  long save() {
    std::string text = regfile::formatHive(data_, rootName(hive_));
    std::string temporary = file_ + ".tmp-" + std::to_string(getpid());
    mode_t mode = hive_ == Hive::CurrentUser ? 0600 : 0644;
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return kRegFailed;
    bool ok = fchmod(fd, mode) == 0;
    size_t done = 0;
    while (ok && done < text.size()) {
      ssize_t n = write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0)
        ok = false;
      else
        done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    ok = ok && rename(temporary.c_str(), file_.c_str()) == 0;
    if (!ok) {
      unlink(temporary.c_str());
      return kRegFailed;
    }
    int dirFd = ::open(hiveFolder(hive_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      fsync(dirFd);
      close(dirFd);
    }
    return kRegOk;
  }

 private:
  // A read without the lock: the cached hive when the file is the version
  // it came from, else the file read and parsed (and cached).  False when
  // the file cannot be read or parsed: the locked path reads it again and
  // deals with it.
  bool readUnlocked() {
    struct stat st;
    if (stat(file_.c_str(), &st) != 0) {
      if (errno != ENOENT) return false;
      data_.keys.clear();  // no file: an empty hive
      return true;
    }
    {
      std::lock_guard<std::mutex> hold(cacheMutex);
      ReadCache &cache = readCache(hive_);
      if (cache.file == file_ && cache.version == FileVersion(st)) {
        data_ = cache.data;
        return true;
      }
    }
    std::string text;
    FileVersion version;
    if (!readFile(&text, &version)) return false;
    std::string error;
    if (!regfile::parseHive(text, rootName(hive_), &data_, &error)) return false;
    // File times tick in steps of a few milliseconds: a file changed in
    // the last second might change again without its times moving, so it
    // is not kept until it has been quiet for a while.
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec - version.changed.tv_sec < 2) return true;
    std::lock_guard<std::mutex> hold(cacheMutex);
    readCache(hive_) = ReadCache{file_, version, data_};
    return true;
  }

  // The whole file and the version read (from the open descriptor).
  bool readFile(std::string *text, FileVersion *version) {
    int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    if (ok) *version = FileVersion(st);
    char buffer[8192];
    while (ok) {
      ssize_t n = read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = n == 0;
        break;
      }
      text->append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return ok;
  }

  long load() {
    data_.keys.clear();  // what a failed read without the lock left
    std::string text;
    FileVersion version;
    if (!readFile(&text, &version)) return errno == ENOENT ? kRegOk : kRegFailed;
    std::string error;
    if (regfile::parseHive(text, rootName(hive_), &data_, &error)) return kRegOk;
    setAside(error);
    data_.keys.clear();
    return kRegOk;
  }

  void setAside(const std::string &reason) {
    char stamp[32];
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%S", &tm);
    std::string aside = file_ + ".corrupt-" + stamp;
    for (int n = 1; access(aside.c_str(), F_OK) == 0; ++n)
      aside = file_ + ".corrupt-" + stamp + "-" + std::to_string(n);
    if (rename(file_.c_str(), aside.c_str()) == 0)
      fprintf(stderr, "ryx: registry hive %s cannot be read (%s); moved aside to %s\n", file_.c_str(), reason.c_str(),
              aside.c_str());
    else
      fprintf(stderr, "ryx: registry hive %s cannot be read (%s) and cannot be moved aside: %s\n", file_.c_str(),
              reason.c_str(), strerror(errno));
  }

  Hive hive_;
  std::string file_;
  int lockFd_ = -1;
  HiveData data_;
};

long openKey(Hive hive, const char *subKey, uint32_t access, bool create, RegKeyPtr *out) {
  if (out == nullptr) return kRegInvalidParameter;
  out->reset();
  std::string path = mapPath(hive, subKey, access);
  HiveSession session(hive);
  long rc = session.open(create);
  if (rc != kRegOk) return rc;
  if (!session.data().keyExists(path)) {
    if (!create) return kRegFileNotFound;
    bool created = false;
    session.data().ensureKey(path, &created);
    rc = session.save();
    if (rc != kRegOk) return rc;
  }
  out->reset(new RegKey{hive, std::move(path), access});
  return kRegOk;
}

}  // namespace

long regOpenKey(Hive hive, const char *subKey, uint32_t access, RegKeyPtr *out) {
  return openKey(hive, subKey, access, false, out);
}

long regCreateKey(Hive hive, const char *subKey, uint32_t access, RegKeyPtr *out) {
  return openKey(hive, subKey, access, true, out);
}

long regQueryValue(RegKey *key, const char *name, uint32_t *type, void *data, uint32_t *size) {
  if (key == nullptr || (data != nullptr && size == nullptr)) return kRegInvalidParameter;
  if ((key->access & kKeyQueryValue) == 0) return kRegAccessDenied;
  HiveSession session(key->hive);
  long rc = session.open(false);
  if (rc != kRegOk) return rc;
  regfile::Key *stored = session.data().findKey(key->path);
  regfile::Value *value = stored != nullptr ? regfile::findValue(*stored, name != nullptr ? name : "") : nullptr;
  if (value == nullptr) return kRegFileNotFound;
  if (type != nullptr) *type = value->type;
  uint32_t needed = static_cast<uint32_t>(value->data.size());
  if (data != nullptr && *size < needed) {
    *size = needed;
    return kRegMoreData;
  }
  if (data != nullptr && needed > 0) memcpy(data, value->data.data(), needed);
  if (size != nullptr) *size = needed;
  return kRegOk;
}

long regSetValue(RegKey *key, const char *name, uint32_t type, const void *data, uint32_t size) {
  if (key == nullptr || (data == nullptr && size > 0)) return kRegInvalidParameter;
  if ((key->access & kKeySetValue) == 0) return kRegAccessDenied;
  HiveSession session(key->hive);
  long rc = session.open(true);
  if (rc != kRegOk) return rc;
  // A key deleted by someone else since it was opened is created again.
  bool created = false;
  regfile::Key &stored = session.data().ensureKey(key->path, &created);
  regfile::Value value;
  value.name = name != nullptr ? name : "";
  value.type = type;
  const auto *bytes = static_cast<const uint8_t *>(data);
  value.data.assign(bytes, bytes + size);
  if (regfile::Value *existing = regfile::findValue(stored, value.name)) {
    existing->type = value.type;
    existing->data = std::move(value.data);
  } else {
    stored.values.push_back(std::move(value));
  }
  return session.save();
}

}  // namespace ryx::platform
