#include "store/ArchiveExtraction.h"
#include "common/Paths.h"
#include "platform/fake/FakePlatform.h"
#include "store/FolderUtils.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace {

using fake::FakeArchiveContent;

class ExtractTest : public ::testing::Test {
protected:
  bool Extract(const std::string& archive, const std::string& out, bool all = true,
               const std::string& embedded = "", std::optional<std::string> format = std::nullopt) {
    message = "unset";
    refusal = store::Refusal::None;
    return store::ExtractArchive(p.services, archive, out, message, embedded, all, format, {},
                                 nullptr, &refusal);
  }
  static FakeArchiveContent Content(const std::string& format,
                                    std::vector<std::pair<std::string, std::string>> files) {
    FakeArchiveContent c;
    c.format = format;
    for (auto& [path, data] : files) {
      c.items.push_back({path, false});
      c.data.push_back(data);
    }
    return c;
  }
  fake::FakePlatform p;
  std::string message;
  store::Refusal refusal = store::Refusal::None;
};

TEST_F(ExtractTest, FormatFollowsTheNameInLibraryOrder) {
  struct Case {
    const char* file;
    const char* format;
  } cases[] = {
      {"C:\\a\\jre_v_17.zip", "zip"}, {"C:\\a\\X.ZIP", "zip"},      {"C:\\a\\lib.jar", "zip"},
      {"C:\\a\\c.7z", "7z"},          {"C:\\a\\b.doc", "Compound"},
  };
  for (const Case& c : cases) {
    p.archives.Add(c.file, Content(c.format, {{"f.txt", "x"}}));
    EXPECT_TRUE(Extract(c.file, "C:\\out")) << c.file;
    EXPECT_EQ(p.archives.opened.back(), std::string(c.format) + " " + c.file);
  }
}

TEST_F(ExtractTest, TheNameDecidesNotTheContent) {
  p.archives.Add("C:\\a\\really-a-zip.7z", Content("zip", {{"f", "x"}}));
  EXPECT_THROW(Extract("C:\\a\\really-a-zip.7z", "C:\\out"), plat::ArchiveError);
  EXPECT_TRUE(Extract("C:\\a\\really-a-zip.7z", "C:\\out", true, "", "zip"));
}

TEST_F(ExtractTest, UnknownNameFallsBackToCompoundDocument) {
  p.storage.Add("C:\\p\\x.VeltraDynamicRemoteHMI.KL7zip", {});
  p.archives.archives["content:" + p.files.Contents("C:\\p\\x.VeltraDynamicRemoteHMI.KL7zip")] =
      Content("Compound", {{"Contents", "7z-bytes"}, {"[5]SummaryInformation", "s"}});
  EXPECT_TRUE(Extract("C:\\p\\x.VeltraDynamicRemoteHMI.KL7zip", "C:\\s"));
  EXPECT_EQ(p.files.Contents("C:\\s\\Contents"), "7z-bytes");

  p.files.AddFile("C:\\p\\notes.txt", "hello");
  EXPECT_FALSE(Extract("C:\\p\\notes.txt", "C:\\s"));
  EXPECT_EQ(message, "Failed to determine file format of C:\\p\\notes.txt");
  EXPECT_EQ(refusal, store::Refusal::Archive);
}

TEST_F(ExtractTest, MissingLibrary) {
  p.archives.present = false;
  p.archives.Add("C:\\a.zip", Content("zip", {{"f", "x"}}));
  EXPECT_FALSE(Extract("C:\\a.zip", "C:\\out"));
  EXPECT_EQ(message, "7z.dll not found");
  EXPECT_EQ(refusal, store::Refusal::ThisMachine);
}

TEST_F(ExtractTest, FoldersCreatedFilesReplacedOthersKept) {
  FakeArchiveContent c = Content("zip", {{"bin/javaw.exe", "MZ-new"}, {"lib\\rt.jar", "PK"}});
  c.items.push_back({"empty/dir", true});
  c.data.push_back("");
  p.archives.Add("C:\\a.zip", c);
  p.files.AddFile("C:\\img\\bin\\javaw.exe", "MZ-old");
  p.files.AddFile("C:\\img\\keep.txt", "k");
  EXPECT_TRUE(Extract("C:\\a.zip", "C:\\img"));
  EXPECT_EQ(p.files.Contents("C:\\img\\bin\\javaw.exe"), "MZ-new");
  EXPECT_EQ(p.files.Contents("C:\\img\\lib\\rt.jar"), "PK");
  EXPECT_TRUE(p.files.DirectoryExists("C:\\img\\empty\\dir"));
  EXPECT_EQ(p.files.Contents("C:\\img\\keep.txt"), "k");
}

