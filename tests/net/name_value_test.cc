// SPDX-License-Identifier: MIT
#include "net/name_value.h"

#include <gtest/gtest.h>

#include "net_test_support.h"

namespace ryx {
namespace {

using test::LogCapture;
using test::Lines;

TEST(UrlEncode, EncodesEachByteByItsClass) {
  const struct {
    const char *input;
    const char *expected;
  } cases[] = {
      {"a b/\xc3\xa9", "a+b%2f%c3%a9"},  // the UTF-8 letter e-acute: both bytes, lower-case hex
      {"", ""},
      {"AZaz09-._~", "AZaz09-._~"},
      {"  ", "++"},
      {"+&=%?#", "%2b%26%3d%25%3f%23"},
      {"\x01\x7f\x80\xff", "%01%7f%80%ff"},
      {"\r\n", "%0d%0a"},
  };
  for (const auto &c : cases) {
    CString encoded(http::urlEncode(c.input));
    ASSERT_NE(encoded, nullptr) << c.input;
    EXPECT_STREQ(encoded.get(), c.expected) << c.input;
  }
  LogCapture log;
  EXPECT_EQ(http::urlEncode(nullptr), nullptr);
  EXPECT_EQ(log.lines(), Lines{});
}

TEST(NameValueItem, RendersAgainAfterEachChangeAndCopiesStandAlone) {
  NameValueItem item("a key", "x/y");
  const struct {
    const char *value, *url, *header;
  } cases[] = {{"x/y", "a+key=x%2fy", "a key: x/y\r\n"},
               {"two words", "a+key=two+words", "a key: two words\r\n"},
               {nullptr, "a+key=", "a key: \r\n"}};
  for (const auto &c : cases) {
    item.setValue(c.value);
    EXPECT_STREQ(item.urlencode(), c.url);
    EXPECT_STREQ(item.htmlheader(), c.header);
  }
  NameValueItem copy(item);
  item.setValue("2");
  EXPECT_STREQ(copy.value(), "");
  copy = item;
  EXPECT_STREQ(copy.urlencode(), "a+key=2");

  for (const char *name : {static_cast<const char *>(nullptr), ""}) {  // without a name it holds nothing
    NameValueItem none(name, "value");
    EXPECT_FALSE(none.isValid());
    EXPECT_EQ(none.name(), nullptr);
    EXPECT_EQ(none.value(), nullptr);
    EXPECT_EQ(none.urlencode(), nullptr);
    EXPECT_EQ(none.htmlheader(), nullptr);
  }
}

TEST(NameValueCollection, ReplacementKeepsTheFirstPlaceInvalidItemsAreRefused) {
  NameValueCollection collection;
  EXPECT_STREQ(collection.urlencode(), "");
  collection.add(NameValueItem("a", "1"));
  collection.add(NameValueItem("b", "2"));
  EXPECT_STREQ(collection.urlencode(), "a=1&b=2");  // cached, then dropped by the next add
  collection.add(NameValueItem("a", "3"));
  collection.add(NameValueItem("A", "4"));  // names compare exactly
  LogCapture log;
  collection.add(NameValueItem("", "x"));
  EXPECT_EQ(log.lines(), Lines{"W RYX (ryx::NameValueCollection::add): Trying to add an invalid item"});
  ASSERT_EQ(collection.size(), 3u);
  EXPECT_EQ(collection.find("B"), nullptr);
  EXPECT_STREQ(collection.urlencode(), "a=3&b=2&A=4");
  EXPECT_STREQ(collection.htmlheader(), "a: 3\r\nb: 2\r\nA: 4\r\n");

  NameValueCollection copy(collection);
  collection.clear();
  EXPECT_STREQ(collection.urlencode(), "");
  collection.add(NameValueItem("q y", "3"));
  EXPECT_STREQ(copy.urlencode(), "a=3&b=2&A=4");
  copy = collection;
  EXPECT_STREQ(copy.htmlheader(), "q y: 3\r\n");
  EXPECT_STREQ(copy.urlencode(), "q+y=3");
}

}  // namespace
}  // namespace ryx
