// Compound files through OLE structured storage, the settings file through the
// system's XML DOM, and the token queries, all on the real Win32 calls.
#include "platform/win32/Win32Storage.h"

#include "platform/Platform.h"
#include "tests/wine/LauncherHarness.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

using winetest::TempFolder;
namespace fs = std::filesystem;

const std::u16string kPropertySetStream = u"\u0005DocumentSummaryInformation";

std::string Utf8(const fs::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// A file made at build time, reached through Wine's drive Z:.
std::string TestData(const std::string& name) {
  std::string path = std::string("Z:") + VELTRA_STORAGE_TESTDATA + "/" + name;
  for (char& c : path)
    if (c == '/')
      c = '\\';
  return path;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot open " << Utf8(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadBytes(const std::string& utf8Path) {
  return ReadBytes(fs::path(std::u8string(utf8Path.begin(), utf8Path.end())));
}

// A handle of CreateFileW, closed when it goes.
class FileHandle {
public:
  FileHandle(const fs::path& path, DWORD access, DWORD share)
      : handle_(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE)
      CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
  HANDLE handle_;
};

// True when nobody holds the file open any more: only then does an open that
// shares nothing succeed.
bool NobodyHoldsOpen(const fs::path& path) {
  return FileHandle(path, GENERIC_READ | GENERIC_WRITE, 0).IsOpen();
}

// COM on the test's thread, apartment-threaded like the program's.
class ComTest : public testing::Test {
protected:
  void SetUp() override {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ASSERT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
    initialised_ = true;
  }
  void TearDown() override {
    if (initialised_)
      CoUninitialize();
  }

private:
  bool initialised_ = false;
};

// --- Structured storage ------------------------------------------------------

class StructuredStorageTest : public ComTest {
protected:
  // A copy of a build-time file in the test's own folder, for tests that
  // lock it or look at who holds it.
  fs::path CopyOf(const std::string& name) {
    fs::path copy = temp_.Path() / name;
    EXPECT_TRUE(CopyFileW(fs::path(TestData(name)).c_str(), copy.c_str(), TRUE));
    return copy;
  }

  std::unique_ptr<plat::IStructuredStorage> storage_ = plat::win32::CreateWin32StructuredStorage();
  TempFolder temp_;
};

TEST_F(StructuredStorageTest, RecognisesOnlyFilesWithTheCompoundFileSignature) {
  const fs::path empty = temp_.WriteFile("empty.pkg", "");
  const fs::path text = temp_.WriteFile("text.pkg", "Not a compound file, just text.\r\n");
  const struct {
    const char* what;
    std::string path;
    bool expected;
  } cases[] = {
      {"package", TestData("package.pkg"), true},
      {"ordinary binary file", TestData("contents.bin"), false},
      {"text file", Utf8(text), false},
      {"empty file", Utf8(empty), false},
      {"missing file", Utf8(temp_.Path() / "missing.pkg"), false},
      {"folder", Utf8(temp_.Path()), false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(storage_->IsStorageFile(c.path), c.expected) << c.what;
}

TEST_F(StructuredStorageTest, ReadsEveryRootStreamWhole) {
  const struct {
    const char* what;
    std::u16string stream;
    std::string expectedFile;
  } cases[] = {
      {"property set (mini stream)", kPropertySetStream, "propset.bin"},
      {"Contents (ordinary sectors)", u"Contents", "contents.bin"},
      {"empty stream", u"Empty", "empty.bin"},
  };
  for (const auto& c : cases) {
    std::optional<std::string> bytes = storage_->ReadRootStream(TestData("package.pkg"), c.stream);
    ASSERT_TRUE(bytes.has_value()) << c.what;
    EXPECT_TRUE(*bytes == ReadBytes(TestData(c.expectedFile)))
        << c.what << ": " << bytes->size() << " bytes read";
  }
}

TEST_F(StructuredStorageTest, GivesNothingWhenTheFileOrTheStreamCannotBeRead) {
  const fs::path empty = temp_.WriteFile("empty.pkg", "");
  const struct {
    const char* what;
    std::string path;
    std::u16string stream;
  } cases[] = {
      {"missing stream", TestData("package.pkg"), u"NoSuchStream"},
      {"empty stream name", TestData("package.pkg"), u""},
      {"name with a NUL after an existing one", TestData("package.pkg"),
       std::u16string(u"Contents\0x", 10)},
      {"missing file", Utf8(temp_.Path() / "missing.pkg"), u"Contents"},
      {"empty file", Utf8(empty), u"Contents"},
      {"ordinary file", TestData("contents.bin"), u"Contents"},
      {"file cut in half", TestData("truncated.pkg"), u"Contents"},
      {"sector chain running past the end", TestData("bad-sector.pkg"), u"Contents"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(storage_->ReadRootStream(c.path, c.stream), std::nullopt) << c.what;
}

TEST_F(StructuredStorageTest, RefusesAStreamAboveTheSizeLimit) {
  const std::string contents = ReadBytes(TestData("contents.bin"));
  auto atLimit = plat::win32::CreateWin32StructuredStorage(contents.size());
  auto belowLimit = plat::win32::CreateWin32StructuredStorage(contents.size() - 1);

  EXPECT_EQ(atLimit->ReadRootStream(TestData("package.pkg"), u"Contents"), contents);
  EXPECT_EQ(belowLimit->ReadRootStream(TestData("package.pkg"), u"Contents"), std::nullopt);
  // The limit is per stream: a small one in the same file still reads.
  EXPECT_TRUE(belowLimit->ReadRootStream(TestData("package.pkg"), kPropertySetStream).has_value());
}

TEST_F(StructuredStorageTest, LeavesTheFileClosedAfterEveryRead) {
  const fs::path package = CopyOf("package.pkg");
  const fs::path cut = CopyOf("truncated.pkg");

  EXPECT_TRUE(storage_->ReadRootStream(Utf8(package), u"Contents").has_value());
  EXPECT_TRUE(NobodyHoldsOpen(package)) << "after a read";
  EXPECT_FALSE(storage_->ReadRootStream(Utf8(package), u"NoSuchStream").has_value());
  EXPECT_TRUE(NobodyHoldsOpen(package)) << "after a missing stream";
  EXPECT_TRUE(storage_->IsStorageFile(Utf8(package)));
  EXPECT_TRUE(NobodyHoldsOpen(package)) << "after the signature check";
  EXPECT_FALSE(storage_->ReadRootStream(Utf8(cut), u"Contents").has_value());
  EXPECT_TRUE(NobodyHoldsOpen(cut)) << "after a damaged file";
}

TEST_F(StructuredStorageTest, SharesTheFileWithReadersButNotWithWriters) {
  const fs::path package = CopyOf("package.pkg");
  {
    FileHandle reader(package, GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(reader.IsOpen());
    EXPECT_TRUE(storage_->ReadRootStream(Utf8(package), u"Contents").has_value())
        << "while another reader holds the file";
  }
  {
    FileHandle writer(package, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(writer.IsOpen());
    EXPECT_EQ(storage_->ReadRootStream(Utf8(package), u"Contents"), std::nullopt)
        << "while a writer holds the file";
  }
}

// --- XML -----------------------------------------------------------------------

constexpr const char* kPackageFolder = "//PackageFolder/@baseURI";

// Every case with the newest XML services and with the 3.0 fallback.
class XmlFileTest : public ComTest, public testing::WithParamInterface<bool> {
protected:
  std::string Write(const fs::path& name, const std::string& bytes) {
    return Utf8(temp_.WriteFile(name, bytes));
  }

  std::unique_ptr<plat::IXmlFile> xml_ = plat::win32::CreateWin32XmlFile(GetParam());
  TempFolder temp_;
};

TEST_P(XmlFileTest, ReadsTheFirstMatchInDocumentOrder) {
  const struct {
    const char* what;
    const char* document;
    const char* expected;
  } cases[] = {
      {"plain", R"(<Settings><PackageFolder baseURI="C:\pkgs"/></Settings>)", R"(C:\pkgs)"},
      {"with declaration, comments and layout",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- settings -->\r\n<Settings>\r\n"
       "  <Other name=\"x\"/>\r\n  <PackageFolder baseURI=\"D:\\data\"/>\r\n</Settings>\r\n",
       R"(D:\data)"},
      {"deep inside", R"(<S><A><B><C><D><PackageFolder baseURI="deep"/></D></C></B></A></S>)",
       "deep"},
      {"nested one before a shallower one",
       R"(<S><Group><PackageFolder baseURI="first"/></Group><PackageFolder baseURI="second"/></S>)",
       "first"},
      {"element without the attribute first",
       R"(<S><PackageFolder/><PackageFolder baseURI="with"/></S>)", "with"},
      {"blanks at both ends", R"(<S><PackageFolder baseURI="  C:\a b  "/></S>)", R"(  C:\a b  )"},
      {"character references", R"(<S><PackageFolder baseURI="a&amp;b&#x20;&lt;c&gt;"/></S>)",
       "a&b <c>"},
      {"empty value", R"(<S><PackageFolder baseURI=""/></S>)", ""},
  };
  for (const auto& c : cases) {
    const std::string path = Write("settings.xml", c.document);
    try {
      EXPECT_EQ(xml_->ReadFirst(path, kPackageFolder), c.expected) << c.what;
    } catch (const plat::PlatformError& e) {
      ADD_FAILURE() << c.what << ": " << e.what();
    }
  }
}

TEST_P(XmlFileTest, RaisesWhenTheFileDoesNotLoadOrNothingMatches) {
  const struct {
    const char* what;
    const char* document; // nullptr: no file at all
  } cases[] = {
      {"missing file", nullptr},
      {"empty file", ""},
      {"plain text", "PackageFolder baseURI=C:\\pkgs\r\n"},
      {"not well-formed", R"(<Settings><PackageFolder baseURI="x"></Settings>)"},
      {"no baseURI attribute", R"(<Settings><PackageFolder base="C:\pkgs"/></Settings>)"},
      {"no PackageFolder element", R"(<Settings><Folder baseURI="C:\pkgs"/></Settings>)"},
  };
  for (const auto& c : cases) {
    const std::string path =
        c.document ? Write("settings.xml", c.document) : Utf8(temp_.Path() / "missing.xml");
    EXPECT_THROW(xml_->ReadFirst(path, kPackageFolder), plat::PlatformError) << c.what;
    EXPECT_THROW(xml_->WriteFirst(path, kPackageFolder, "E:\\new"), plat::PlatformError) << c.what;
    if (c.document)
      EXPECT_EQ(ReadBytes(path), c.document) << c.what << ": a failed write changed the file";
    else
      EXPECT_FALSE(fs::exists(temp_.Path() / "missing.xml")) << "a failed write made the file";
  }
}

TEST_P(XmlFileTest, WritesOnlyTheFirstMatchAndKeepsTheRest) {
  const std::string path = Write(
      "settings.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                      "<!-- operator's note -->\r\n"
                      "<Settings version=\"3\">\r\n"
                      "  <Group><PackageFolder baseURI=\"C:\\old\" mode=\"copy\"/></Group>\r\n"
                      "  <PackageFolder baseURI=\"C:\\second\"/>\r\n"
                      "  <Text>some text</Text>\r\n"
                      "</Settings>\r\n");

  xml_->WriteFirst(path, kPackageFolder, R"(  E:\new place  )");

  EXPECT_EQ(xml_->ReadFirst(path, kPackageFolder), R"(  E:\new place  )");
  const struct {
    const char* xpath;
    const char* expected;
  } untouched[] = {
      {"(//PackageFolder)[2]/@baseURI", R"(C:\second)"},
      {"//PackageFolder/@mode", "copy"},
      {"/Settings/@version", "3"},
      {"/Settings/Text", "some text"},
      {"/comment()", " operator's note "},
  };
  for (const auto& u : untouched)
    EXPECT_EQ(xml_->ReadFirst(path, u.xpath), u.expected) << u.xpath;
  EXPECT_THROW(xml_->ReadFirst(path, "/Settings/*[4]"), plat::PlatformError)
      << "the write added an element";
}

TEST_P(XmlFileTest, AnEmptyValueIsWrittenAndReadBackAsEmpty) {
  const std::string path = Write("settings.xml", R"(<S><PackageFolder baseURI="C:\pkgs"/></S>)");
  xml_->WriteFirst(path, kPackageFolder, "");
  EXPECT_EQ(xml_->ReadFirst(path, kPackageFolder), "");
}

TEST_P(XmlFileTest, NonAsciiPathsAndValuesRoundTrip) {
  const std::string original = "C:\\Pakete\\Größe-データ";
  const std::string changed = "D:\\Ordner\\Ünïcödé-文件-😀";
  const std::string path =
      Write(fs::path(u8"Prüfung-日本") / u8"Einstellungen-ä.xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Settings><PackageFolder baseURI=\"" +
                original + "\"/></Settings>\n");

  EXPECT_EQ(xml_->ReadFirst(path, kPackageFolder), original);
  xml_->WriteFirst(path, kPackageFolder, changed);
  EXPECT_EQ(xml_->ReadFirst(path, kPackageFolder), changed);
}

// The bytes of a UTF-16 file: byte-order mark, then little-endian units.
std::string Utf16LeFile(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

// A saved document is read by the encoding it declares: bytes of another
// encoding make the file unreadable (UTF-16 declared) or change its value
// (Latin-1 declared), and the launcher's next start would find it broken.
TEST_P(XmlFileTest, WritesTheDocumentInTheEncodingItDeclares) {
  const std::string changed = "D:\\Größe-Ærø";
  const std::string latin1Changed = "D:\\Gr\xF6\xDF"
                                    "e-\xC6r\xF8";
  const struct {
    const char* what;
    std::string document;
    std::string stored;
    std::string savedStart; // the saved file begins so
    std::string savedValue; // and holds the new value as these bytes
  } cases[] = {
      {"UTF-16",
       Utf16LeFile(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
                   u"<Settings><PackageFolder baseURI=\"C:\\Gr\u00F6\u00DFe\"/></Settings>\r\n"),
       "C:\\Größe", Utf16LeFile(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>"),
       Utf16LeFile(u"D:\\Gr\u00F6\u00DFe-\u00C6r\u00F8").substr(2)},
      {"ISO-8859-1",
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n"
       "<Settings><PackageFolder baseURI=\"C:\\Gr\xF6\xDF"
       "e\"/></Settings>\r\n",
       "C:\\Größe", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", latin1Changed},
      {"windows-1252 in single quotes",
       "<?xml version='1.0' encoding='windows-1252' standalone='yes'?>\r\n"
       "<Settings><PackageFolder baseURI=\"C:\\\x80\"/></Settings>\r\n",
       "C:\\€", "<?xml version='1.0' encoding='windows-1252' standalone='yes'?>", latin1Changed},
      {"UTF-8 with byte-order mark",
       "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
       "<Settings><PackageFolder baseURI=\"C:\\x\"/></Settings>\r\n",
       "C:\\x", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>", changed},
      {"no declaration", "<Settings><PackageFolder baseURI=\"C:\\x\"/></Settings>", "C:\\x",
       "<Settings", changed},
  };
  for (const auto& c : cases) {
    const std::string path = Write("settings.xml", c.document);
    try {
      EXPECT_EQ(xml_->ReadFirst(path, kPackageFolder), c.stored) << c.what;
      xml_->WriteFirst(path, kPackageFolder, changed);
      const std::string saved = ReadBytes(path);
      EXPECT_EQ(saved.substr(0, c.savedStart.size()), c.savedStart) << c.what;
      EXPECT_NE(saved.find(c.savedValue), std::string::npos) << c.what;
      EXPECT_EQ(xml_->ReadFirst(path, kPackageFolder), changed) << c.what;
      // And it saves again the same way.
      xml_->WriteFirst(path, kPackageFolder, c.stored);
      EXPECT_EQ(xml_->ReadFirst(path, kPackageFolder), c.stored) << c.what;
    } catch (const plat::PlatformError& e) {
      ADD_FAILURE() << c.what << ": " << e.what();
    }
  }
}

// A value the declared encoding cannot hold goes in as character references.
TEST_P(XmlFileTest, CharactersTheEncodingCannotHoldAreWrittenAsReferences) {
  const std::string declaration = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
  const std::string path =
      Write("settings.xml", declaration + "\r\n<Settings><PackageFolder baseURI=\"C:\\x\"/>"
                                          "<Note>caf\xE9</Note></Settings>\r\n");
  const std::string value = "D:\\Pakete-文件-😀-é";
  xml_->WriteFirst(path, kPackageFolder, value);
  EXPECT_EQ(xml_->ReadFirst(path, kPackageFolder), value);
  EXPECT_EQ(xml_->ReadFirst(path, "/Settings/Note"), "café");
  const std::string saved = ReadBytes(path);
  EXPECT_EQ(saved.substr(0, declaration.size()), declaration);
  EXPECT_NE(saved.find("caf\xE9"), std::string::npos);
}

// The save goes through a file of its own beside the settings file, which
// then replaces it whole: a save that fails leaves the old file as it was,
// and no save leaves anything else behind.
TEST_P(XmlFileTest, ASaveReplacesTheFileWholeAndLeavesNothingElse) {
  const std::string original = R"(<Settings><PackageFolder baseURI="C:\pkgs"/></Settings>)";
  const std::string path = Write("settings.xml", original);
  auto folderHolds = [&] {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(temp_.Path()))
      names.push_back(Utf8(entry.path().filename()));
    return names;
  };

  xml_->WriteFirst(path, kPackageFolder, "E:\\new");
  EXPECT_EQ(xml_->ReadFirst(path, kPackageFolder), "E:\\new");
  EXPECT_EQ(folderHolds(), std::vector<std::string>{"settings.xml"});

  // Another program holds the file open and lets nobody replace it.
  const std::string before = ReadBytes(path);
  {
    FileHandle reader(fs::path(temp_.Path() / "settings.xml"), GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(reader.IsOpen());
    EXPECT_THROW(xml_->WriteFirst(path, kPackageFolder, "F:\\other"), plat::PlatformError);
  }
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(folderHolds(), std::vector<std::string>{"settings.xml"});
}

INSTANTIATE_TEST_SUITE_P(Services, XmlFileTest, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "Newest" : "Version3";
                         });

// --- Security -------------------------------------------------------------------

TEST(SecurityTest, AnswersForTheRunningSystem) {
  auto security = plat::win32::CreateWin32Security();
  EXPECT_GE(security->OsMajorVersion(), 6u);
  EXPECT_TRUE(security->TokenElevated().has_value()) << "process token";
  EXPECT_NO_THROW(security->InAdministratorsGroup());
}

TEST(SecurityTest, AsksTheThreadsOwnTokenWhileImpersonating) {
  auto security = plat::win32::CreateWin32Security();
  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  HANDLE token = nullptr;
  bool threadHasToken = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token);
  if (token != nullptr)
    CloseHandle(token);
  std::optional<bool> elevated = security->TokenElevated();
  EXPECT_NO_THROW(security->InAdministratorsGroup());
  RevertToSelf();

  EXPECT_TRUE(threadHasToken) << "impersonation gave the thread no token";
  EXPECT_TRUE(elevated.has_value()) << "thread token";
  EXPECT_EQ(elevated, security->TokenElevated()) << "the same user either way";
}

} // namespace
