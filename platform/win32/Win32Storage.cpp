#include "platform/win32/Win32Storage.h"

#include "platform/Platform.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Text.h"

#include <objbase.h>
#include <oleauto.h>

#include <msxml2.h>

#include <cstdio>
#include <cwchar>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace plat::win32 {
namespace {

// Owns one BSTR. Text may hold any code unit, NUL included.
class Bstr {
public:
  Bstr() = default;
  explicit Bstr(std::wstring_view text)
      : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
    if (value_ == nullptr)
      throw std::bad_alloc();
  }
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  BSTR Get() const { return value_; }
  BSTR* Put() {
    SysFreeString(value_);
    value_ = nullptr;
    return &value_;
  }
  std::wstring_view View() const { return {value_, SysStringLen(value_)}; }

private:
  BSTR value_ = nullptr;
};

// A string VARIANT that borrows `text`; nothing may clear it.
VARIANT BorrowedStringVariant(const Bstr& text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = text.Get();
  return v;
}

std::string HResultText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  std::string text = SystemErrorText(static_cast<DWORD>(hr));
  if (text.rfind("System error ", 0) == 0)
    return std::string("error ") + code;
  return text + " (" + code + ")";
}

// --- Structured storage ----------------------------------------------------

class Win32StructuredStorage : public IStructuredStorage {
public:
  explicit Win32StructuredStorage(uint64_t maxStreamBytes) : maxStreamBytes_(maxStreamBytes) {}

  bool IsStorageFile(const std::string& path) override {
    return StgIsStorageFile(Widen(path).c_str()) == S_OK;
  }

  std::optional<std::string> ReadRootStream(const std::string& path,
                                            const std::u16string& streamName) override {
    // A name cut short at an embedded NUL would open a different stream.
    if (streamName.find(u'\0') != std::u16string::npos)
      return std::nullopt;

    // Reading only, and without the exclusive share mode, so that other
    // readers of the file are not locked out while it is open.
    ComPtr<IStorage> storage;
    if (FAILED(StgOpenStorage(Widen(path).c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE,
                              nullptr, 0, storage.put())) ||
        !storage)
      return std::nullopt;

    // Streams inside a directly opened storage open only exclusively.
    const std::wstring name(streamName.begin(), streamName.end());
    ComPtr<IStream> stream;
    if (FAILED(storage->OpenStream(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                   stream.put())) ||
        !stream)
      return std::nullopt;

    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)))
      return std::nullopt;
    const uint64_t size = stat.cbSize.QuadPart;
    if (size > maxStreamBytes_)
      return std::nullopt;

    std::string bytes(static_cast<size_t>(size), '\0');
    size_t filled = 0;
    while (filled < bytes.size()) {
      // A damaged file can end a stream before its recorded size: that is a
      // failed read, not a shorter stream.
      ULONG got = 0;
      HRESULT hr =
          stream->Read(bytes.data() + filled, static_cast<ULONG>(bytes.size() - filled), &got);
      if (FAILED(hr) || got == 0)
        return std::nullopt;
      filled += got;
    }
    return bytes;
  }

private:
  uint64_t maxStreamBytes_;
};

// --- XML ---------------------------------------------------------------------

// The class and interface identifiers the MinGW import libraries lack.
constexpr CLSID kClsidDomDocument60 = {
    0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
constexpr CLSID kClsidDomDocument30 = {
    0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};
constexpr IID kIidXmlDomDocument2 = {
    0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr))
    throw PlatformError(std::string(what) + ": " + HResultText(hr));
}

// The parser's own words on why the last load failed, on one line.
std::string ParseErrorReason(IXMLDOMDocument2& document) {
  ComPtr<IXMLDOMParseError> error;
  Bstr reason;
  if (FAILED(document.get_parseError(error.put())) || !error ||
      FAILED(error->get_reason(reason.Put())) || reason.Get() == nullptr)
    return {};
  std::wstring text(reason.View());
  for (wchar_t& c : text)
    if (c == L'\r' || c == L'\n')
      c = L' ';
  while (!text.empty() && text.back() == L' ')
    text.pop_back();
  return Narrow(text);
}