TEST_F(ExtractTest, EmptyArchiveOrNoSelectionWritesNothing) {
  p.archives.Add("C:\\e.7z", Content("7z", {}));
  EXPECT_TRUE(Extract("C:\\e.7z", "C:\\never"));
  EXPECT_FALSE(p.files.DirectoryExists("C:\\never"));

  p.archives.Add("C:\\a.7z", Content("7z", {{"Contents", "x"}, {"other", "y"}}));
  EXPECT_TRUE(Extract("C:\\a.7z", "C:\\sel", false, "nothing-by-that-name"));
  EXPECT_FALSE(p.files.DirectoryExists("C:\\sel"));
  EXPECT_TRUE(Extract("C:\\a.7z", "C:\\sel", false, "Contents"));
  EXPECT_EQ(p.files.Contents("C:\\sel\\Contents"), "x");
  EXPECT_FALSE(p.files.FileExists("C:\\sel\\other"));
  EXPECT_TRUE(Extract("C:\\a.7z", "C:\\sel2", false, "contents")); // case-sensitive
  EXPECT_FALSE(p.files.FileExists("C:\\sel2\\Contents"));
}

TEST_F(ExtractTest, HostileItemPathsAreRefusedBeforeAnythingIsWritten) {
  for (const char* hostile : {"../evil.txt", "a/../../x", "..\\x", "/abs/path", "\\abs", "C:\\x",
                              "C:/y", "C:rel", "ok/...", "f.txt:stream", "a/./../../b",
                              // Parts that Windows shortens to ".." once it strips trailing dots
                              // and blanks.
                              ".. /.. /evil.txt", "a/. ./b", "... /x", "a/.. ./b", " /x",
                              // Device names, with an extension or blanks before it, in any part.
                              "CON", "LPT1.txt", "dir/nul/x", "aux .log", "com9.", "Prn.tar.gz",
                              // A file item that names the output folder itself.
                              ".", "./"}) {
    fake::FakePlatform fp;
    FakeArchiveContent c = Content("zip", {{"first-good.txt", "1"}, {hostile, "bad"}});
    fp.archives.Add("C:\\h.zip", c);
    std::string msg;
    EXPECT_THROW(store::ExtractArchive(fp.services, "C:\\h.zip", "C:\\out\\img", msg, "", true),
                 paths::InvalidPathError)
        << hostile;
    EXPECT_FALSE(fp.files.FileExists("C:\\out\\img\\first-good.txt")) << hostile;
    for (const std::string& f : fp.files.AllFiles())
      EXPECT_EQ(f.find("evil"), std::string::npos) << hostile;
  }
}

TEST_F(ExtractTest, HarmlessOddPathsStayInside) {
  EXPECT_EQ(store::SafeItemPath("a//b/./c"), "a\\b\\c");
  EXPECT_EQ(store::SafeItemPath("..a/b.."), "..a\\b..");
  EXPECT_EQ(store::SafeItemPath("[5]DocumentSummaryInformation"), "[5]DocumentSummaryInformation");
  EXPECT_EQ(store::SafeItemPath("./bin/javaw.exe"), "bin\\javaw.exe");
  EXPECT_EQ(store::SafeItemPath("console/CONFIG.SYS"), "console\\CONFIG.SYS");
  EXPECT_EQ(store::SafeItemPath("lpt10/com0.txt"), "lpt10\\com0.txt");
}

TEST_F(ExtractTest, AFolderItemForTheOutputFolderItselfIsSkipped) {
  // What zip tools write for "the current folder".
  FakeArchiveContent c = Content("zip", {{"./bin/javaw.exe", "MZ"}});
  c.items.insert(c.items.begin(), {"./", true});
  c.data.insert(c.data.begin(), "");
  p.archives.Add("C:\\dot.zip", c);
  EXPECT_TRUE(Extract("C:\\dot.zip", "C:\\img"));
  EXPECT_EQ(p.files.Contents("C:\\img\\bin\\javaw.exe"), "MZ");
}

