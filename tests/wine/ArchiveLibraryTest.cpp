// The archive library 7z.dll as the launcher drives it: the real library
// beside the test program, and archives made on the Linux side at build time
// (cmake/windows.d/sevenzip.cmake) from the tree it also leaves there.
#include "platform/win32/Win32Archive.h"

#include "platform/Platform.h"
#include "platform/win32/Win32Text.h"
#include "tests/wine/LauncherHarness.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

using plat::ArchiveError;
using plat::ArchiveFormat;
using plat::ArchiveItem;
using plat::IArchive;
using plat::IArchiveLibrary;
using plat::PlatformError;
using plat::win32::CreateWin32ArchiveLibrary;
using plat::win32::Narrow;
using plat::win32::SystemErrorText;
using plat::win32::Widen;
using testing::Contains;
using testing::Field;
using testing::HasSubstr;
using testing::IsSupersetOf;
using testing::UnorderedElementsAreArray;
using winetest::TempFolder;

// The build's test data folder, a Linux path, through Wine's drive Z:.
fs::path DataPath(const std::string& name) {
  std::wstring folder = Widen(VELTRA_ARCHIVE_TESTDATA);
  std::replace(folder.begin(), folder.end(), L'/', L'\\');
  return fs::path(L"Z:" + folder) / Widen(name);
}

// The damaged and oversized archives (cmake/windows.d/archive-limits-testdata.cmake).
fs::path LimitsPath(const std::string& name) {
  std::wstring folder = Widen(VELTRA_ARCHIVE_LIMITS_TESTDATA);
  std::replace(folder.begin(), folder.end(), L'/', L'\\');
  return fs::path(L"Z:" + folder) / Widen(name);
}

std::string Utf8(const fs::path& path) {
  return Narrow(path.wstring());
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::runtime_error("cannot read " + Utf8(path));
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::unique_ptr<IArchiveLibrary> LoadedLibrary() {
  auto library = CreateWin32ArchiveLibrary();
  if (!library->Load())
    throw std::runtime_error("7z.dll did not load from beside the test program");
  return library;
}

const ArchiveFormat* FindFormat(const std::vector<ArchiveFormat>& formats,
                                const std::string& name) {
  auto found = std::find_if(formats.begin(), formats.end(),
                            [&](const ArchiveFormat& f) { return f.name == name; });
  return found == formats.end() ? nullptr : &*found;
}

// Fails the test (through PlatformError) when the name is not listed.
uint32_t IndexOrThrow(const std::vector<ArchiveItem>& items, const std::string& path) {
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i].path == path)
      return static_cast<uint32_t>(i);
  throw PlatformError("no item " + path);
}

// --- Loading -----------------------------------------------------------------

TEST(ArchiveLibraryLoadTest, LoadsTheLibraryBesideTheProgramAgainAndAgain) {
  auto first = CreateWin32ArchiveLibrary();
  EXPECT_TRUE(first->Load());
  EXPECT_TRUE(first->Load());
  EXPECT_TRUE(CreateWin32ArchiveLibrary()->Load());
}

TEST(ArchiveLibraryLoadTest, FailsForAMissingLibraryOrOneWithoutTheEntryPoints) {
  // kernel32.dll loads but exports none of the archive library's functions.
  for (const wchar_t* name : {L"veltra-no-such-archive-library.dll", L"kernel32.dll"}) {
    SCOPED_TRACE(Narrow(name));
    auto library = CreateWin32ArchiveLibrary(name);
    EXPECT_FALSE(library->Load());
    // Nothing was remembered: the next attempt looks again.
    EXPECT_FALSE(library->Load());
    EXPECT_THROW(library->Formats(), PlatformError);
    EXPECT_THROW(library->Open("zip", Utf8(DataPath("good.zip"))), PlatformError);
  }
}