// A new document holding the parsed file; raises when the file is missing,
// unreadable, empty or not well-formed.
void CreateAndLoad(ComPtr<IXMLDOMDocument2>& document, const std::string& path,
                   bool allowVersion6) {
  bool xpathByDefault = true;
  HRESULT hr = REGDB_E_CLASSNOTREG;
  if (allowVersion6)
    hr = CoCreateInstance(kClsidDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument2,
                          document.putVoid());
  if (FAILED(hr) || !document) {
    // 3.0 selects with its older pattern language unless told otherwise.
    xpathByDefault = false;
    hr = CoCreateInstance(kClsidDomDocument30, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument2,
                          document.putVoid());
  }
  if (FAILED(hr) || !document)
    throw PlatformError("The XML services are not available: " +
                        HResultText(FAILED(hr) ? hr : E_POINTER));

  Check(document->put_async(VARIANT_FALSE), "Cannot make the XML document load synchronously");
  // A settings file has no business pulling in anything from elsewhere.
  Check(document->put_resolveExternals(VARIANT_FALSE), "Cannot configure the XML document");
  if (!xpathByDefault) {
    Bstr name(L"SelectionLanguage");
    Bstr language(L"XPath");
    Check(document->setProperty(name.Get(), BorrowedStringVariant(language)),
          "Cannot select XPath for the XML document");
  }

  Bstr widePath(Widen(path));
  VARIANT_BOOL loaded = VARIANT_FALSE;
  hr = document->load(BorrowedStringVariant(widePath), &loaded);
  if (FAILED(hr) || loaded != VARIANT_TRUE) {
    std::string reason = ParseErrorReason(*document.get());
    if (reason.empty())
      reason = FAILED(hr) ? HResultText(hr) : "the file cannot be read";
    throw PlatformError("Cannot load the XML file " + path + ": " + reason);
  }
}

void SelectFirst(IXMLDOMDocument2& document, ComPtr<IXMLDOMNode>& node, const std::string& path,
                 const std::string& xpath) {
  Bstr query(Widen(xpath));
  HRESULT hr = document.selectSingleNode(query.Get(), node.put());
  if (FAILED(hr))
    throw PlatformError("Cannot evaluate " + xpath + " in the XML file " + path + ": " +
                        HResultText(hr));
  if (!node)
    throw PlatformError("Nothing in the XML file " + path + " matches " + xpath);
}

// --- Writing a document back -------------------------------------------------

// How a document's bytes are encoded, as its byte-order mark and its XML
// declaration tell, and the declaration as written, which a save keeps.
struct DocumentEncoding {
  enum class Form { Utf8, Utf16Le, Utf16Be, CodePage };
  Form form = Form::Utf8;
  UINT codePage = CP_UTF8; // for Form::CodePage
  bool byteOrderMark = false;
  std::wstring declaration; // "<?xml ...?>"; empty when the document has none
};

std::string ReadWholeFile(const std::string& path) {
  KernelHandle file(CreateFileW(Widen(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file)
    throw PlatformError("Cannot open the XML file " + path + ": " +
                        SystemErrorText(GetLastError()));
  std::string bytes;
  char chunk[16 * 1024];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr))
      throw PlatformError("Cannot read the XML file " + path + ": " +
                          SystemErrorText(GetLastError()));
    if (read == 0)
      return bytes;
    bytes.append(chunk, read);
  }
}

bool IsXmlBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

std::wstring LowerAscii(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'A' && c <= L'Z')
      c = static_cast<wchar_t>(c - L'A' + L'a');
  return text;
}

// Where the value of the pseudo-attribute "encoding" lies in a declaration;
// npos when it has none.
std::pair<size_t, size_t> EncodingValueIn(const std::wstring& declaration) {
  for (size_t at = declaration.find(L"encoding"); at != std::wstring::npos;
       at = declaration.find(L"encoding", at + 1)) {
    if (at == 0 || !IsXmlBlank(declaration[at - 1]))
      continue;
    size_t p = at + 8;
    while (p < declaration.size() && IsXmlBlank(declaration[p]))
      ++p;
    if (p >= declaration.size() || declaration[p] != L'=')
      continue;
    ++p;
    while (p < declaration.size() && IsXmlBlank(declaration[p]))
      ++p;
    if (p >= declaration.size() || (declaration[p] != L'"' && declaration[p] != L'\''))
      continue;
    const size_t end = declaration.find(declaration[p], p + 1);
    if (end == std::wstring::npos)
      break;
    return {p + 1, end - p - 1};
  }
  return {std::wstring::npos, 0};
}

