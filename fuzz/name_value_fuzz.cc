// SPDX-License-Identifier: MIT
// Drives urlEncode and a name/value collection with arbitrary names and
// values, against a plain model: the encoding must decode back to its
// input, and the collection's texts must be the model's items in order.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "net/name_value.h"

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;  // upper case is never written
}

// Decodes the encoder's output; aborts on anything it must not produce.
std::string decode(const char *encoded) {
  std::string out;
  for (const char *p = encoded; *p != '\0'; ++p) {
    if (*p == '+') {
      out += ' ';
    } else if (*p == '%') {
      int hi = hexValue(p[1]), lo = hi < 0 ? -1 : hexValue(p[2]);
      if (hi < 0 || lo < 0) abort();
      const char c = static_cast<char>(hi * 16 + lo);
      if (c == '\0') abort();  // input texts end at their NUL
      if (isalnum(static_cast<unsigned char>(c)) || strchr("-._~ ", c) != nullptr) abort();  // should stay plain
      out += c;
      p += 2;
    } else if (isalnum(static_cast<unsigned char>(*p)) || strchr("-._~", *p) != nullptr) {
      out += *p;
    } else {
      abort();
    }
  }
  return out;
}

std::string encoded(const std::string &text) {
  ryx::CString e(ryx::http::urlEncode(text.c_str()));
  if (!e) abort();
  if (decode(e.get()) != text) abort();
  return e.get();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("RYX_LOG_LEVEL", "error", 1);  // refused items warn; expected here
  unsetenv("RYX_LOG_FILE");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider input(data, size);
  ryx::NameValueCollection collection;
  std::vector<std::pair<std::string, std::string>> model;
  while (input.remaining_bytes() > 0) {
    std::string name = input.ConsumeRandomLengthString(16).c_str();  // up to a NUL, as C strings are
    std::string value = input.ConsumeRandomLengthString(32).c_str();
    const bool noValue = input.ConsumeBool();
    encoded(name);
    collection.add(ryx::NameValueItem(name.c_str(), noValue ? nullptr : value.c_str()));
    if (noValue) value.clear();
    if (name.empty()) continue;  // refused
    bool replaced = false;
    for (auto &item : model)
      if (item.first == name) item.second = value, replaced = true;
    if (!replaced) model.emplace_back(name, value);
    if (input.ConsumeBool()) collection.urlencode();  // a cached text must be dropped by the next add
  }
  std::string query, header;
  for (size_t i = 0; i < model.size(); ++i) {
    query += (i > 0 ? "&" : "") + encoded(model[i].first) + "=" + encoded(model[i].second);
    header += model[i].first + ": " + model[i].second + "\r\n";
  }
  if (collection.size() != model.size()) abort();
  if (strcmp(collection.urlencode(), query.c_str()) != 0) abort();
  if (strcmp(collection.htmlheader(), header.c_str()) != 0) abort();
  ryx::NameValueCollection copy(collection);
  if (strcmp(copy.urlencode(), query.c_str()) != 0) abort();
  return 0;
}