// A library of the wanted name in the working directory or in a folder on
// PATH is never loaded: only the program's own folder counts.
TEST(ArchiveLibraryLoadTest, NotTakenFromTheWorkingDirectoryOrPath) {
  const std::wstring name = L"veltra-planted-archive-library.dll";
  wchar_t program[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
  const std::filesystem::path own =
      std::filesystem::path(std::wstring(program, length)).parent_path() / L"7z.dll";
  TempFolder planted;
  std::filesystem::copy_file(own, planted.Path() / name);

  wchar_t cwd[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, cwd);
  SetCurrentDirectoryW(planted.Path().c_str());
  EXPECT_FALSE(CreateWin32ArchiveLibrary(name)->Load()) << "taken from the working directory";
  SetCurrentDirectoryW(cwd);

  std::vector<wchar_t> path(32768);
  const DWORD n = GetEnvironmentVariableW(L"PATH", path.data(), 32768);
  const std::wstring oldPath(path.data(), n);
  SetEnvironmentVariableW(L"PATH", (planted.Path().wstring() + L";" + oldPath).c_str());
  EXPECT_FALSE(CreateWin32ArchiveLibrary(name)->Load()) << "taken from PATH";
  SetEnvironmentVariableW(L"PATH", oldPath.c_str());

  // The same file by its full path loads.
  EXPECT_TRUE(CreateWin32ArchiveLibrary((planted.Path() / name).wstring())->Load());
}

TEST(ArchiveLibraryLoadTest, ListsItsFormatsWithTheirExtensions) {
  std::vector<ArchiveFormat> formats = LoadedLibrary()->Formats();
  EXPECT_GT(formats.size(), 3u);

  const ArchiveFormat* sevenZip = FindFormat(formats, "7z");
  ASSERT_NE(sevenZip, nullptr);
  EXPECT_THAT(sevenZip->extensions, Contains("7z"));

  const ArchiveFormat* zip = FindFormat(formats, "zip");
  ASSERT_NE(zip, nullptr);
  ASSERT_FALSE(zip->extensions.empty());
  EXPECT_EQ(zip->extensions.front(), "zip");
  EXPECT_THAT(zip->extensions, IsSupersetOf({"zipx", "jar"}));

  const ArchiveFormat* compound = FindFormat(formats, "Compound");
  ASSERT_NE(compound, nullptr);
  EXPECT_THAT(compound->extensions, IsSupersetOf({"msi", "doc"}));

  for (const ArchiveFormat& format : formats)
    for (const std::string& extension : format.extensions)
      EXPECT_FALSE(extension.empty() || extension.find(' ') != std::string::npos)
          << format.name << ": '" << extension << "'";
}

// --- Reading and extracting good archives --------------------------------------

struct GoodArchive {
  const char* format;
  const char* file;
};

void PrintTo(const GoodArchive& archive, std::ostream* os) {
  *os << archive.file;
}

class GoodArchiveTest : public testing::TestWithParam<GoodArchive> {};

TEST_P(GoodArchiveTest, ListsAndExtractsEveryItemByteForByte) {
  auto archive = LoadedLibrary()->Open(GetParam().format, Utf8(DataPath(GetParam().file)));
  std::vector<ArchiveItem> items = archive->Items();
  EXPECT_FALSE(archive->HasErrors());

  std::vector<std::pair<std::string, bool>> listed;
  for (const ArchiveItem& item : items)
    listed.emplace_back(item.path, item.isFolder);
  EXPECT_THAT(listed, UnorderedElementsAreArray(std::vector<std::pair<std::string, bool>>{
                          {"bin", true},
                          {"bin/data.bin", false},
                          {"docs", true},
                          {"docs/readme.txt", false},
                          {"empty.txt", false},
                      }));

  TempFolder out;
  std::vector<std::pair<uint32_t, std::string>> targets;
  for (uint32_t i = 0; i < items.size(); ++i)
    targets.emplace_back(i, Utf8(out.Path() / (std::to_wstring(i) + L".out")));
  // The progress is told on this thread, counts up and ends with every item.
  std::vector<std::pair<uint64_t, uint64_t>> told;
  const std::thread::id caller = std::this_thread::get_id();
  bool onCaller = true;
  archive->Extract(targets, [&](uint64_t done, uint64_t total) {
    onCaller = onCaller && std::this_thread::get_id() == caller;
    told.emplace_back(done, total);
  });
  EXPECT_TRUE(onCaller);
  ASSERT_FALSE(told.empty());
  EXPECT_EQ(told.back(), std::make_pair(uint64_t{targets.size()}, uint64_t{targets.size()}));
  EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));

  for (const auto& [index, target] : targets) {
    const ArchiveItem& item = items[index];
    SCOPED_TRACE(item.path);
    if (item.isFolder) {
      EXPECT_TRUE(fs::is_directory(Widen(target)));
    } else {
      ASSERT_TRUE(fs::is_regular_file(Widen(target)));
      const std::string expected = ReadBytes(DataPath("tree") / Widen(item.path));
      EXPECT_EQ(ReadBytes(Widen(target)), expected);
      EXPECT_EQ(item.size, expected.size());
    }
  }
}