// The single-byte code page of an encoding name, or 0 for names that are
// not one (or that the system does not know).
UINT SingleByteCodePage(const std::wstring& name) {
  UINT codePage = 0;
  if (name == L"us-ascii" || name == L"ascii")
    codePage = 20127;
  else if (name.rfind(L"iso-8859-", 0) == 0 && name.size() <= 11) {
    const int part = _wtoi(name.c_str() + 9);
    if ((part >= 1 && part <= 9) || part == 13 || part == 15)
      codePage = static_cast<UINT>(28590 + part);
  } else if (name.rfind(L"windows-125", 0) == 0 && name.size() == 12 && name[11] >= L'0' &&
             name[11] <= L'8')
    codePage = static_cast<UINT>(1250 + (name[11] - L'0'));
  return codePage != 0 && IsValidCodePage(codePage) ? codePage : 0;
}

// The encoding of a document's bytes. The parser reads them by the same
// marks: a byte-order mark, the first characters of a UTF-16 text without
// one, else the declaration's "encoding" (UTF-8 when there is none).
DocumentEncoding EncodingOf(const std::string& bytes) {
  DocumentEncoding e;
  auto starts = [&](std::string_view prefix) { return bytes.rfind(prefix, 0) == 0; };
  size_t start = 0;
  if (starts("\xFF\xFE")) {
    e.form = DocumentEncoding::Form::Utf16Le;
    e.byteOrderMark = true;
    start = 2;
  } else if (starts("\xFE\xFF")) {
    e.form = DocumentEncoding::Form::Utf16Be;
    e.byteOrderMark = true;
    start = 2;
  } else if (starts("\xEF\xBB\xBF")) {
    e.byteOrderMark = true;
    start = 3;
  } else if (starts(std::string_view("<\0?\0", 4))) {
    e.form = DocumentEncoding::Form::Utf16Le;
  } else if (starts(std::string_view("\0<\0?", 4))) {
    e.form = DocumentEncoding::Form::Utf16Be;
  }

  // The declaration is ASCII whatever the encoding: enough of the text to
  // hold it, unit by unit.
  const bool wide = e.form != DocumentEncoding::Form::Utf8;
  std::wstring head;
  for (size_t i = start; i + (wide ? 1 : 0) < bytes.size() && head.size() < 512;
       i += wide ? 2 : 1) {
    const auto lo = static_cast<unsigned char>(bytes[i]);
    const auto hi = wide ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    head += static_cast<wchar_t>(e.form == DocumentEncoding::Form::Utf16Be ? (lo << 8) | hi
                                                                           : (hi << 8) | lo);
  }
  if (head.rfind(L"<?xml", 0) == 0 && head.size() > 5 && IsXmlBlank(head[5])) {
    const size_t end = head.find(L"?>");
    if (end != std::wstring::npos)
      e.declaration = head.substr(0, end + 2);
  }
  if (wide)
    return e;

  const auto [at, length] = EncodingValueIn(e.declaration);
  if (at == std::wstring::npos)
    return e; // UTF-8, the default of XML
  const std::wstring name = LowerAscii(e.declaration.substr(at, length));
  if (name == L"utf-8")
    return e;
  if (const UINT codePage = SingleByteCodePage(name)) {
    e.form = DocumentEncoding::Form::CodePage;
    e.codePage = codePage;
    return e;
  }
  // An encoding this writer cannot produce: the text goes out as UTF-8, and
  // the declaration says so, rather than bytes that would not read back.
  e.declaration.replace(at, length, L"UTF-8");
  return e;
}

// `text` in the document's encoding. A character the code page cannot hold
// (only the new value can bring one) goes in as a character reference.
std::string Encode(std::wstring_view text, const DocumentEncoding& e) {
  std::string bytes;
  switch (e.form) {
  case DocumentEncoding::Form::Utf8:
    bytes = Narrow(text);
    if (e.byteOrderMark)
      bytes.insert(0, "\xEF\xBB\xBF");
    return bytes;
  case DocumentEncoding::Form::Utf16Le:
  case DocumentEncoding::Form::Utf16Be: {
    const bool big = e.form == DocumentEncoding::Form::Utf16Be;
    if (e.byteOrderMark)
      bytes = big ? "\xFE\xFF" : "\xFF\xFE";
    for (wchar_t unit : text) {
      const char lo = static_cast<char>(unit & 0xFF);
      const char hi = static_cast<char>((unit >> 8) & 0xFF);
      bytes += big ? hi : lo;
      bytes += big ? lo : hi;
    }
    return bytes;
  }
  case DocumentEncoding::Form::CodePage:
    break;
  }
  for (size_t i = 0; i < text.size();) {
    size_t units = 1;
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF)
      units = 2;
    char out[8];
    BOOL usedDefault = FALSE;
    const int written =
        WideCharToMultiByte(e.codePage, WC_NO_BEST_FIT_CHARS, &text[i], static_cast<int>(units),
                            out, sizeof out, nullptr, &usedDefault);
    if (written > 0 && !usedDefault) {
      bytes.append(out, static_cast<size_t>(written));
    } else {
      const unsigned long codePoint =
          units == 2 ? 0x10000ul + ((text[i] - 0xD800ul) << 10) + (text[i + 1] - 0xDC00ul)
                     : static_cast<unsigned long>(text[i]);
      char reference[16];
      std::snprintf(reference, sizeof reference, "&#x%lX;", codePoint);
      bytes += reference;
    }
    i += units;
  }
  return bytes;
}