TEST_F(ExtractTest, AnArchiveThatWouldUnpackBeyondTheRoomIsRefusedBeforeAnythingIsWritten) {
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  constexpr uint64_t kGiB = uint64_t{1} << 30;
  struct Case {
    const char* name;
    std::vector<std::optional<uint64_t>> sizes; // stated sizes of the file items
    uint64_t freeOnC;
    const char* out;
    bool all;            // false: only the item "0" is extracted
    std::string message; // empty: extracted
    // Whose fault a refusal is: no room is this machine's, not the archive's.
    store::Refusal refusal = store::Refusal::ThisMachine;
  } cases[] = {
      {"fits", {3 * kGiB}, 3 * kGiB + kMiB, "C:\\img", true, "", store::Refusal::None},
      {"more than the free space",
       {2 * kGiB, kGiB},
       500 * kMiB + 1,
       "C:\\img",
       true,
       "The archive more than the free space.zip would unpack to 3072 MB, more than the 500 MB "
       "free on the disk."},
      {"rounded so that it reads right",
       {kMiB + 1},
       kMiB,
       "C:\\img",
       true,
       "The archive rounded so that it reads right.zip would unpack to 2 MB, more than the 1 MB "
       "free on the disk."},
      {"free space of the output folder's own disk",
       {3 * kGiB},
       1,
       "D:\\img",
       true,
       "",
       store::Refusal::None},
      {"more than any image may take",
       {8 * kGiB, kGiB},
       uint64_t{1} << 40,
       "C:\\img",
       true,
       "The archive more than any image may take.zip would unpack to 9216 MB, more than the "
       "8192 MB allowed."},
      {"sizes that overflow when added",
       {uint64_t{1} << 63, uint64_t{1} << 63, 16},
       uint64_t{1} << 40,
       "C:\\img",
       true,
       "The archive sizes that overflow when added.zip would unpack to 17592186044416 MB, more "
       "than the 8192 MB allowed."},
      {"only the chosen items count",
       {16, 100 * kGiB},
       kGiB,
       "C:\\img",
       false,
       "",
       store::Refusal::None},
      {"no stated size",
       {16, std::nullopt},
       kGiB,
       "C:\\img",
       true,
       "The archive no stated size.zip does not state the size of its items.",
       store::Refusal::Archive},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::FakePlatform fp;
    fp.files.drives.insert("d:");
    fp.files.freeBytes["c:"] = c.freeOnC;
    FakeArchiveContent content;
    content.format = "zip";
    for (size_t i = 0; i < c.sizes.size(); ++i) {
      content.items.push_back({std::to_string(i), false, c.sizes[i]});
      content.data.push_back("x");
      content.sizesStated = content.sizesStated && c.sizes[i].has_value();
    }
    const std::string archive = std::string("C:\\a\\") + c.name + ".zip";
    fp.archives.Add(archive, content);
    std::string msg = "unset";
    store::Refusal refusal = store::Refusal::Archive;
    EXPECT_EQ(store::ExtractArchive(fp.services, archive, c.out, msg, "0", c.all, std::nullopt, {},
                                    nullptr, &refusal),
              c.message.empty());
    EXPECT_EQ(msg, c.message);
    EXPECT_EQ(refusal, c.refusal);
    EXPECT_EQ(fp.files.DirectoryExists(c.out), c.message.empty());
  }
}

TEST_F(ExtractTest, DamagedArchivesAreErrorsNotExtractions) {
  FakeArchiveContent truncated = Content("zip", {{"bin/javaw.exe", "MZ"}});
  truncated.damaged = true;
  p.archives.Add("C:\\t.zip", truncated);
  EXPECT_THROW(Extract("C:\\t.zip", "C:\\img"), plat::ArchiveError);
  EXPECT_FALSE(p.files.FileExists("C:\\img\\bin\\javaw.exe"));

  FakeArchiveContent crc = Content("zip", {{"a", "1"}, {"b", "2"}});
  crc.failOnExtractIndex = 1;
  p.archives.Add("C:\\crc.zip", crc);
  EXPECT_THROW(Extract("C:\\crc.zip", "C:\\img2"), plat::ArchiveError);
}