TEST_P(GoodArchiveTest, ExtractsOnlyTheChosenItemsAndReplacesExistingFiles) {
  auto archive = LoadedLibrary()->Open(GetParam().format, Utf8(DataPath(GetParam().file)));
  std::vector<ArchiveItem> items = archive->Items();
  uint32_t data = IndexOrThrow(items, "bin/data.bin");
  uint32_t readme = IndexOrThrow(items, "docs/readme.txt");

  TempFolder out;
  // Longer than the item: a file that is not truncated first keeps a tail.
  fs::path readmeTarget = out.WriteFile(
      L"readme.txt", std::string(64, 'x') + ReadBytes(DataPath("tree/docs/readme.txt")));
  fs::path dataTarget = out.Path() / L"data.bin";
  // In no particular order.
  std::vector<std::pair<uint32_t, std::string>> targets{{std::max(data, readme), ""},
                                                        {std::min(data, readme), ""}};
  for (auto& [index, target] : targets)
    target = Utf8(index == data ? dataTarget : readmeTarget);
  archive->Extract(targets);

  EXPECT_EQ(ReadBytes(dataTarget), ReadBytes(DataPath("tree/bin/data.bin")));
  EXPECT_EQ(ReadBytes(readmeTarget), ReadBytes(DataPath("tree/docs/readme.txt")));
  std::vector<fs::path> written;
  for (const auto& entry : fs::directory_iterator(out.Path()))
    written.push_back(entry.path().filename());
  EXPECT_THAT(written, UnorderedElementsAreArray({fs::path(L"data.bin"), fs::path(L"readme.txt")}));
}

TEST_P(GoodArchiveTest, RefusesBadTargetsNamingThem) {
  auto archive = LoadedLibrary()->Open(GetParam().format, Utf8(DataPath(GetParam().file)));
  std::vector<ArchiveItem> items = archive->Items();
  uint32_t readme = IndexOrThrow(items, "docs/readme.txt");
  TempFolder out;

  std::string missingFolder = Utf8(out.Path() / L"no-such-folder" / L"readme.txt");
  try {
    archive->Extract({{readme, missingFolder}});
    ADD_FAILURE() << "a target in a missing folder was accepted";
  } catch (const PlatformError& e) {
    EXPECT_THAT(e.what(), HasSubstr(missingFolder));
  }

  auto count = static_cast<uint32_t>(items.size());
  EXPECT_THROW(archive->Extract({{count, Utf8(out.Path() / L"past-the-end")}}), PlatformError);
  EXPECT_THROW(
      archive->Extract({{readme, Utf8(out.Path() / L"a")}, {readme, Utf8(out.Path() / L"b")}}),
      PlatformError);
  // Nothing at all is a valid request.
  EXPECT_NO_THROW(archive->Extract({}));
}

