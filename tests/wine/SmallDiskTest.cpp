// Extraction onto a small file system of its own, the real archive library and
// the real free-space query: an archive of thousands of small files states
// little and takes a cluster and a directory entry per file, so it is refused
// before it fills the disk, while a share of them that fits is extracted.
//
// Needs a small file system (a few MiB, e.g. a tmpfs) named by
// VELTRA_SMALL_DISK as a Linux path; skipped without one.
#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32Text.h"
#include "store/ArchiveExtraction.h"
#include "tests/wine/LauncherHarness.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

using plat::win32::Narrow;
using testing::HasSubstr;
using winetest::TempFolder;

std::string Utf8(const fs::path& path) {
  return Narrow(path.wstring());
}

uint32_t Crc32(const std::string& data) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k)
        c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : data)
    crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// A zip of `count` stored files "f/<n>.txt" of `bytes` bytes each.
std::string SmallFilesZip(uint32_t count, size_t bytes) {
  const std::string data(bytes, 'x');
  const uint32_t crc = Crc32(data);
  std::string zip, directory;
  for (uint32_t i = 0; i < count; ++i) {
    const std::string name = "f/" + std::to_string(i) + ".txt";
    const auto offset = static_cast<uint32_t>(zip.size());
    auto common = [&](std::string& out) {
      Put16(out, 20);   // version needed
      Put16(out, 0);    // flags
      Put16(out, 0);    // stored
      Put16(out, 0);    // time
      Put16(out, 0x21); // date: 1980-01-01
      Put32(out, crc);
      Put32(out, static_cast<uint32_t>(bytes));
      Put32(out, static_cast<uint32_t>(bytes));
      Put16(out, static_cast<uint32_t>(name.size()));
      Put16(out, 0); // extra
    };
    Put32(zip, 0x04034B50);
    common(zip);
    zip += name + data;
    Put32(directory, 0x02014B50);
    Put16(directory, 20); // made by
    common(directory);
    Put16(directory, 0); // comment
    Put16(directory, 0); // disk
    Put16(directory, 0); // internal attributes
    Put32(directory, 0); // external attributes
    Put32(directory, offset);
    directory += name;
  }
  const auto directoryOffset = static_cast<uint32_t>(zip.size());
  zip += directory;
  Put32(zip, 0x06054B50);
  Put16(zip, 0);
  Put16(zip, 0);
  Put16(zip, count);
  Put16(zip, count);
  Put32(zip, static_cast<uint32_t>(directory.size()));
  Put32(zip, directoryOffset);
  Put16(zip, 0);
  return zip;
}

size_t FilesBelow(const fs::path& folder) {
  size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    files += entry.is_regular_file();
  return files;
}

TEST(SmallDisk, ThousandsOfSmallFilesAreRefusedBeforeTheyFillTheDisk) {
  const char* smallDisk = std::getenv("VELTRA_SMALL_DISK");
  if (smallDisk == nullptr || *smallDisk == '\0')
    GTEST_SKIP() << "VELTRA_SMALL_DISK names no small file system";
  const fs::path root = winetest::WindowsPath(smallDisk);
  ULARGE_INTEGER freeBytes{};
  ASSERT_TRUE(GetDiskFreeSpaceExW(root.c_str(), &freeBytes, nullptr, nullptr)) << GetLastError();
  const uint64_t room = freeBytes.QuadPart;
  ASSERT_GT(room, 256u * 1024) << "the small disk is too full";

  struct Case {
    const char* name;
    uint32_t files; // of 100 bytes each
    bool fits;
  } cases[] = {
      // Their bytes are a fortieth of the room; their clusters twice the room.
      {"twice the room in clusters", static_cast<uint32_t>(room / 4096 * 2), false},
      // Half the room with a cluster and an entry each.
      {"half the room with cluster and entry", static_cast<uint32_t>(room / 5120 / 2), true},
  };
  plat::win32::Win32Services w;
  TempFolder work;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_LT(uint64_t{c.files} * 100, room);
    const fs::path zip = work.WriteFile("small-files.zip", SmallFilesZip(c.files, 100));
    const fs::path out = root / L"img";
    std::string message = "unset";
    bool extracted = false;
    EXPECT_NO_THROW(extracted =
                        store::ExtractArchive(w.services, Utf8(zip), Utf8(out), message, "", true));
    EXPECT_EQ(extracted, c.fits) << message;
    if (c.fits) {
      EXPECT_EQ(message, "");
      EXPECT_EQ(FilesBelow(out), c.files);
    } else {
      EXPECT_THAT(message, HasSubstr("free on the disk."));
      EXPECT_FALSE(fs::exists(out));
    }
    std::error_code ignored;
    fs::remove_all(out, ignored);
  }
}

} // namespace
