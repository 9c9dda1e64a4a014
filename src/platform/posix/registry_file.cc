// SPDX-License-Identifier: MIT
#include "platform/posix/registry_file.h"

#include <cstdio>

namespace ryx::platform::regfile {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted string starting at s[0] == '"'; handles \\ and \".
bool readQuoted(std::string_view s, size_t *consumed, std::string *out) {
  if (s.empty() || s[0] != '"') return false;
  out->clear();
  for (size_t i = 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\') {
      if (i + 1 >= s.size()) return false;
      char next = s[++i];
      if (next != '\\' && next != '"') return false;
      out->push_back(next);
    } else if (c == '"') {
      *consumed = i + 1;
      return true;
    } else {
      out->push_back(c);
    }
  }
  return false;
}

bool parseHexBytes(std::string_view s, std::vector<uint8_t> *out) {
  out->clear();
  s = trim(s);
  if (s.empty()) return true;
  size_t i = 0;
  while (true) {
    while (i < s.size() && isBlank(s[i])) ++i;
    if (i + 2 > s.size()) return false;
    int hi = hexDigit(s[i]), lo = hexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<uint8_t>(hi * 16 + lo));
    i += 2;
    while (i < s.size() && isBlank(s[i])) ++i;
    if (i == s.size()) return true;
    if (s[i] != ',') return false;
    ++i;
  }
}

bool parseValueData(std::string_view s, Value *value) {
  if (!s.empty() && s[0] == '"') {
    std::string text;
    size_t used = 0;
    if (!readQuoted(s, &used, &text) || !trim(s.substr(used)).empty()) return false;
    value->type = 1;  // REG_SZ, stored with its terminating NUL
    value->data.assign(text.begin(), text.end());
    value->data.push_back(0);
    return true;
  }
  if (s.substr(0, 6) == "dword:") {
    std::string_view digits = s.substr(6);
    if (digits.size() != 8) return false;
    uint32_t v = 0;
    for (char c : digits) {
      int d = hexDigit(c);
      if (d < 0) return false;
      v = v * 16 + static_cast<uint32_t>(d);
    }
    value->type = 4;
    value->data = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                   static_cast<uint8_t>(v >> 24)};
    return true;
  }
  if (s.substr(0, 4) == "hex:") {
    value->type = 3;
    return parseHexBytes(s.substr(4), &value->data);
  }
  if (s.substr(0, 4) == "hex(") {
    size_t close = s.find("):");
    if (close == std::string_view::npos || close == 4 || close > 12) return false;
    uint32_t type = 0;
    for (char c : s.substr(4, close - 4)) {
      int d = hexDigit(c);
      if (d < 0) return false;
      type = type * 16 + static_cast<uint32_t>(d);
    }
    value->type = type;
    return parseHexBytes(s.substr(close + 2), &value->data);
  }
  return false;
}

void appendQuoted(std::string *out, std::string_view text) {
  out->push_back('"');
  for (char c : text) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

void appendHex(std::string *out, const std::vector<uint8_t> &data, size_t prefixLength) {
  static const char digits[] = "0123456789abcdef";
  size_t column = prefixLength;
  for (size_t i = 0; i < data.size(); ++i) {
    out->push_back(digits[data[i] >> 4]);
    out->push_back(digits[data[i] & 15]);
    column += 2;
    if (i + 1 < data.size()) {
      out->push_back(',');
      ++column;
      if (column > 76) {  // wrap long data as the export format does
        out->append("\\\n  ");
        column = 2;
      }
    }
  }
}

// A REG_SZ that holds exactly one NUL at its end can be written as text.
bool isPlainString(const Value &value) {
  if (value.type != 1 || value.data.empty() || value.data.back() != 0) return false;
  for (size_t i = 0; i + 1 < value.data.size(); ++i)
    if (value.data[i] == 0 || value.data[i] == '\n' || value.data[i] == '\r') return false;
  return true;
}

}  // namespace

bool namesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

Key *HiveData::findKey(std::string_view path) {
  for (Key &key : keys)
    if (namesEqual(key.path, path)) return &key;
  return nullptr;
}

bool HiveData::keyExists(std::string_view path) const {
  if (path.empty()) return true;  // the hive root
  for (const Key &key : keys) {
    if (namesEqual(key.path, path)) return true;
    if (key.path.size() > path.size() && key.path[path.size()] == '\\' &&
        namesEqual(std::string_view(key.path).substr(0, path.size()), path))
      return true;
  }
  return false;
}

