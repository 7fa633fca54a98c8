#include "store/CompoundFileCheck.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

namespace {

void Put32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

constexpr size_t kFat = 512;        // the FAT sector
constexpr size_t kDirectory = 1024; // the directory sector

TEST(CompoundFileCheck, SoundFilesPass) {
  fake::FakePlatform p;
  p.files.AddFile("C:\\a.pkg", fake::MinimalCompoundFile(1));
  p.files.AddFile("C:\\b.pkg", fake::MinimalCompoundFile(2, 5000));
  EXPECT_TRUE(store::CompoundFileIsSound(p.files, "C:\\a.pkg"));
  EXPECT_TRUE(store::CompoundFileIsSound(p.files, "C:\\b.pkg"));
}

// Each damage would send a reader round in circles or off the end of the file.
TEST(CompoundFileCheck, DamageIsFound) {
  struct Case {
    const char* name;
    std::function<void(std::string&)> damage;
  } cases[] = {
      {"directory chain loops", [](std::string& b) { Put32(b, kFat + 4, 1); }},
      {"stream chain loops", [](std::string& b) { Put32(b, kFat + 4 * 11, 3); }},
      {"stream chain leaves the file", [](std::string& b) { Put32(b, kFat + 4 * 11, 500); }},
      {"stream chain never ends", [](std::string& b) { Put32(b, kFat + 4 * 11, 0xFFFFFFFF); }},
      {"stream longer than its chain",
       [](std::string& b) { Put32(b, kDirectory + 128 + 120, 9000); }},
      {"directory outside the file", [](std::string& b) { Put32(b, 48, 77); }},
      {"FAT sector outside the file", [](std::string& b) { Put32(b, 76, 9999); }},
      {"huge FAT count", [](std::string& b) { Put32(b, 44, 0x7FFFFFFF); }},
      {"tree loops to the root", [](std::string& b) { Put32(b, kDirectory + 128 + 68, 0); }},
      {"tree link out of range", [](std::string& b) { Put32(b, kDirectory + 128 + 72, 40); }},
      {"bad sector size", [](std::string& b) { b[30] = 20; }},
      {"not a compound file", [](std::string& b) { b[0] = 'P'; }},
      {"cut after the header", [](std::string& b) { b.resize(600); }},
  };
  for (const Case& c : cases) {
    fake::FakePlatform p;
    std::string bytes = fake::MinimalCompoundFile(1, 5000); // stream in sectors 2..11
    c.damage(bytes);
    p.files.AddFile("C:\\d.pkg", bytes);
    EXPECT_FALSE(store::CompoundFileIsSound(p.files, "C:\\d.pkg")) << c.name;
  }
  fake::FakePlatform p;
  EXPECT_FALSE(store::CompoundFileIsSound(p.files, "C:\\missing.pkg"));
}

} // namespace
