// The floors for the launcher's extraction under the same Wine.
//
//   extractfloor --mode extract|write --dll PATH --out DIR ARCHIVE...
//
// extract: each archive through the archive library with the simplest
// callbacks there are: its folders made first, then every item's stream
// written straight to its file (CreateFileW, WriteFile of what the library
// hands over, CloseHandle). No checks, no progress, no scratch folder.
// write: the same files, names and sizes read from the archive beforehand,
// written from one buffer in 1 MiB pieces without decompressing anything:
// what creating the files alone costs.
//
// Each archive goes to DIR\<n> (n = 1, 2, ... in the order given), which must
// not exist. Output: one JSON line per archive with its times: "start" before
// the library is loaded (first archive) or the archive opened, "opened" once
// its items are known, "end" when its last file is closed; then
// {"event":"done"}. Exit code 0 when everything was written.
#include "ProbeClock.h"

#include "platform/win32/SevenZipInterfaces.h"

#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

namespace sz = plat::win32::sevenzip;
using probe::EmitLine;
using probe::EpochSeconds;
using probe::Fixed;

template <class Interface> class Unknown : public Interface {
public:
  virtual ~Unknown() = default;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0)
      delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    // The library asks only for optional interfaces of ours.
    *object = nullptr;
    return E_NOINTERFACE;
  }

private:
  std::atomic<ULONG> refs_{1};
};