// Replaces the file with `bytes` whole: they go to a file of this process
// beside it, which is flushed and then renamed over it. A save that fails
// on the way leaves the old file as it was.
void ReplaceFileWith(const std::string& path, const std::string& bytes) {
  const std::wstring target = Widen(path);
  const std::wstring temporary = target + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  auto fail = [&](const char* what, DWORD error) {
    DeleteFileW(temporary.c_str());
    const std::string message = std::string(what) + " " + path + ": " + SystemErrorText(error);
    if (error == ERROR_ACCESS_DENIED)
      throw AccessDenied(message);
    throw PlatformError(message);
  };
  {
    KernelHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
      fail("Cannot write the XML file", GetLastError());
    size_t done = 0;
    while (done < bytes.size()) {
      DWORD written = 0;
      if (!WriteFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                     &written, nullptr) ||
          written == 0)
        fail("Cannot write the XML file", GetLastError());
      done += written;
    }
    if (!FlushFileBuffers(file.get()) || !file.close())
      fail("Cannot write the XML file", GetLastError());
  }
  if (!MoveFileExW(temporary.c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    fail("Cannot replace the XML file", GetLastError());
}

class Win32XmlFile : public IXmlFile {
public:
  explicit Win32XmlFile(bool allowVersion6) : allowVersion6_(allowVersion6) {}

  std::string ReadFirst(const std::string& path, const std::string& xpath) override {
    // Before every COM object of the call, so that it ends after them.
    ComApartment com;
    ComPtr<IXMLDOMDocument2> document;
    CreateAndLoad(document, path, allowVersion6_);
    ComPtr<IXMLDOMNode> node;
    SelectFirst(*document.get(), node, path, xpath);
    Bstr text;
    Check(node->get_text(text.Put()), "Cannot read the XML node's text");
    return Narrow(text.View());
  }

  void WriteFirst(const std::string& path, const std::string& xpath,
                  const std::string& value) override {
    // Before every COM object of the call, so that it ends after them.
    ComApartment com;
    ComPtr<IXMLDOMDocument2> document;
    CreateAndLoad(document, path, allowVersion6_);
    ComPtr<IXMLDOMNode> node;
    SelectFirst(*document.get(), node, path, xpath);
    Bstr text(Widen(value));
    Check(node->put_text(text.Get()), "Cannot set the XML node's text");

    // The document's own save writes UTF-8 bytes whatever the declaration
    // says on some systems, so a UTF-16 file no longer loads and a Latin-1
    // value changes. The text is taken from the document and written here,
    // in the encoding the file declares, under the declaration it had.
    const DocumentEncoding encoding = EncodingOf(ReadWholeFile(path));
    Bstr xml;
    Check(document->get_xml(xml.Put()), "Cannot serialise the XML document");
    std::wstring body(xml.Get() ? xml.View() : std::wstring_view());
    if (body.rfind(L"<?xml", 0) == 0) {
      const size_t end = body.find(L"?>");
      body.erase(0, end == std::wstring::npos ? 0 : end + 2);
    }
    ReplaceFileWith(path, Encode(encoding.declaration + body, encoding));
  }

private:
  bool allowVersion6_;
};

} // namespace

std::unique_ptr<IStructuredStorage> CreateWin32StructuredStorage(uint64_t maxStreamBytes) {
  return std::make_unique<Win32StructuredStorage>(maxStreamBytes);
}

std::unique_ptr<IXmlFile> CreateWin32XmlFile(bool allowVersion6) {
  return std::make_unique<Win32XmlFile>(allowVersion6);
}

} // namespace plat::win32
