// SPDX-License-Identifier: MIT
#include "net/name_value.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/logger.h"

namespace ryx {

namespace http {

char *urlEncode(const char *text) {
  if (text == nullptr) return nullptr;
  static const char kHex[] = "0123456789abcdef";
  const size_t length = strlen(text);
  char *encoded = static_cast<char *>(malloc(length * 3 + 1));
  if (encoded == nullptr) {
    RYX_LOG_WARNING("ryx::http::urlEncode", "Out of memory");
    return nullptr;
  }
  char *out = encoded;
  for (const unsigned char *in = reinterpret_cast<const unsigned char *>(text); *in != '\0'; ++in) {
    const unsigned char c = *in;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      *out++ = static_cast<char>(c);
    } else if (c == ' ') {
      *out++ = '+';
    } else {
      *out++ = '%';
      *out++ = kHex[c >> 4];
      *out++ = kHex[c & 0x0f];
    }
  }
  *out = '\0';
  return encoded;
}

}  // namespace http

NameValueItem::NameValueItem(const char *name, const char *value) {
  if (name == nullptr || *name == '\0') return;  // invalid: holds nothing
  name_ = copyCString(name);
  value_ = copyCString(value != nullptr ? value : "");
}

NameValueItem::NameValueItem(const NameValueItem &other)
    : name_(copyCString(other.name_.get())), value_(copyCString(other.value_.get())) {}

NameValueItem &NameValueItem::operator=(const NameValueItem &other) {
  if (this != &other) {
    name_ = copyCString(other.name_.get());
    value_ = copyCString(other.value_.get());
    urlencoded_.reset();
    header_.reset();
  }
  return *this;
}

NameValueItem::~NameValueItem() = default;

void NameValueItem::setValue(const char *value) {
  value_ = copyCString(value != nullptr ? value : "");
  urlencoded_.reset();
  header_.reset();
}

const char *NameValueItem::urlencode() const {
  if (urlencoded_ || !isValid()) return urlencoded_.get();
  CString name(http::urlEncode(name_.get()));
  CString value(http::urlEncode(value_.get()));
  if (!name || !value) return nullptr;
  const size_t size = strlen(name.get()) + strlen(value.get()) + 2;
  char *text = static_cast<char *>(malloc(size));
  if (text == nullptr) {
    RYX_LOG_WARNING("ryx::NameValueItem::urlencode", "Out of memory");
    return nullptr;
  }
  snprintf(text, size, "%s=%s", name.get(), value.get());
  urlencoded_.reset(text);
  return text;
}

const char *NameValueItem::htmlheader() const {
  if (header_ || !isValid()) return header_.get();
  const size_t size = strlen(name_.get()) + strlen(value_.get()) + 5;
  char *text = static_cast<char *>(malloc(size));
  if (text == nullptr) {
    RYX_LOG_WARNING("ryx::NameValueItem::htmlheader", "Out of memory");
    return nullptr;
  }
  snprintf(text, size, "%s: %s\r\n", name_.get(), value_.get());
  header_.reset(text);
  return text;
}

NameValueCollection::NameValueCollection() = default;

NameValueCollection::NameValueCollection(const NameValueCollection &other) : items_(other.items_) {}

NameValueCollection &NameValueCollection::operator=(const NameValueCollection &other) {
  if (this != &other) {
    items_ = other.items_;
    dropTexts();
  }
  return *this;
}

NameValueCollection::~NameValueCollection() = default;

void NameValueCollection::dropTexts() {
  urlencoded_.reset();
  header_.reset();
}

void NameValueCollection::add(const NameValueItem &item) {
  if (!item.isValid()) {
    RYX_LOG_WARNING("ryx::NameValueCollection::add", "Trying to add an invalid item");
    return;
  }
  for (NameValueItem &existing : items_) {
    if (strcmp(existing.name(), item.name()) == 0) {
      existing.setValue(item.value());
      dropTexts();
      return;
    }
  }
  items_.push_back(item);
  dropTexts();
}

const NameValueItem *NameValueCollection::find(const char *name) const {
  if (name == nullptr) return nullptr;
  for (const NameValueItem &item : items_)
    if (strcmp(item.name(), name) == 0) return &item;
  return nullptr;
}

void NameValueCollection::clear() {
  items_.clear();  // keeps the vector's capacity for later additions
  dropTexts();
}

namespace {

// Joins the items' texts (from `text`) with `separator` (or none) into a
// buffer of their total length + `extra`.
template <typename TextOf>
char *joinTexts(const std::vector<NameValueItem> &items, TextOf text, const char *separator, size_t extra) {
  size_t total = 0;
  for (const NameValueItem &item : items) {
    const char *t = text(item);
    if (t == nullptr) return nullptr;
    total += strlen(t);
  }
  char *joined = static_cast<char *>(malloc(total + extra));
  if (joined == nullptr) return nullptr;
  char *out = joined;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0 && separator != nullptr) *out++ = *separator;
    const char *t = text(items[i]);
    const size_t n = strlen(t);
    memcpy(out, t, n);
    out += n;
  }
  *out = '\0';
  return joined;
}

}  // namespace

const char *NameValueCollection::urlencode() const {
  if (!urlencoded_) {
    // Total + one per item: the "&" between items and the ending NUL.
    urlencoded_.reset(items_.empty()
                          ? strdup("")
                          : joinTexts(
                                items_, [](const NameValueItem &i) { return i.urlencode(); }, "&", items_.size()));
  }
  return urlencoded_.get();
}

const char *NameValueCollection::htmlheader() const {
  if (!header_) {
    header_.reset(items_.empty() ? strdup("")
                                 : joinTexts(
                                       items_, [](const NameValueItem &i) { return i.htmlheader(); }, nullptr, 2));
  }
  return header_.get();
}

}  // namespace ryx
