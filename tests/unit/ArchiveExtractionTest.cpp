#include "store/ArchiveExtraction.h"
#include "common/Paths.h"
#include "platform/fake/FakePlatform.h"
#include "store/FolderUtils.h"

#include <gtest/gtest.h>

namespace {

using fake::FakeArchiveContent;

class ExtractTest : public ::testing::Test {
protected:
  bool Extract(const std::string& archive, const std::string& out, bool all = true,
               const std::string& embedded = "", std::optional<std::string> format = std::nullopt) {
    message = "unset";
    return store::ExtractArchive(p.services, archive, out, message, embedded, all, format);
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
  EXPECT_THROW(Extract("C:\\a\\really-a-zip.7z", "C:\\out"), plat::PlatformError);
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
}

TEST_F(ExtractTest, MissingLibrary) {
  p.archives.present = false;
  p.archives.Add("C:\\a.zip", Content("zip", {{"f", "x"}}));
  EXPECT_FALSE(Extract("C:\\a.zip", "C:\\out"));
  EXPECT_EQ(message, "7z.dll not found");
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
                              "C:/y", "C:rel", "ok/...", "f.txt:stream", "a/./../../b"}) {
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
}

TEST_F(ExtractTest, DamagedArchivesAreErrorsNotExtractions) {
  FakeArchiveContent truncated = Content("zip", {{"bin/javaw.exe", "MZ"}});
  truncated.damaged = true;
  p.archives.Add("C:\\t.zip", truncated);
  EXPECT_THROW(Extract("C:\\t.zip", "C:\\img"), plat::PlatformError);
  EXPECT_FALSE(p.files.FileExists("C:\\img\\bin\\javaw.exe"));

  FakeArchiveContent crc = Content("zip", {{"a", "1"}, {"b", "2"}});
  crc.failOnExtractIndex = 1;
  p.archives.Add("C:\\crc.zip", crc);
  EXPECT_THROW(Extract("C:\\crc.zip", "C:\\img2"), plat::PlatformError);
}

} // namespace
