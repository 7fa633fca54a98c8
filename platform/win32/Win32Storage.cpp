#include "platform/win32/Win32Storage.h"

#include "platform/Platform.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Text.h"

#include <objbase.h>
#include <oleauto.h>

#include <msxml2.h>

#include <cstdio>
#include <new>
#include <string_view>

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

class Win32XmlFile : public IXmlFile {
public:
  explicit Win32XmlFile(bool allowVersion6) : allowVersion6_(allowVersion6) {}

  std::string ReadFirst(const std::string& path, const std::string& xpath) override {
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
    ComPtr<IXMLDOMDocument2> document;
    CreateAndLoad(document, path, allowVersion6_);
    ComPtr<IXMLDOMNode> node;
    SelectFirst(*document.get(), node, path, xpath);
    Bstr text(Widen(value));
    Check(node->put_text(text.Get()), "Cannot set the XML node's text");
    Bstr widePath(Widen(path));
    HRESULT hr = document->save(BorrowedStringVariant(widePath));
    if (FAILED(hr))
      throw PlatformError("Cannot write the XML file " + path + ": " + HResultText(hr));
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