TEST_P(GoodArchiveTest, LetsGoOfTheArchiveFileWhenClosed) {
  TempFolder work;
  fs::path copy = work.WriteFile(Widen(GetParam().file), ReadBytes(DataPath(GetParam().file)));
  {
    std::unique_ptr<IArchive> archive;
    {
      // The archive outlives the library object that opened it.
      auto library = LoadedLibrary();
      archive = library->Open(GetParam().format, Utf8(copy));
    }
    EXPECT_EQ(archive->Items().size(), 5u);
    // While the archive is open its file stays open too.
    EXPECT_FALSE(DeleteFileW(copy.c_str()));
    archive->Extract({{IndexOrThrow(archive->Items(), "empty.txt"), Utf8(work.Path() / L"e")}});
  }
  EXPECT_TRUE(DeleteFileW(copy.c_str())) << GetLastError();
  EXPECT_TRUE(DeleteFileW((work.Path() / L"e").c_str())) << GetLastError();
}

INSTANTIATE_TEST_SUITE_P(Formats, GoodArchiveTest,
                         testing::Values(GoodArchive{"zip", "good.zip"},
                                         GoodArchive{"7z", "good.7z"}),
                         [](const testing::TestParamInfo<GoodArchive>& info) {
                           return std::string(info.param.format == std::string("7z") ? "SevenZip"
                                                                                     : "Zip");
                         });

// --- Hostile names -----------------------------------------------------------

TEST(ArchiveLibraryTest, ReportsHostileNamesAsStored) {
  // Nothing is cleaned up or refused here; the caller judges the names. Both
  // separators come back as stored, although the library itself shows them
  // differently on Windows.
  const std::vector<std::string> expected{
      "../evil.txt", "a/../../x.txt",        "/abs/root.txt",
      "C:\\x.txt",   "dir\\back\\slash.txt", "Grüße/naïve.txt",
  };
  auto library = LoadedLibrary();
  for (const char* format : {"zip", "7z"}) {
    SCOPED_TRACE(format);
    auto archive = library->Open(format, Utf8(DataPath(std::string("hostile.") + format)));
    std::vector<std::string> names;
    for (const ArchiveItem& item : archive->Items()) {
      names.push_back(item.path);
      EXPECT_FALSE(item.isFolder) << item.path;
    }
    EXPECT_EQ(names, expected);
  }
}

TEST(ArchiveLibraryTest, ExtractsToATargetWithANameBeyondAscii) {
  auto archive = LoadedLibrary()->Open("zip", Utf8(DataPath("hostile.zip")));
  uint32_t index = IndexOrThrow(archive->Items(), "Grüße/naïve.txt");
  TempFolder out;
  fs::path target = out.Path() / Widen("Ünïcödé €.txt");
  archive->Extract({{index, Utf8(target)}});
  EXPECT_EQ(ReadBytes(target), "unicode");
}

// --- Damage and wrong formats ------------------------------------------------

TEST(ArchiveLibraryTest, FlagsATruncatedZip) {
  auto library = LoadedLibrary();
  std::unique_ptr<IArchive> archive;
  try {
    archive = library->Open("zip", Utf8(DataPath("truncated.zip")));
  } catch (const ArchiveError&) {
    return; // refusing it outright is as good
  }
  EXPECT_TRUE(archive->HasErrors());
}

