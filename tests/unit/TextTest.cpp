#include "common/Text.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseInt32, AcceptsOnlyWholeDecimalIntegersInRange) {
  struct Case {
    const char* input;
    std::optional<int32_t> expected;
  } cases[] = {
      {"0", 0},
      {"8443", 8443},
      {"-5", -5},
      {"+7", 7},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"abc", std::nullopt},
      {"12a", std::nullopt},
      {" 12", std::nullopt},
      {"1.5", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(text::ParseInt32(c.input), c.expected) << c.input;
}

TEST(ParseBool, WordsInAnyCaseOrNumbers) {
  struct Case {
    const char* input;
    std::optional<bool> expected;
  } cases[] = {
      {"True", true}, {"FALSE", false},      {"false", false},   {"0", false},        {"1", true},
      {"-3", true},   {"yes", std::nullopt}, {"", std::nullopt}, {"t", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(text::ParseBool(c.input), c.expected) << c.input;
}

TEST(ToInt32, ErrorNamesTheValue) {
  try {
    text::ToInt32("abc");
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
  }
}

TEST(Trim, RemovesBlanksAndControlCharactersOnly) {
  EXPECT_EQ(text::Trim(" \t\r\n gw1 \x01"), "gw1");
  EXPECT_EQ(text::Trim("a b"), "a b");
  EXPECT_EQ(text::Trim("   "), "");
  EXPECT_EQ(text::Trim("\xC3\xA9 "), "\xC3\xA9"); // UTF-8 bytes are above 32
}

TEST(SplitLines, AllLineEndingsAndNoPhantomLastLine) {
  using V = std::vector<std::string>;
  EXPECT_EQ(text::SplitLines("a\r\nb\nc\rd"), (V{"a", "b", "c", "d"}));
  EXPECT_EQ(text::SplitLines("a\r\n"), (V{"a"}));
  EXPECT_EQ(text::SplitLines("a\n\nb"), (V{"a", "", "b"}));
  EXPECT_EQ(text::SplitLines(""), V{});
}

TEST(Split, EmptyPartsAreKept) {
  using V = std::vector<std::string>;
  EXPECT_EQ(text::Split("a__b", '_'), (V{"a", "", "b"}));
  EXPECT_EQ(text::Split("", '_'), (V{""}));
}

TEST(Utf, RoundTripsAndCountsCharacters) {
  const std::string s = "Q\xC3\xA9z\xF0\x9F\x94\x91"; // Q, e-acute, z, a key emoji
  std::u16string wide = text::Utf8ToUtf16(s);
  EXPECT_EQ(wide.size(), 5u); // the emoji takes two code units
  EXPECT_EQ(text::Utf16ToUtf8(wide), s);
  EXPECT_EQ(text::CharCount(s), 4u);
  EXPECT_EQ(text::FirstChars(s, 2), "Q\xC3\xA9");
  EXPECT_EQ(text::FirstChars("Q61", 4), "Q61");
}

TEST(Utf, BrokenInputBecomesReplacementCharacters) {
  EXPECT_EQ(text::Utf8ToUtf16("a\xC3"), (std::u16string{u'a', 0xFFFD}));
  EXPECT_EQ(text::Utf8ToUtf16("\xFF"), (std::u16string{0xFFFD}));
  EXPECT_EQ(text::Utf16ToUtf8(std::u16string{0xD800}), "\xEF\xBF\xBD");
}

} // namespace
