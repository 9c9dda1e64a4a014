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
  EXPECT_STREQ(item.urlencode(), "a+key=x%2fy");
  EXPECT_STREQ(item.htmlheader(), "a key: x/y\r\n");
  item.setValue("two words");
  EXPECT_STREQ(item.urlencode(), "a+key=two+words");
  EXPECT_STREQ(item.htmlheader(), "a key: two words\r\n");
  item.setValue(nullptr);
  EXPECT_STREQ(item.urlencode(), "a+key=");
  EXPECT_STREQ(item.htmlheader(), "a key: \r\n");

  NameValueItem noValue("name", nullptr);
  EXPECT_TRUE(noValue.isValid());
  EXPECT_STREQ(noValue.htmlheader(), "name: \r\n");
  NameValueItem copy(noValue);
  noValue.setValue("2");
  EXPECT_STREQ(copy.value(), "");
  copy = noValue;
  EXPECT_STREQ(copy.urlencode(), "name=2");
}

TEST(NameValueItem, WithoutNameHoldsNothing) {
  for (const char *name : {static_cast<const char *>(nullptr), ""}) {
    NameValueItem item(name, "value");
    EXPECT_FALSE(item.isValid());
    EXPECT_EQ(item.name(), nullptr);
    EXPECT_EQ(item.value(), nullptr);
    EXPECT_EQ(item.urlencode(), nullptr);
    EXPECT_EQ(item.htmlheader(), nullptr);
  }
}

TEST(NameValueCollection, ReplacementKeepsTheFirstItemsPlaceAndNamesCompareExactly) {
  NameValueCollection collection;
  EXPECT_STREQ(collection.urlencode(), "");
  EXPECT_STREQ(collection.htmlheader(), "");
  collection.add(NameValueItem("a", "1"));
  collection.add(NameValueItem("b", "2"));
  EXPECT_STREQ(collection.urlencode(), "a=1&b=2");  // cached, then dropped by the next add
  EXPECT_STREQ(collection.htmlheader(), "a: 1\r\nb: 2\r\n");
  collection.add(NameValueItem("a", "3"));
  collection.add(NameValueItem("A", "4"));
  ASSERT_EQ(collection.size(), 3u);
  EXPECT_STREQ(collection.at(0).value(), "3");
  EXPECT_EQ(collection.find("B"), nullptr);
  EXPECT_STREQ(collection.urlencode(), "a=3&b=2&A=4");
  EXPECT_STREQ(collection.htmlheader(), "a: 3\r\nb: 2\r\nA: 4\r\n");
}

TEST(NameValueCollection, RefusesInvalidItemWithWarning) {
  NameValueCollection collection;
  collection.add(NameValueItem("a", "1"));
  LogCapture log;
  collection.add(NameValueItem("", "x"));
  collection.add(NameValueItem(nullptr, "x"));
  EXPECT_EQ(log.lines(), (Lines{"W RYX (ryx::NameValueCollection::add): Trying to add an invalid item",
                                "W RYX (ryx::NameValueCollection::add): Trying to add an invalid item"}));
  EXPECT_EQ(collection.size(), 1u);
  EXPECT_STREQ(collection.urlencode(), "a=1");
}

TEST(NameValueCollection, CopyAndClear) {
  NameValueCollection collection;
  collection.add(NameValueItem("x y", "1"));
  collection.add(NameValueItem("z", "2"));
  NameValueCollection copy(collection);
  collection.clear();
  EXPECT_TRUE(collection.empty());
  EXPECT_STREQ(collection.urlencode(), "");
  collection.add(NameValueItem("q", "3"));
  EXPECT_STREQ(collection.urlencode(), "q=3");
  EXPECT_STREQ(copy.urlencode(), "x+y=1&z=2");
  copy = collection;
  EXPECT_STREQ(copy.htmlheader(), "q: 3\r\n");
}

}  // namespace
}  // namespace ryx