Key &HiveData::ensureKey(std::string_view path, bool *created) {
  if (Key *key = findKey(path)) {
    *created = false;
    return *key;
  }
  *created = true;
  keys.push_back(Key{std::string(path), {}});
  return keys.back();
}

Value *findValue(Key &key, std::string_view name) {
  for (Value &value : key.values)
    if (namesEqual(value.name, name)) return &value;
  return nullptr;
}

bool parseHive(std::string_view text, std::string_view rootName, HiveData *out, std::string *error) {
  out->keys.clear();
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  // Long hex data continues on the next line after a trailing backslash.
  std::vector<std::pair<std::string, int>> lines;
  int lineNumber = 0;
  std::string pending;
  int pendingLine = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (line.find('\0') != std::string_view::npos) {
      *error = "NUL byte on line " + std::to_string(lineNumber);
      return false;
    }
    if (pending.empty()) pendingLine = lineNumber;
    pending.append(trim(line));
    bool hexData =
        !pending.empty() && (pending[0] == '"' || pending[0] == '@') && pending.find("=hex") != std::string::npos;
    if (hexData && pending.back() == '\\') {
      pending.pop_back();
      continue;
    }
    lines.emplace_back(std::move(pending), pendingLine);
    pending.clear();
  }
  if (!pending.empty()) lines.emplace_back(std::move(pending), pendingLine);

  bool headerSeen = false;
  Key *current = nullptr;
  for (const auto &[line, number] : lines) {
    std::string where = " on line " + std::to_string(number);
    if (line.empty() || line[0] == ';') continue;
    if (!headerSeen) {
      if (line != kHeader) {
        *error = "missing \"" + std::string(kHeader) + "\" header";
        return false;
      }
      headerSeen = true;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']') {
        *error = "key header without \"]\"" + where;
        return false;
      }
      std::string_view name = std::string_view(line).substr(1, line.size() - 2);
      if (name.substr(0, rootName.size()) != rootName ||
          (name.size() > rootName.size() && name[rootName.size()] != '\\')) {
        *error = "key outside " + std::string(rootName) + where;
        return false;
      }
      name.remove_prefix(rootName.size());
      if (!name.empty()) name.remove_prefix(1);
      if (!name.empty() &&
          (name.back() == '\\' || name.front() == '\\' || name.find("\\\\") != std::string_view::npos)) {
        *error = "malformed key name" + where;
        return false;
      }
      bool created = false;
      current = &out->ensureKey(name, &created);
      continue;
    }
    if (current == nullptr) {
      *error = "value before any key" + where;
      return false;
    }
    Value value;
    size_t used = 0;
    if (line[0] == '@') {
      used = 1;
    } else if (!readQuoted(line, &used, &value.name)) {
      *error = "malformed value name" + where;
      return false;
    }
    std::string_view rest = trim(std::string_view(line).substr(used));
    if (rest.empty() || rest[0] != '=') {
      *error = "value without \"=\"" + where;
      return false;
    }
    if (!parseValueData(trim(rest.substr(1)), &value)) {
      *error = "malformed value data" + where;
      return false;
    }
    if (Value *existing = findValue(*current, value.name))
      *existing = std::move(value);
    else
      current->values.push_back(std::move(value));
  }
  return true;
}

std::string formatHive(const HiveData &hive, std::string_view rootName) {
  std::string out(kHeader);
  out.append("\n");
  for (const Key &key : hive.keys) {
    out.append("\n[");
    out.append(rootName);
    if (!key.path.empty()) {
      out.push_back('\\');
      out.append(key.path);
    }
    out.append("]\n");
    for (const Value &value : key.values) {
      size_t lineStart = out.size();
      if (value.name.empty())
        out.push_back('@');
      else
        appendQuoted(&out, value.name);
      out.push_back('=');
      if (isPlainString(value)) {
        appendQuoted(&out, std::string_view(reinterpret_cast<const char *>(value.data.data()), value.data.size() - 1));
      } else if (value.type == 4 && value.data.size() == 4) {
        char buffer[16];
        uint32_t v = static_cast<uint32_t>(value.data[0]) | static_cast<uint32_t>(value.data[1]) << 8 |
                     static_cast<uint32_t>(value.data[2]) << 16 | static_cast<uint32_t>(value.data[3]) << 24;
        snprintf(buffer, sizeof buffer, "dword:%08x", v);
        out.append(buffer);
      } else {
        if (value.type == 3) {
          out.append("hex:");
        } else {
          char buffer[24];
          snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
          out.append(buffer);
        }
        appendHex(&out, value.data, out.size() - lineStart);
      }
      out.push_back('\n');
    }
  }
  return out;
}

}  // namespace ryx::platform::regfile
