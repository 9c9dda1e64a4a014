// SPDX-License-Identifier: MIT
#include "net/name_value.h"

#include <gtest/gtest.h>

#include "net_test_support.h"

namespace ryx {
namespace {

using test::LogCapture;
using test::Lines;

struct EncodeCase {
  const char *input;
  const char *expected;
};

TEST(UrlEncode, EncodesEachByteByItsClass) {
  const EncodeCase cases[] = {
      {"a b/\xc3\xa9", "a+b%2f%c3%a9"},  // the UTF-8 letter e-acute: both bytes, lower-case hex
      {"", ""},
      {"AZaz09-._~", "AZaz09-._~"},
      {"  ", "++"},
      {"+&=%?#", "%2b%26%3d%25%3f%23"},
      {"\x01\x7f\x80\xff", "%01%7f%80%ff"},
      {"\r\n", "%0d%0a"},
  };
  for (const EncodeCase &c : cases) {
    CString encoded(http::urlEncode(c.input));
    ASSERT_NE(encoded, nullptr) << c.input;
    EXPECT_STREQ(encoded.get(), c.expected) << c.input;
  }
}

TEST(UrlEncode, NoInputGivesNone) {
  LogCapture log;
  EXPECT_EQ(http::urlEncode(nullptr), nullptr);
  EXPECT_EQ(log.lines(), Lines{});
}

TEST(NameValueItem, RendersUrlEncodedPairAndHeaderLine) {
  NameValueItem item("a key", "x/y");
  EXPECT_STREQ(item.urlencode(), "a+key=x%2fy");
  EXPECT_STREQ(item.htmlheader(), "a key: x/y\r\n");
}

TEST(NameValueItem, ChangingTheValueRendersAgain) {
  NameValueItem item("n", "1");
  EXPECT_STREQ(item.urlencode(), "n=1");
  EXPECT_STREQ(item.htmlheader(), "n: 1\r\n");
  item.setValue("two words");
  EXPECT_STREQ(item.urlencode(), "n=two+words");
  EXPECT_STREQ(item.htmlheader(), "n: two words\r\n");
  item.setValue(nullptr);
  EXPECT_STREQ(item.urlencode(), "n=");
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

TEST(NameValueItem, MissingValueIsEmptyAndCopiesAreIndependent) {
  NameValueItem item("name", nullptr);
  EXPECT_TRUE(item.isValid());
  EXPECT_STREQ(item.htmlheader(), "name: \r\n");
  NameValueItem copy(item);
  item.setValue("2");
  EXPECT_STREQ(copy.value(), "");
  copy = item;
  EXPECT_STREQ(copy.urlencode(), "name=2");
}

TEST(NameValueCollection, EmptyCollectionGivesEmptyTexts) {
  NameValueCollection collection;
  EXPECT_STREQ(collection.urlencode(), "");
  EXPECT_STREQ(collection.htmlheader(), "");
}

TEST(NameValueCollection, RendersQueryAndHeaderBlockInOrder) {
  NameValueCollection collection;
  collection.add(NameValueItem("a", "1"));
  collection.add(NameValueItem("b", "2"));
  EXPECT_STREQ(collection.urlencode(), "a=1&b=2");
  EXPECT_STREQ(collection.htmlheader(), "a: 1\r\nb: 2\r\n");
}

TEST(NameValueCollection, ReplacementKeepsTheFirstItemsPlace) {
  NameValueCollection collection;
  collection.add(NameValueItem("a", "1"));
  collection.add(NameValueItem("b", "2"));
  EXPECT_STREQ(collection.urlencode(), "a=1&b=2");  // cached, then dropped by the next add
  collection.add(NameValueItem("a", "3"));
  ASSERT_EQ(collection.size(), 2u);
  EXPECT_STREQ(collection.at(0).name(), "a");
  EXPECT_STREQ(collection.at(0).value(), "3");
  EXPECT_STREQ(collection.urlencode(), "a=3&b=2");
  EXPECT_STREQ(collection.htmlheader(), "a: 3\r\nb: 2\r\n");
}

TEST(NameValueCollection, NamesCompareExactly) {
  NameValueCollection collection;
  collection.add(NameValueItem("Accept", "1"));
  collection.add(NameValueItem("accept", "2"));
  EXPECT_EQ(collection.size(), 2u);
  EXPECT_STREQ(collection.find("accept")->value(), "2");
  EXPECT_EQ(collection.find("ACCEPT"), nullptr);
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