TEST(ArchiveLibraryTest, RefusesToOpenWhatIsNotAnArchiveOfTheFormat) {
  // The file's own fault is the archive's; a file that is not there, or a
  // library without the format, is this machine's.
  struct Case {
    const char* format;
    const char* file;
    bool archivesFault;
  };
  const Case cases[] = {
      {"zip", "not-an-archive.txt", true},   // plain text
      {"7z", "not-an-archive.txt", true},    // plain text
      {"7z", "good.zip", true},              // an archive, of another format
      {"zip", "no-such-file.zip", false},    // missing
      {"no-such-format", "good.zip", false}, // a format the library lacks
  };
  auto library = LoadedLibrary();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " " + c.file);
    std::string path = Utf8(DataPath(c.file));
    try {
      library->Open(c.format, path);
      ADD_FAILURE() << "opened";
    } catch (const ArchiveError& e) {
      EXPECT_TRUE(c.archivesFault) << e.what();
      EXPECT_THAT(e.what(), HasSubstr(path));
    } catch (const PlatformError& e) {
      EXPECT_FALSE(c.archivesFault) << e.what();
      EXPECT_THAT(e.what(), HasSubstr(path));
    }
  }
}

TEST(ArchiveLibraryTest, RaisesADataErrorOfADamaged7zAndLeavesNoPartialFile) {
  TempFolder work;
  fs::path copy = work.WriteFile(L"damaged.7z", ReadBytes(DataPath("damaged.7z")));
  fs::path out = work.Path() / L"out";
  fs::create_directory(out);
  {
    auto archive = LoadedLibrary()->Open("7z", Utf8(copy));
    std::vector<ArchiveItem> items = archive->Items();
    uint32_t data = IndexOrThrow(items, "bin/data.bin");
    try {
      archive->Extract({{data, Utf8(out / L"data.bin")}});
      ADD_FAILURE() << "the damage went unnoticed";
    } catch (const ArchiveError& e) {
      EXPECT_THAT(e.what(), HasSubstr(items[data].path));
      EXPECT_THAT(e.what(), testing::AnyOf(HasSubstr("CRC error"), HasSubstr("data error")));
    }
    EXPECT_FALSE(fs::exists(out / L"data.bin"));
  }
  // No handle of the archive is left open after the failure.
  EXPECT_TRUE(DeleteFileW(copy.c_str())) << GetLastError();
}

TEST(ArchiveLibraryTest, RaisesALaterItemsChecksumErrorAfterTheItemsBeforeIt) {
  auto archive = LoadedLibrary()->Open("zip", Utf8(LimitsPath("crc-later.zip")));
  std::vector<ArchiveItem> items = archive->Items();
  EXPECT_FALSE(archive->HasErrors()); // nothing shows until the data is read
  uint32_t javaw = IndexOrThrow(items, "bin/javaw.exe");
  uint32_t runtime = IndexOrThrow(items, "lib/rt.jar");
  EXPECT_EQ(items[runtime].size, 300000u);

  TempFolder out;
  try {
    archive->Extract(
        {{javaw, Utf8(out.Path() / L"javaw.exe")}, {runtime, Utf8(out.Path() / L"rt.jar")}});
    ADD_FAILURE() << "the checksum error went unnoticed";
  } catch (const ArchiveError& e) {
    EXPECT_THAT(e.what(), HasSubstr("lib/rt.jar"));
    EXPECT_THAT(e.what(), HasSubstr("CRC error"));
  }
  // The item before it is written in full; the failing one leaves nothing.
  EXPECT_EQ(ReadBytes(out.Path() / L"javaw.exe"), "MZ sound launcher");
  EXPECT_FALSE(fs::exists(out.Path() / L"rt.jar"));
}

TEST(ArchiveLibraryTest, WritesNoMoreThanAnItemsStatedSize) {
  struct Case {
    const char* file;
    uint64_t stated;
    bool refused;
  } cases[] = {
      {"zeros.gz", 1 << 20, false},
      // States 1000 bytes and decodes a megabyte: a gzip member's size is
      // read from its trailer, and the library decodes on regardless.
      {"size-lie.gz", 1000, true},
  };
  auto library = LoadedLibrary();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    auto archive = library->Open("gzip", Utf8(LimitsPath(c.file)));
    std::vector<ArchiveItem> items = archive->Items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].path, "data.bin");
    EXPECT_EQ(items[0].size, c.stated);

    TempFolder out;
    const fs::path target = out.Path() / L"data.bin";
    try {
      archive->Extract({{0, Utf8(target)}});
      EXPECT_FALSE(c.refused);
      EXPECT_EQ(fs::file_size(target), c.stated);
    } catch (const ArchiveError& e) {
      EXPECT_TRUE(c.refused) << e.what();
      EXPECT_THAT(e.what(), HasSubstr("more data than its stated size"));
      EXPECT_FALSE(fs::exists(target));
    }
  }
}