class InFile final : public Unknown<sz::IInStream> {
public:
  explicit InFile(HANDLE file) : file_(file) {}
  ~InFile() override { CloseHandle(file_); }
  HRESULT STDMETHODCALLTYPE Read(void* data, UINT32 size, UINT32* processed) override {
    DWORD read = 0;
    const BOOL ok = ReadFile(file_, data, size, &read, nullptr);
    if (processed != nullptr)
      *processed = read;
    return ok ? S_OK : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE Seek(INT64 offset, UINT32 origin, UINT64* position) override {
    LARGE_INTEGER move, now;
    move.QuadPart = offset;
    if (!SetFilePointerEx(file_, move, &now, origin))
      return E_FAIL;
    if (position != nullptr)
      *position = static_cast<UINT64>(now.QuadPart);
    return S_OK;
  }

private:
  HANDLE file_;
};

class OutFile final : public Unknown<sz::ISequentialOutStream> {
public:
  explicit OutFile(HANDLE file) : file_(file) {}
  ~OutFile() override { CloseHandle(file_); }
  HRESULT STDMETHODCALLTYPE Write(const void* data, UINT32 size, UINT32* processed) override {
    DWORD written = 0;
    const BOOL ok = WriteFile(file_, data, size, &written, nullptr);
    if (processed != nullptr)
      *processed = written;
    return ok ? S_OK : E_FAIL;
  }

private:
  HANDLE file_;
};

class OpenCallback final : public Unknown<sz::IArchiveOpenCallback> {
public:
  HRESULT STDMETHODCALLTYPE SetTotal(const UINT64*, const UINT64*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64*, const UINT64*) override { return S_OK; }
};

struct Item {
  std::wstring path; // the output path
  bool folder = false;
  UINT64 size = 0;
};

class ExtractCallback final : public Unknown<sz::IArchiveExtractCallback> {
public:
  explicit ExtractCallback(const std::vector<Item>& items) : items_(items) {}
  HRESULT STDMETHODCALLTYPE SetTotal(UINT64) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetStream(UINT32 index, sz::ISequentialOutStream** stream,
                                      INT32 askMode) override {
    *stream = nullptr;
    if (askMode != sz::kAskExtract || items_[index].folder)
      return S_OK;
    HANDLE file = CreateFileW(items_[index].path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return HRESULT_FROM_WIN32(GetLastError());
    *stream = new OutFile(file);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PrepareOperation(INT32) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetOperationResult(INT32 result) override {
    if (result != sz::kResultOk)
      failed_ = true;
    return S_OK;
  }
  bool Failed() const { return failed_; }

private:
  const std::vector<Item>& items_;
  bool failed_ = false;
};

struct Library {
  sz::CreateObjectFn createObject = nullptr;
  sz::GetNumberOfFormatsFn numberOfFormats = nullptr;
  sz::GetHandlerProperty2Fn handlerProperty = nullptr;
};

bool LoadLibraryAt(const std::wstring& dll, Library& library) {
  HMODULE module = LoadLibraryW(dll.c_str());
  if (module == nullptr)
    return false;
  auto get = [&](const char* name) {
    return reinterpret_cast<void (*)()>(GetProcAddress(module, name));
  };
  library.createObject = reinterpret_cast<sz::CreateObjectFn>(get("CreateObject"));
  library.numberOfFormats = reinterpret_cast<sz::GetNumberOfFormatsFn>(get("GetNumberOfFormats"));
  library.handlerProperty = reinterpret_cast<sz::GetHandlerProperty2Fn>(get("GetHandlerProperty2"));
  return library.createObject && library.numberOfFormats && library.handlerProperty;
}

// The zip handler's class id, found by its name.
bool ZipClass(const Library& library, GUID& classId) {
  UINT32 count = 0;
  library.numberOfFormats(&count);
  for (UINT32 i = 0; i < count; ++i) {
    PROPVARIANT name, id;
    PropVariantInit(&name);
    PropVariantInit(&id);
    library.handlerProperty(i, sz::kHandlerName, &name);
    library.handlerProperty(i, sz::kHandlerClassId, &id);
    const bool zip = name.vt == VT_BSTR && std::wcscmp(name.bstrVal, L"zip") == 0 &&
                     id.vt == VT_BSTR && SysStringByteLen(id.bstrVal) == sizeof(GUID);
    if (zip)
      std::memcpy(&classId, id.bstrVal, sizeof(GUID));
    PropVariantClear(&name);
    PropVariantClear(&id);
    if (zip)
      return true;
  }
  return false;
}

sz::IInArchive* Open(const Library& library, const GUID& zip, const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return nullptr;
  auto* stream = new InFile(file);
  sz::IInArchive* archive = nullptr;
  auto* callback = new OpenCallback;
  const UINT64 maxStart = 0;
  if (FAILED(library.createObject(&zip, &sz::kIidInArchive, reinterpret_cast<void**>(&archive))) ||
      archive->Open(stream, &maxStart, callback) != S_OK) {
    if (archive != nullptr)
      archive->Release();
    archive = nullptr;
  }
  callback->Release();
  stream->Release();
  return archive;
}

std::vector<Item> ItemsOf(sz::IInArchive& archive, const std::wstring& out) {
  UINT32 count = 0;
  archive.GetNumberOfItems(&count);
  std::vector<Item> items(count);
  for (UINT32 i = 0; i < count; ++i) {
    PROPVARIANT value;
    PropVariantInit(&value);
    archive.GetProperty(i, sz::kpidPath, &value);
    items[i].path = out + L"\\" + (value.vt == VT_BSTR ? value.bstrVal : L"");
    PropVariantClear(&value);
    archive.GetProperty(i, sz::kpidIsDir, &value);
    items[i].folder = value.vt == VT_BOOL && value.boolVal != VARIANT_FALSE;
    PropVariantClear(&value);
    archive.GetProperty(i, sz::kpidSize, &value);
    items[i].size = value.vt == VT_UI8 ? value.uhVal.QuadPart : 0;
    PropVariantClear(&value);
  }
  return items;
}

// Every folder the items need, each made once, parents first.
bool MakeFolders(const std::wstring& out, const std::vector<Item>& items) {
  std::set<std::wstring> folders{out};
  for (const Item& item : items) {
    const std::wstring& p = item.path;
    for (size_t slash = p.find(L'\\', out.size() + 1); slash != std::wstring::npos;
         slash = p.find(L'\\', slash + 1))
      folders.insert(p.substr(0, slash));
    if (item.folder)
      folders.insert(p);
  }
  for (const std::wstring& folder : folders) // a parent sorts before its children
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
  return true;
}

bool WriteAll(const std::vector<Item>& items) {
  static std::vector<char> buffer;
  if (buffer.empty()) {
    buffer.resize(1 << 20);
    uint32_t x = 2463534242u;
    for (char& c : buffer) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      c = static_cast<char>(x);
    }
  }
  for (const Item& item : items) {
    if (item.folder)
      continue;
    HANDLE file = CreateFileW(item.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return false;
    bool ok = true;
    for (UINT64 left = item.size; ok && left > 0;) {
      const DWORD piece = static_cast<DWORD>(left < buffer.size() ? left : buffer.size());
      DWORD written = 0;
      ok = WriteFile(file, buffer.data(), piece, &written, nullptr) && written == piece;
      left -= piece;
    }
    CloseHandle(file);
    if (!ok)
      return false;
  }
  return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  const double started = EpochSeconds();
  std::vector<std::wstring> archives;
  for (int i = 1; i < argc; ++i) {
    if (std::wcsncmp(argv[i], L"--", 2) == 0)
      ++i; // every option here takes a value
    else
      archives.push_back(argv[i]);
  }
  const probe::Options options(argc, argv, 1);
  const std::wstring mode = options.Text(L"mode"), dll = options.Text(L"dll"),
                     out = options.Text(L"out");
  if ((mode != L"extract" && mode != L"write") || dll.empty() || out.empty() || archives.empty()) {
    std::fputs("usage: extractfloor --mode extract|write --dll PATH --out DIR ARCHIVE...\n",
               stderr);
    return 2;
  }
  const bool extract = mode == L"extract";
  CreateDirectoryW(out.c_str(), nullptr);
  Library library;
  GUID zip{};
  bool ok = true;
  for (size_t n = 0; ok && n < archives.size(); ++n) {
    const std::wstring folder = out + L"\\" + std::to_wstring(n + 1);
    // The write floor reads the names and sizes before its clock starts.
    std::vector<Item> listed;
    if (!extract) {
      ok = (n > 0 || LoadLibraryAt(dll, library)) && (n > 0 || ZipClass(library, zip));
      sz::IInArchive* archive = ok ? Open(library, zip, archives[n]) : nullptr;
      ok = archive != nullptr;
      if (ok) {
        listed = ItemsOf(*archive, folder);
        archive->Close();
        archive->Release();
      }
    }
    const double start = EpochSeconds();
    double opened = start;
    size_t files = 0;
    UINT64 bytes = 0;
    if (ok && extract) {
      ok = (n > 0 || (LoadLibraryAt(dll, library) && ZipClass(library, zip)));
      sz::IInArchive* archive = ok ? Open(library, zip, archives[n]) : nullptr;
      ok = archive != nullptr;
      if (ok) {
        listed = ItemsOf(*archive, folder);
        opened = EpochSeconds();
        auto* callback = new ExtractCallback(listed);
        ok = MakeFolders(folder, listed) &&
             archive->Extract(nullptr, static_cast<UINT32>(-1), 0, callback) == S_OK &&
             !callback->Failed();
        callback->Release();
        archive->Close();
        archive->Release();
      }
    } else if (ok) {
      ok = MakeFolders(folder, listed) && WriteAll(listed);
    }
    for (const Item& item : listed)
      if (!item.folder)
        ++files, bytes += item.size;
    EmitLine("{\"event\":\"archive\",\"n\":" + std::to_string(n + 1) +
             ",\"ok\":" + (ok ? "true" : "false") + ",\"files\":" + std::to_string(files) +
             ",\"bytes\":" + std::to_string(bytes) + ",\"start\":" + Fixed(start) +
             ",\"opened\":" + Fixed(opened) + ",\"end\":" + Fixed(EpochSeconds()) + "}");
  }
  EmitLine("{\"event\":\"done\",\"ok\":" + std::string(ok ? "true" : "false") +
           ",\"start\":" + Fixed(started) + ",\"end\":" + Fixed(EpochSeconds()) + "}");
  return ok ? 0 : 1;
}
