// The cache's access lists as the Win32 layer sets them, read entry by entry:
// who may change what. The system parses them into these entries (a Wine test);
// this checks that what is written grants no user more than the model lets.
#include "platform/win32/AccessLists.h"

#include <gtest/gtest.h>

#include <compare>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace {

using plat::AccessList;

struct Ace {
  std::string flags;
  uint32_t rights = 0;
  std::string trustee;
  auto operator<=>(const Ace&) const = default;
};

uint32_t RightsOf(const std::string& text) {
  if (text == "FA")
    return 0x1f01ff;
  if (text == "SD")
    return 0x10000;
  if (text.rfind("0x", 0) == 0)
    return static_cast<uint32_t>(std::stoul(text.substr(2), nullptr, 16));
  ADD_FAILURE() << "rights not read: " << text;
  return 0xffffffff;
}

// "D:P(A;flags;rights;;;trustee)..." into its allow entries.
std::vector<Ace> AcesOf(const std::string& sddl) {
  std::vector<Ace> aces;
  for (size_t open = sddl.find('('); open != std::string::npos; open = sddl.find('(', open + 1)) {
    const std::string body = sddl.substr(open + 1, sddl.find(')', open) - open - 1);
    std::vector<std::string> fields;
    for (size_t start = 0;;) {
      const size_t semi = body.find(';', start);
      fields.push_back(body.substr(start, semi - start));
      if (semi == std::string::npos)
        break;
      start = semi + 1;
    }
    EXPECT_EQ(fields.size(), 6u) << body;
    EXPECT_EQ(fields[0], "A") << body;
    if (fields.size() == 6)
      aces.push_back({fields[1], RightsOf(fields[2]), fields[5]});
  }
  return aces;
}

// Anything that writes, deletes, or changes the list or the owner.
constexpr uint32_t kChanging =
    0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;
constexpr uint32_t kReadExecute = 0x1200a9;

TEST(AccessListsTest, OnlyAdministratorsChangeWhatTheModelDoesNotOpen) {
  struct Case {
    AccessList list;
    // The entries of users other than SYSTEM and Administrators that change
    // anything: the whole of what the list opens.
    std::set<Ace> opened;
    // The owner-rights entry: read and run only, inherited where the maker
    // must not regain its right to the list on what lies below.
    std::string ownerFlags;
  } cases[] = {
      {AccessList::ApplicationRoot, {}, ""},
      {AccessList::ProvisioningFolder, {{"", 0x6, "BU"}, {"OICIIO", 0x1301bf, "CO"}}, ""},
      {AccessList::ImagePlaceholder, {{"", 0x10000, "BU"}}, ""},
      {AccessList::ReadOnly, {}, "OICI"},
  };
  for (const Case& c : cases) {
    const char* sddl = plat::win32::SddlOf(c.list);
    ASSERT_NE(sddl, nullptr);
    // Protected: nothing from above adds to it.
    EXPECT_EQ(std::string(sddl).rfind("D:P(", 0), 0u) << sddl;
    std::set<Ace> opened;
    std::set<std::string> full;
    int owner = 0;
    bool everyoneReads = false;
    for (const Ace& ace : AcesOf(sddl)) {
      if ((ace.trustee == "SY" || ace.trustee == "BA") && ace.flags == "OICI" &&
          ace.rights == 0x1f01ff)
        full.insert(ace.trustee);
      else if (ace.trustee == "OW") {
        ++owner;
        EXPECT_EQ(ace.rights, kReadExecute) << sddl;
        EXPECT_EQ(ace.flags, c.ownerFlags) << sddl;
      } else if (ace.rights & kChanging)
        opened.insert(ace);
      everyoneReads |= ace.trustee == "BU" && ace.flags == "OICI" && ace.rights == kReadExecute;
    }
    EXPECT_EQ(full, (std::set<std::string>{"SY", "BA"})) << sddl;
    EXPECT_EQ(owner, 1) << sddl;
    EXPECT_TRUE(everyoneReads) << sddl;
    EXPECT_TRUE(opened == c.opened) << sddl;
  }
}

} // namespace
