// SPDX-License-Identifier: MIT
// One configuration file in INI syntax, read into a table addressed by
// section and name (both without regard to case).  Problems are printed on
// standard error and kept in an error record; while one is held, every
// lookup is refused, so a broken file can be dropped as a whole.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ryx {

class IniFile {
 public:
  enum ErrorCode : int32_t {
    kNoError = 0,
    kParserError = 1,
    kUserFunctionError = 2,
    kNoUserFunction = 3,
    kInvalidArgument = 4,
    kOutOfMemory = 5,
    kNoSuchFile = 6,
  };

  struct Error {
    int32_t code;
    int32_t line;  // 0 when not tied to a line
    char text[128];
  };

  explicit IniFile(const char *filename);
  virtual ~IniFile();
  IniFile(const IniFile &) = delete;
  IniFile &operator=(const IniFile &) = delete;

  // (Re)reads the file from scratch.  False on any failure (see getError).
  bool load();

  // The stored value (owned by this object) or null.
  const char *getValue(const char *section, const char *name) const;

  const Error *getError() const { return error_.get(); }
  const char *getFilename() const { return filename_ ? filename_->c_str() : nullptr; }

  // Parses text as if it had been read from a file; used by load() and fuzzing.
  bool parse(FILE *stream);

  static const char *errorText(int32_t code);

 private:
  // One stored pair.  Texts live in the arena; entries in a deque, so
  // pointers to them stay valid until the next load.
  struct Entry {
    std::string_view key;
    const char *value;
  };
  static constexpr size_t kLineBuffer = 200;
  static constexpr size_t kSectionLength = 49;
  static constexpr size_t kArenaBlock = 64 * 1024;

  static void makeKey(std::string_view section, std::string_view name, std::string *key);
  void store(std::string_view key, const char *value, size_t valueLength);
  Entry *find(std::string_view key) const;
  const char *copyText(const char *text, size_t length);
  void growIndex(size_t atLeast = 0);
  void setError(int32_t code, int32_t line);
  void clear();

  std::optional<std::string> filename_;
  std::deque<Entry> entries_;
  std::vector<std::unique_ptr<char[]>> arena_;
  std::vector<std::unique_ptr<char[]>> bigTexts_;
  size_t arenaUsed_ = kArenaBlock;
  // Open addressing over the entries, so that a large file costs no more
  // than linear time.
  struct Slot {
    uint32_t hash;
    uint32_t entry;  // position in entries_ plus one; 0 for a free slot
  };
  std::vector<Slot> index_;
  std::string scratchKey_;
  std::unique_ptr<Error> error_;
};

}  // namespace ryx