// Small files take whole clusters and a directory entry each: an archive of
// thousands of them needs many times the bytes it states.
TEST_F(ExtractTest, TheRoomCountsWhatTheFileSystemTakesPerItem) {
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  struct Case {
    const char* name;
    uint64_t files; // file items of `fileBytes` each
    uint64_t fileBytes;
    uint64_t folders; // folder items
    uint64_t freeOnC;
    std::string message; // empty: extracted
  } cases[] = {
      {"twelve thousand small files on a small disk", 12001, 100, 0, 38 * kMiB,
       "The archive twelve thousand small files on a small disk.zip would unpack to 59 MB, more "
       "than the 38 MB free on the disk."},
      {"the same files on a disk that takes them", 12001, 100, 0, 60 * kMiB, ""},
      {"a cluster and an entry for each folder too", 1, 100, 7999, 39 * kMiB,
       "The archive a cluster and an entry for each folder too.zip would unpack to 40 MB, more "
       "than the 39 MB free on the disk."},
      {"a file of whole clusters takes no more than its clusters", 1, 64 * 4096, 0,
       64 * 4096 + 1024, ""},
      {"one byte more takes another cluster", 1, 64 * 4096 + 1, 0, 64 * 4096 + 1024,
       "The archive one byte more takes another cluster.zip would unpack to 1 MB, more than "
       "the 0 MB free on the disk."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::FakePlatform fp;
    fp.files.freeBytes["c:"] = c.freeOnC;
    FakeArchiveContent content;
    content.format = "zip";
    for (uint64_t i = 0; i < c.files; ++i) {
      content.items.push_back({"f/" + std::to_string(i), false, c.fileBytes});
      content.data.push_back("x");
    }
    for (uint64_t i = 0; i < c.folders; ++i) {
      content.items.push_back({"d" + std::to_string(i), true});
      content.data.push_back("");
    }
    const std::string archive = std::string("C:\\a\\") + c.name + ".zip";
    fp.archives.Add(archive, content);
    std::string msg = "unset";
    EXPECT_EQ(store::ExtractArchive(fp.services, archive, "C:\\img", msg, "", true),
              c.message.empty());
    EXPECT_EQ(msg, c.message);
    EXPECT_EQ(fp.files.DirectoryExists("C:\\img"), c.message.empty());
  }
}

// Whose fault a failure is decides what becomes of a good cached archive:
// this machine's failures pass through as PlatformError, never as the
// archive's fault, and the archive's own faults never as PlatformError.
TEST_F(ExtractTest, AFailureOfThisMachineIsNotTheArchivesFault) {
  enum class Fault { Machine, Archive, HostileName };
  struct Case {
    const char* name;
    std::function<void(fake::FakePlatform&, FakeArchiveContent&)> prepare;
    Fault fault;
  } cases[] = {
      {"a file that cannot be written",
       [](fake::FakePlatform& fp, FakeArchiveContent&) {
         fp.files.unwritable.insert("C:\\img\\lib\\rt.jar");
       },
       Fault::Machine},
      {"a folder that cannot be made",
       [](fake::FakePlatform& fp, FakeArchiveContent&) {
         fp.files.uncreatable.insert("C:\\img\\lib");
       },
       Fault::Machine},
      {"an item that fails its check",
       [](fake::FakePlatform&, FakeArchiveContent& c) { c.failOnExtractIndex = 1; },
       Fault::Archive},
      {"a damaged archive", [](fake::FakePlatform&, FakeArchiveContent& c) { c.damaged = true; },
       Fault::Archive},
      {"an item longer than it states",
       [](fake::FakePlatform&, FakeArchiveContent& c) { c.items[1].size = 1; }, Fault::Archive},
      {"a hostile item name",
       [](fake::FakePlatform&, FakeArchiveContent& c) { c.items[1].path = "../rt.jar"; },
       Fault::HostileName},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::FakePlatform fp;
    FakeArchiveContent content =
        Content("zip", {{"bin/javaw.exe", "MZ"}, {"lib/rt.jar", "PK-data"}});
    c.prepare(fp, content);
    fp.archives.Add("C:\\a.zip", content);
    std::string msg;
    std::optional<Fault> raised;
    std::string what;
    try {
      store::ExtractArchive(fp.services, "C:\\a.zip", "C:\\img", msg, "", true);
    } catch (const plat::PlatformError& e) {
      raised = Fault::Machine;
      what = e.what();
    } catch (const plat::ArchiveError& e) {
      raised = Fault::Archive;
      what = e.what();
    } catch (const paths::InvalidPathError& e) {
      raised = Fault::HostileName;
      what = e.what();
    }
    ASSERT_TRUE(raised.has_value());
    EXPECT_EQ(*raised, c.fault) << what;
    EXPECT_FALSE(what.empty());
    // The archive itself is never touched by the extraction.
    EXPECT_TRUE(fp.files.FileExists("C:\\a.zip"));
  }
}

} // namespace
