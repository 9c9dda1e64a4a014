// SPDX-License-Identifier: MIT
#include "common/ini_file.h"

#include <sys/stat.h>

#include <cctype>
#include <cstring>

namespace ryx {

namespace {

bool isSpace(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

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

IniFile::IniFile(const char *filename) : buckets_(kBuckets) {
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

unsigned IniFile::bucketOf(const std::string &key) {
  uint32_t h = 0;
  for (char ch : key) {
    int c = static_cast<signed char>(ch);
    h = (h << 4) + static_cast<uint32_t>(13 * c);
    uint32_t g = h & 0xF0000000u;
    if (g != 0) h = h ^ (g >> 24) ^ g;
  }
  return h % kBuckets;
}

std::string IniFile::makeKey(const char *section, const char *name) {
  std::string key = std::string(section) + "::" + name;
  for (char &c : key) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return key;
}

void IniFile::setError(int32_t code, int32_t line) {
  error_ = std::make_unique<Error>();
  error_->code = code;
  error_->line = line;
  snprintf(error_->text, sizeof error_->text, "%s", errorText(code));
}

void IniFile::clear() {
  for (auto &bucket : buckets_) bucket.clear();
  error_.reset();
}

bool IniFile::setValue(const char *section, const char *name, const char *value) {
  std::string key = makeKey(section, name);
  auto &bucket = buckets_[bucketOf(key)];
  for (Entry &entry : bucket) {
    if (entry.key == key) {
      entry.value = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
      return true;
    }
  }
  bucket.push_front(Entry{std::move(key), value != nullptr ? std::optional<std::string>(value) : std::nullopt});
  return true;
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
  std::string key = makeKey(section, name);
  for (const Entry &entry : buckets_[bucketOf(key)])
    if (entry.key == key) return entry.value ? entry.value->c_str() : nullptr;
  return nullptr;
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
  // A folder opens on this platform but is no file to read.
  struct stat st;
  if (stream != nullptr && (fstat(fileno(stream), &st) != 0 || S_ISDIR(st.st_mode))) {
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
  char buffer[kLineBuffer];
  std::string section;
  int32_t lineNumber = 0;
  // Lines are read in pieces of at most 199 bytes; each piece counts as a line.
  while (fgets(buffer, sizeof buffer, stream) != nullptr) {
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
    std::string name(line, nameEnd);

    const char *value = line + separator + 1;
    while (*value != '\0' && isSpace(*value)) ++value;
    size_t valueEnd = strlen(value);
    // The value's own first character never counts as following white space.
    for (size_t i = 1; value[i] != '\0'; ++i) {
      if (value[i] == ';' && isSpace(value[i - 1])) {
        valueEnd = i;
        break;
      }
    }
    while (valueEnd > 0 && isSpace(value[valueEnd - 1])) --valueEnd;
    std::string text(value, valueEnd);
    if (!setValue(section.c_str(), name.c_str(), text.c_str())) {
      setError(kUserFunctionError, lineNumber);
      return false;
    }
  }
  return true;
}

}  // namespace ryx
