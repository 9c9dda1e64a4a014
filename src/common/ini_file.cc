// SPDX-License-Identifier: MIT
#include "common/ini_file.h"

#include <algorithm>
#include <cstring>

#include "platform/file.h"

namespace ryx {

namespace {

// White space and upper case as the C library's default ("C") locale
// classifies them, whatever locale the program later sets.
bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
char toUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Scans for `wanted`, stopping at an inline comment: a ';' right after white
// space.  Returns the index found, or npos.
size_t scanFor(const char *text, char wanted) {
  for (size_t i = 0; text[i] != '\0'; ++i) {
    if (text[i] == wanted) return i;
    if (text[i] == ';' && i > 0 && isSpace(text[i - 1])) return std::string::npos;
  }
  return std::string::npos;
}

}  // namespace

IniFile::IniFile(const char *filename) {
  if (filename != nullptr) filename_ = filename;
}

IniFile::~IniFile() = default;

const char *IniFile::errorText(int32_t code) {
  switch (code) {
    case kNoError: return "No error.";
    case kParserError: return "Parser error.";
    case kUserFunctionError: return "User function error.";
    case kNoUserFunction: return "No user function available.";
    case kInvalidArgument: return "Invalid argument";
    case kOutOfMemory: return "Out of memory.";
    case kNoSuchFile: return "No such file or directory.";
    default: return "Unknown error.";
  }
}

void IniFile::makeKey(std::string_view section, std::string_view name, std::string *key) {
  key->clear();
  for (char c : section) key->push_back(toUpper(c));
  key->append("::");
  for (char c : name) key->push_back(toUpper(c));
}

namespace {

// FNV-1a.
uint32_t indexHash(std::string_view key) {
  uint32_t h = 2166136261u;
  for (char c : key) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  return h;
}

}  // namespace

IniFile::Entry *IniFile::find(std::string_view key) const {
  if (index_.empty()) return nullptr;
  uint32_t hash = indexHash(key);
  size_t mask = index_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot &slot = index_[i];
    if (slot.entry == 0) return nullptr;
    if (slot.hash == hash) {
      Entry *entry = const_cast<Entry *>(&entries_[slot.entry - 1]);
      if (entry->key == key) return entry;
    }
  }
}

void IniFile::growIndex(size_t atLeast) {
  size_t size = index_.empty() ? 64 : index_.size() * 2;
  while (size < atLeast) size *= 2;
  std::vector<Slot> bigger(size, Slot{0, 0});
  size_t mask = bigger.size() - 1;
  for (const Slot &slot : index_) {
    if (slot.entry == 0) continue;
    size_t i = slot.hash & mask;
    while (bigger[i].entry != 0) i = (i + 1) & mask;
    bigger[i] = slot;
  }
  index_.swap(bigger);
}