// A disk that fills up while an item is written is this machine's failure,
// not the archive's: the archive may be good. Needs a small file system of
// its own (a few MiB, e.g. a tmpfs), named by VELTRA_SMALL_DISK as a Linux
// path; skipped without one.
TEST(ArchiveLibraryTest, AFullDiskIsThisMachinesFailureNotTheArchives) {
  const char* smallDisk = std::getenv("VELTRA_SMALL_DISK");
  if (smallDisk == nullptr || *smallDisk == '\0')
    GTEST_SKIP() << "VELTRA_SMALL_DISK names no small file system";
  const fs::path root = winetest::WindowsPath(smallDisk);
  const fs::path filler = root / L"filler.bin";
  const fs::path target = root / L"data.bin";
  struct Cleanup {
    std::vector<fs::path> files;
    ~Cleanup() {
      for (const fs::path& f : files)
        DeleteFileW(f.c_str());
    }
  } cleanup{{filler, target}};

  // Leaves a few KiB of room, far less than the item's megabyte.
  ULARGE_INTEGER freeBytes{};
  ASSERT_TRUE(GetDiskFreeSpaceExW(root.c_str(), &freeBytes, nullptr, nullptr)) << GetLastError();
  ASSERT_GT(freeBytes.QuadPart, 64u * 1024) << "the small disk is full already";
  {
    std::ofstream fill(filler, std::ios::binary);
    const std::string block(64 * 1024, 'f');
    for (uint64_t left = freeBytes.QuadPart - 16 * 1024; left > 0;) {
      const uint64_t n = std::min<uint64_t>(left, block.size());
      fill.write(block.data(), static_cast<std::streamsize>(n));
      left -= n;
    }
  }

  auto archive = LoadedLibrary()->Open("gzip", Utf8(LimitsPath("zeros.gz")));
  try {
    archive->Extract({{0, Utf8(target)}});
    ADD_FAILURE() << "a megabyte went into a few KiB";
  } catch (const ArchiveError& e) {
    ADD_FAILURE() << "taken for the archive's fault: " << e.what();
  } catch (const PlatformError& e) {
    EXPECT_THAT(e.what(), HasSubstr(Utf8(target)));
    // The system's own reason, as Win32 words it.
    EXPECT_THAT(e.what(), HasSubstr(SystemErrorText(ERROR_DISK_FULL)));
  }
  EXPECT_FALSE(fs::exists(target));
}

// --- Package files -----------------------------------------------------------

TEST(ArchiveLibraryTest, ListsAPackageFilesStreamsAndExtractsItsContents) {
  auto archive = LoadedLibrary()->Open("Compound", Utf8(DataPath("package.pkg")));
  std::vector<ArchiveItem> items = archive->Items();
  EXPECT_THAT(items, Contains(Field(&ArchiveItem::path, "[5]DocumentSummaryInformation")));
  uint32_t contents = IndexOrThrow(items, "Contents");
  EXPECT_FALSE(archive->HasErrors());
  EXPECT_EQ(items[contents].size, ReadBytes(DataPath("good.7z")).size());

  TempFolder out;
  fs::path target = out.Path() / L"contents.7z";
  archive->Extract({{contents, Utf8(target)}});
  // The package was made from good.7z.
  EXPECT_EQ(ReadBytes(target), ReadBytes(DataPath("good.7z")));
}

} // namespace
