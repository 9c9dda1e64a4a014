// SPDX-License-Identifier: MIT
// Ordered name/value pairs for query parameters and header blocks, and the
// percent-encoder.  Texts are C strings from the C allocator; a text that
// cannot be made is null, with a warning in the log.
#pragma once

#include <cstddef>
#include <vector>

#include "common/cstring.h"

namespace ryx {

class NameValueItem {
 public:
  // An item without a name (null or empty) is invalid and holds nothing;
  // a missing value is stored as the empty string.
  NameValueItem(const char *name, const char *value);
  NameValueItem(const NameValueItem &other);  // name and value, not the cached texts
  NameValueItem &operator=(const NameValueItem &other);
  NameValueItem(NameValueItem &&) noexcept = default;
  NameValueItem &operator=(NameValueItem &&) noexcept = default;
  virtual ~NameValueItem();

  const char *name() const { return name_.get(); }
  const char *value() const { return value_.get(); }
  bool isValid() const { return name_ != nullptr && value_ != nullptr; }

  // Replaces the value (null: the empty string) and drops the cached texts.
  void setValue(const char *value);

  // "name=value", both url-encoded; null when either cannot be encoded.
  // Made on first use; the text belongs to the item.
  const char *urlencode() const;
  // "name: value\r\n"; made on first use; the text belongs to the item.
  const char *htmlheader() const;

 private:
  CString name_;
  CString value_;
  mutable CString urlencoded_;
  mutable CString header_;
};

// Items in insertion order with unique names (compared exactly).
class NameValueCollection {
 public:
  NameValueCollection();
  NameValueCollection(const NameValueCollection &other);  // every item in order
  NameValueCollection &operator=(const NameValueCollection &other);
  NameValueCollection(NameValueCollection &&) noexcept = default;
  NameValueCollection &operator=(NameValueCollection &&) noexcept = default;
  virtual ~NameValueCollection();

  // Replaces the value of the item of that name, keeping its place, or
  // appends a copy of `item`.  An invalid item is refused with a warning.
  void add(const NameValueItem &item);

  // The item called `name`, or null.
  const NameValueItem *find(const char *name) const;
  size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  const NameValueItem &at(size_t index) const { return items_.at(index); }

  // Removes every item; the storage is kept for later additions.
  void clear();

  // The items' url-encoded texts joined by "&"; the empty string for no
  // items; null when an item's text cannot be made.  Kept until the
  // collection changes; the text belongs to the collection.
  const char *urlencode() const;
  // The items' header lines one after the other; same rules.
  const char *htmlheader() const;

 private:
  void dropTexts();

  std::vector<NameValueItem> items_;
  mutable CString urlencoded_;
  mutable CString header_;
};

namespace http {

// Percent-encodes `text`: letters, digits, "-", ".", "_" and "~" stay, a
// blank becomes "+", every other byte "%xx" in lower-case hex.  A new
// string the caller frees, or null for null input or no memory.
char *urlEncode(const char *text);

}  // namespace http

}  // namespace ryx
