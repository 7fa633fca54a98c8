#include "store/PropertySet.h"
#include "platform/fake/FakePlatform.h"
#include "tests/support/PropertyStreamWriter.h"

#include <gtest/gtest.h>

namespace {

using testsupport::PropertySpec;
using testsupport::PropertyStream;

const std::vector<PropertySpec> kPackage = {
    {"timestamp", 0x1E, "2026-05-01T10:00:00Z"},
    {"compatibility level", 0x1E, "1"},
    {"package type", 0x1E, "VeltraDynamicRemoteHMIArchive"},
    {"jre version", 0x1E, "17.0.2.0"},
    {"product type", 0x1E, "full"},
    {"release version", 0x1E, "4.10"},
};

TEST(PropertySet, NamesValuesAndStoredOrder) {
  auto props = store::ParseUserDefinedProperties(PropertyStream(kPackage));
  ASSERT_TRUE(props);
  ASSERT_EQ(props->size(), 6u);
  for (size_t i = 0; i < kPackage.size(); ++i) {
    EXPECT_EQ((*props)[i].name, kPackage[i].name);
    EXPECT_EQ((*props)[i].text, kPackage[i].value);
  }
}

TEST(PropertySet, CodePagesOfTheSection) {
  auto latin = store::ParseUserDefinedProperties(PropertyStream({{"n\xE9", 0x1E, "caf\xE9\x80"}}));
  ASSERT_TRUE(latin);
  EXPECT_EQ((*latin)[0].name, "n\xC3\xA9");
  EXPECT_EQ((*latin)[0].text, "caf\xC3\xA9\xE2\x82\xAC");
  auto utf8 =
      store::ParseUserDefinedProperties(PropertyStream({{"n", 0x1E, "caf\xC3\xA9"}}, 65001));
  ASSERT_TRUE(utf8);
  EXPECT_EQ((*utf8)[0].text, "caf\xC3\xA9");
}

// Every structure that states a size or a count is checked against the data.
TEST(PropertySet, DamagedStreamsGiveNothingNeverACrash) {
  const std::string good = PropertyStream(kPackage);
  std::vector<std::pair<const char*, std::string>> cases;
  cases.emplace_back("empty", "");
  cases.emplace_back("header only", good.substr(0, 20));
  cases.emplace_back("cut in the section", good.substr(0, good.size() - 20));
  std::string badOrder = good;
  badOrder[0] = 0;
  cases.emplace_back("byte order", badOrder);
  std::string sections = good;
  sections[24] = 9;
  cases.emplace_back("section count", sections);
  std::string offset = good;
  offset[64] = static_cast<char>(0xFF);
  offset[65] = static_cast<char>(0xFF);
  cases.emplace_back("section offset", offset);
  std::string sizeLie = good;
  const size_t userSection = 68 + 24; // header, then the 24-byte first section
  sizeLie[userSection + 3] = 0x7F;
  cases.emplace_back("section size", sizeLie);
  std::string countLie = good;
  countLie[userSection + 7] = 0x7F;
  cases.emplace_back("property count", countLie);
  std::string dictLie = good;
  // first dictionary entry's name length, just after count and first id
  const size_t dictionary = userSection + 8 + 8 * 8;
  dictLie[dictionary + 8 + 3] = 0x7F;
  cases.emplace_back("dictionary length", dictLie);
  for (const auto& [name, bytes] : cases)
    EXPECT_FALSE(store::ParseUserDefinedProperties(bytes)) << name;
}

TEST(PropertySet, OnlyTheFirstSectionIsNoUserSection) {
  std::string s = PropertyStream(kPackage);
  s[24] = 1; // one section: the document summary alone
  EXPECT_FALSE(store::ParseUserDefinedProperties(s));
}

class UserInfoTest : public ::testing::Test {
protected:
  void AddPackage(const std::string& path, const std::vector<PropertySpec>& props) {
    p.storage.Add(path, {{u"\x0005"
                          u"DocumentSummaryInformation",
                          PropertyStream(props)},
                         {u"Contents", "7z"}});
  }
  fake::FakePlatform p;
};

TEST_F(UserInfoTest, ListKeepsNonEmptyStringsOnly) {
  auto props = kPackage;
  props[3].value = "   "; // blank, but present
  props.push_back({"empty one", 0x1E, ""});
  props.push_back({"a number", 0x0003, "5"});
  props.push_back({"Product Type", 0x1E, "second"});
  AddPackage("C:\\p.pkg", props);
  store::PropertyList list = store::GetFileUserDefinedInfo(p.services, "C:\\p.pkg");
  EXPECT_EQ(list.lines,
            (std::vector<std::string>{"timestamp=2026-05-01T10:00:00Z", "compatibility level=1",
                                      "package type=VeltraDynamicRemoteHMIArchive",
                                      "jre version=   ", "product type=full",
                                      "release version=4.10", "Product Type=second"}));
  EXPECT_TRUE(list.Has("PRODUCT TYPE"));
  EXPECT_EQ(list.Value("Product type"), "full"); // the first line wins
  EXPECT_FALSE(list.Has("a number"));
  EXPECT_FALSE(list.Has("empty one"));
}

TEST_F(UserInfoTest, AnythingUnreadableIsAnEmptyList) {
  p.files.AddFile("C:\\plain.txt", "hello");
  p.storage.Add("C:\\nostream.pkg", {{u"Contents", "7z"}});
  p.storage.Add("C:\\garbage.pkg", {{u"\x0005"
                                     u"DocumentSummaryInformation",
                                     "garbage"}});
  for (const char* path :
       {"C:\\missing.pkg", "C:\\plain.txt", "C:\\nostream.pkg", "C:\\garbage.pkg"})
    EXPECT_TRUE(store::GetFileUserDefinedInfo(p.services, path).lines.empty()) << path;
}

} // namespace