const char *IniFile::copyText(const char *text, size_t length) {
  char *copy = nullptr;
  if (length + 1 > kArenaBlock / 4) {  // a long text gets a block of its own
    bigTexts_.push_back(std::make_unique<char[]>(length + 1));
    copy = bigTexts_.back().get();
  } else {
    if (kArenaBlock - arenaUsed_ < length + 1) {
      arena_.push_back(std::make_unique<char[]>(kArenaBlock));
      arenaUsed_ = 0;
    }
    copy = arena_.back().get() + arenaUsed_;
    arenaUsed_ += length + 1;
  }
  memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

void IniFile::setError(int32_t code, int32_t line) {
  error_ = std::make_unique<Error>();
  error_->code = code;
  error_->line = line;
  snprintf(error_->text, sizeof error_->text, "%s", errorText(code));
}

void IniFile::clear() {
  entries_.clear();
  index_.clear();
  arena_.clear();
  bigTexts_.clear();
  arenaUsed_ = kArenaBlock;
  error_.reset();
}

void IniFile::store(std::string_view key, const char *value, size_t valueLength) {
  const char *copy = copyText(value, valueLength);
  if (Entry *entry = find(key)) {
    entry->value = copy;  // the old text stays in the arena until the next load
    return;
  }
  if ((entries_.size() + 1) * 2 > index_.size()) growIndex();
  const char *keyCopy = copyText(key.data(), key.size());
  entries_.push_back(Entry{std::string_view(keyCopy, key.size()), copy});
  uint32_t hash = indexHash(key);
  size_t mask = index_.size() - 1;
  size_t i = hash & mask;
  while (index_[i].entry != 0) i = (i + 1) & mask;
  index_[i] = Slot{hash, static_cast<uint32_t>(entries_.size())};
}

const char *IniFile::getValue(const char *section, const char *name) const {
  if (error_) {
    fputs("Cannot get value: Parser is in error state\n", stderr);
    return nullptr;
  }
  if (section == nullptr || *section == '\0') {
    fputs("Cannot get value: Section is empty\n", stderr);
    return nullptr;
  }
  if (name == nullptr || *name == '\0') {
    fputs("Cannot get value: Name is empty\n", stderr);
    return nullptr;
  }
  std::string key;
  makeKey(section, name, &key);
  Entry *entry = find(key);
  return entry != nullptr ? entry->value : nullptr;
}

bool IniFile::load() {
  clear();
  const char *name = getFilename();
  if (name == nullptr || *name == '\0') {
    fputs("Cannot parse file: Filename is empty\n", stderr);
    setError(kNoSuchFile, 0);
    fprintf(stderr, "Cannot open .ini file \"%s\": %s\n", name != nullptr ? name : "(null)", error_->text);
    return false;
  }
  FILE *stream = fopen(name, "r");
  // A folder opens on some platforms but is no file to read.
  platform::FileFacts facts;
  if (stream != nullptr && (!platform::streamFacts(stream, &facts) || facts.isFolder)) {
    fclose(stream);
    stream = nullptr;
  }
  if (stream == nullptr) {
    setError(kNoSuchFile, 0);
    fprintf(stderr, "Cannot open .ini file \"%s\": %s\n", name, error_->text);
    return false;
  }
  bool ok = parse(stream);
  fclose(stream);
  if (!ok) fprintf(stderr, "Cannot parse .ini file \"%s\": %s (line %d)\n", name, error_->text, error_->line);
  return ok;
}

bool IniFile::parse(FILE *stream) {
  // Size the index once for the file: a line of a settings file is rarely
  // shorter than 16 bytes, and rehashing a large table is what costs.
  platform::FileFacts facts;
  if (platform::streamFacts(stream, &facts) && facts.size > 0)
    growIndex(static_cast<size_t>(std::min<uint64_t>(facts.size / 16 * 2, uint64_t{1} << 24)));

  char buffer[kLineBuffer];
  std::string section;
  int32_t lineNumber = 0;
  // Lines are read in pieces of at most 199 bytes; each piece counts as a line.
  while (platform::readLine(buffer, static_cast<int>(sizeof buffer), stream) != nullptr) {
    ++lineNumber;
    size_t length = strlen(buffer);
    while (length > 0 && isSpace(buffer[length - 1])) buffer[--length] = '\0';
    char *line = buffer;
    while (*line != '\0' && isSpace(*line)) ++line;
    if (*line == '\0' || *line == ';' || *line == '#') continue;

    if (*line == '[') {
      const char *start = line + 1;
      size_t close = std::string::npos;
      for (size_t i = 0; start[i] != '\0'; ++i) {
        if (start[i] == ']') {
          close = i;
          break;
        }
        if (start[i] == ';' && i > 0 && isSpace(start[i - 1])) break;
      }
      if (close == std::string::npos) {
        setError(kParserError, lineNumber);
        return false;
      }
      section.assign(start, close < kSectionLength ? close : kSectionLength);
      continue;
    }

    size_t separator = scanFor(line, '=');
    if (separator == std::string::npos) separator = scanFor(line, ':');
    if (separator == std::string::npos) {
      setError(kParserError, lineNumber);
      return false;
    }
    size_t nameEnd = separator;
    while (nameEnd > 0 && isSpace(line[nameEnd - 1])) --nameEnd;
    std::string_view name(line, nameEnd);

    const char *value = line + separator + 1;
    while (*value != '\0' && isSpace(*value)) ++value;
    size_t valueEnd = strlen(value);
    // The value's own first character never counts as following white space.
    for (size_t i = 1; i < valueEnd; ++i) {
      if (value[i] == ';' && isSpace(value[i - 1])) {
        valueEnd = i;
        break;
      }
    }
    while (valueEnd > 0 && isSpace(value[valueEnd - 1])) --valueEnd;
    makeKey(section, name, &scratchKey_);
    store(scratchKey_, value, valueEnd);
  }
  return true;
}

}  // namespace ryx
