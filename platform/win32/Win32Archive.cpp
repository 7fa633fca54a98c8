#include "platform/win32/Win32Archive.h"

#include "platform/Platform.h"
#include "platform/win32/SevenZipInterfaces.h"
#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Pump.h"
#include "platform/win32/Win32Text.h"

#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace plat::win32 {

namespace {

namespace sz = sevenzip;

// ---------------------------------------------------------------------------
// COM plumbing

// Reference counting and QueryInterface for the objects we hand to the
// library. Every interface here derives from the previous one in a single
// chain, so one pointer serves for all of an object's interfaces.
template <class Interface> class ComObject : public Interface {
public:
  ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;
  virtual ~ComObject() = default;

  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0)
      delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr)
      return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || Implements(iid)) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }

protected:
  virtual bool Implements(REFIID iid) const = 0;

private:
  std::atomic<ULONG> references_{0};
};

template <class T, class... Args> ComPtr<T> MakeCom(Args&&... args) {
  T* object = new T(std::forward<Args>(args)...);
  object->AddRef();
  return ComPtr<T>(object);
}

// A PROPVARIANT that is cleared whatever way the scope ends.
class PropVariant {
public:
  PropVariant() { PropVariantInit(&value_); }
  ~PropVariant() { PropVariantClear(&value_); }
  PropVariant(const PropVariant&) = delete;
  PropVariant& operator=(const PropVariant&) = delete;

  PROPVARIANT* put() {
    PropVariantClear(&value_);
    return &value_;
  }
  const PROPVARIANT* operator->() const { return &value_; }

  // The text of a VT_BSTR value; nothing for any other type.
  std::optional<std::wstring> WideText() const {
    if (value_.vt != VT_BSTR)
      return std::nullopt;
    if (value_.bstrVal == nullptr)
      return std::wstring();
    return std::wstring(value_.bstrVal, SysStringLen(value_.bstrVal));
  }
  std::optional<std::string> Text() const {
    std::optional<std::wstring> wide = WideText();
    if (!wide)
      return std::nullopt;
    return Narrow(*wide);
  }

private:
  PROPVARIANT value_;
};

std::string HResultText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  return SystemErrorText(static_cast<DWORD>(hr)) + " (" + code + ")";
}

std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}

// ---------------------------------------------------------------------------
// Streams and callbacks handed to the library

// The archive file, read through the library's seekable input stream.
class InFileStream final : public ComObject<sz::IInStream> {
public:
  explicit InFileStream(KernelHandle file) : file_(std::move(file)) {}

  HRESULT STDMETHODCALLTYPE Read(void* data, UINT32 size, UINT32* processedSize) override {
    if (processedSize != nullptr)
      *processedSize = 0;
    if (size == 0)
      return S_OK;
    DWORD read = 0;
    if (!ReadFile(file_.get(), data, size, &read, nullptr))
      return HRESULT_FROM_WIN32(GetLastError());
    if (processedSize != nullptr)
      *processedSize = read;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Seek(INT64 offset, UINT32 origin, UINT64* newPosition) override {
    // The origins have the values of FILE_BEGIN, FILE_CURRENT and FILE_END.
    if (origin > sz::kSeekEnd)
      return STG_E_INVALIDFUNCTION;
    LARGE_INTEGER move;
    move.QuadPart = offset;
    LARGE_INTEGER position;
    if (!SetFilePointerEx(file_.get(), move, &position, origin))
      return HRESULT_FROM_WIN32(GetLastError());
    if (newPosition != nullptr)
      *newPosition = static_cast<UINT64>(position.QuadPart);
    return S_OK;
  }

protected:
  bool Implements(REFIID iid) const override {
    return IsEqualIID(iid, sz::kIidInStream) || IsEqualIID(iid, sz::kIidSequentialInStream);
  }

private:
  KernelHandle file_;
};

// One extracted file. Close() may come before the library lets go of the
// stream, so that the file is complete (or can be deleted) as soon as the
// library reports the item's result.
//
// The file takes no more than `limit` bytes: the size the archive states for
// the item. A crafted archive can state a small size and decode far more;
// the write that would pass the limit is refused, and the library stops.
class OutFileStream final : public ComObject<sz::ISequentialOutStream> {
public:
  OutFileStream(KernelHandle file, std::optional<uint64_t> limit)
      : file_(std::move(file)), limit_(limit) {}
  ~OutFileStream() override { Close(); }

  HRESULT STDMETHODCALLTYPE Write(const void* data, UINT32 size, UINT32* processedSize) override {
    if (processedSize != nullptr)
      *processedSize = 0;
    if (!file_)
      return E_UNEXPECTED;
    if (limit_ && size > *limit_ - total_) {
      overrun_ = true;
      return E_FAIL;
    }
    DWORD written = 0;
    if (size != 0 && !WriteFile(file_.get(), data, size, &written, nullptr)) {
      error_ = GetLastError();
      return HRESULT_FROM_WIN32(error_);
    }
    total_ += written;
    if (processedSize != nullptr)
      *processedSize = written;
    return S_OK;
  }

  // Whether the item's data ran past its stated size.
  bool Overrun() const { return overrun_; }

  // The first failure to write or to close the file; 0 when there was none.
  DWORD Close() {
    if (!file_.close() && error_ == 0)
      error_ = GetLastError();
    return error_;
  }

protected:
  bool Implements(REFIID iid) const override {
    return IsEqualIID(iid, sz::kIidSequentialOutStream);
  }

private:
  KernelHandle file_;
  std::optional<uint64_t> limit_;
  uint64_t total_ = 0;
  bool overrun_ = false;
  DWORD error_ = 0;
};

// Opening needs no volumes and no password: the callback only takes the
// progress reports.
class OpenCallback final : public ComObject<sz::IArchiveOpenCallback> {
public:
  HRESULT STDMETHODCALLTYPE SetTotal(const UINT64*, const UINT64*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64*, const UINT64*) override { return S_OK; }

protected:
  bool Implements(REFIID iid) const override {
    return IsEqualIID(iid, sz::kIidArchiveOpenCallback);
  }
};

// Where a stored name had a backslash, the Windows build of the library shows
// this private-use character instead, so that it does not read as a
// separator; the separator '/' it shows as '\'.
constexpr wchar_t kStoredBackslash = 0xF05C;

// Item properties, read the same way for listing and for messages.
//
// A path comes back in the archive's own spelling: the library's change of
// separators is undone, so that a name reads the same whichever system the
// library runs on, and a backslash stored in a name stays visible as one.
std::string ItemPath(sz::IInArchive& archive, uint32_t index) {
  PropVariant value;
  HRESULT hr = archive.GetProperty(index, sz::kpidPath, value.put());
  if (FAILED(hr))
    throw PlatformError("The archive library cannot tell the name of item " +
                        std::to_string(index) + ". " + HResultText(hr));
  std::wstring path = value.WideText().value_or(std::wstring());
  for (wchar_t& c : path) {
    if (c == L'\\')
      c = L'/';
    else if (c == kStoredBackslash)
      c = L'\\';
  }
  return Narrow(path);
}

bool ItemIsFolder(sz::IInArchive& archive, uint32_t index) {
  PropVariant value;
  HRESULT hr = archive.GetProperty(index, sz::kpidIsDir, value.put());
  if (FAILED(hr))
    throw PlatformError("The archive library cannot tell the kind of item " +
                        std::to_string(index) + ". " + HResultText(hr));
  return value->vt == VT_BOOL && value->boolVal != VARIANT_FALSE;
}

// The unpacked size the archive states for the item; nothing when the
// handler does not tell it.
std::optional<uint64_t> ItemSize(sz::IInArchive& archive, uint32_t index) {
  PropVariant value;
  HRESULT hr = archive.GetProperty(index, sz::kpidSize, value.put());
  if (FAILED(hr))
    throw PlatformError("The archive library cannot tell the size of item " +
                        std::to_string(index) + ". " + HResultText(hr));
  switch (value->vt) {
  case VT_UI8:
    return static_cast<uint64_t>(value->uhVal.QuadPart);
  case VT_UI4:
    return value->ulVal;
  case VT_UI2:
    return value->uiVal;
  case VT_UI1:
    return value->bVal;
  default:
    return std::nullopt;
  }
}

// The item's name for a message; its number when even the name is not to be
// had.
std::string DescribeItem(sz::IInArchive& archive, uint32_t index) {
  try {
    return Quoted(ItemPath(archive, index));
  } catch (const PlatformError&) {
    return "item " + std::to_string(index);
  }
}

std::string OperationResultText(int32_t result) {
  switch (result) {
  case sz::kResultUnsupportedMethod:
    return "unsupported compression method";
  case sz::kResultDataError:
    return "data error";
  case sz::kResultCrcError:
    return "CRC error";
  case sz::kResultUnavailable:
    return "data unavailable";
  case sz::kResultUnexpectedEnd:
    return "unexpected end of data";
  case sz::kResultDataAfterEnd:
    return "data after the end";
  case sz::kResultIsNotArchive:
    return "not an archive";
  case sz::kResultHeadersError:
    return "headers error";
  case sz::kResultWrongPassword:
    return "wrong password";
  default:
    return "error " + std::to_string(result);
  }
}

// Writes the chosen items to their targets and remembers the first failure.
// The library asks for a stream per item, reports the item's result, and
// stops when a callback fails; the failure is raised once the library has
// returned.
class ExtractCallback final : public ComObject<sz::IArchiveExtractCallback> {
public:
  struct Target {
    std::wstring path;
    bool done = false;
  };

  ExtractCallback(sz::IInArchive& archive, std::string archivePath,
                  std::map<uint32_t, Target> targets)
      : archive_(archive), archivePath_(std::move(archivePath)), targets_(std::move(targets)) {}

  HRESULT STDMETHODCALLTYPE SetTotal(UINT64) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64*) override { return S_OK; }

  HRESULT STDMETHODCALLTYPE GetStream(UINT32 index, sz::ISequentialOutStream** stream,
                                      INT32 askMode) override {
    return Guarded([&]() -> HRESULT {
      if (stream == nullptr)
        return E_POINTER;
      *stream = nullptr;
      Abandon();
      // Solid archives also announce the items they decode on the way to a
      // chosen one; those are skipped.
      auto found = targets_.find(index);
      if (askMode != sz::kAskExtract || found == targets_.end())
        return S_OK;
      current_ = index;
      const std::wstring& path = found->second.path;
      if (ItemIsFolder(archive_, index)) {
        if (!CreateDirectoryW(path.c_str(), nullptr)) {
          DWORD error = GetLastError();
          DWORD attributes = GetFileAttributesW(path.c_str());
          bool folderExists = error == ERROR_ALREADY_EXISTS &&
                              attributes != INVALID_FILE_ATTRIBUTES &&
                              (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
          if (!folderExists)
            return FailWith("Cannot create the folder", index, error);
        }
        return S_OK;
      }
      KernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file)
        return FailWith("Cannot create the file", index, GetLastError());
      stream_ = MakeCom<OutFileStream>(std::move(file), ItemSize(archive_, index));
      *stream = stream_.get();
      (*stream)->AddRef();
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE PrepareOperation(INT32) override { return S_OK; }

  HRESULT STDMETHODCALLTYPE SetOperationResult(INT32 result) override {
    return Guarded([&]() -> HRESULT {
      if (!current_)
        return S_OK;
      uint32_t index = *current_;
      DWORD writeError = stream_ ? stream_->Close() : 0;
      // The refused write is the real cause; the library may report it as
      // a data error of its own.
      if (stream_ && stream_->Overrun()) {
        Abandon();
        return E_ABORT;
      }
      if (result != sz::kResultOk) {
        Abandon();
        Fail("Cannot extract " + DescribeItem(archive_, index) + " from " + Quoted(archivePath_) +
             ": " + OperationResultText(result) + ".");
        return E_ABORT;
      }
      if (writeError != 0) {
        Abandon();
        return FailWith("Cannot write the file", index, writeError);
      }
      stream_.reset();
      current_.reset();
      targets_.at(index).done = true;
      ++written_;
      return S_OK;
    });
  }

  // Items written so far; read by another thread than the library's.
  uint64_t Written() const { return written_.load(); }

  // After the library has returned `hr`: raises the first failure, if any,
  // and makes sure every chosen item was written.
  void Finish(HRESULT hr) {
    Abandon();
    if (failure_)
      throw PlatformError(*failure_);
    if (FAILED(hr))
      throw PlatformError("Cannot extract from " + Quoted(archivePath_) + ". " + HResultText(hr));
    for (const auto& [index, target] : targets_)
      if (!target.done)
        throw PlatformError("The archive library did not extract " + DescribeItem(archive_, index) +
                            " from " + Quoted(archivePath_) + ".");
  }

protected:
  bool Implements(REFIID iid) const override {
    return IsEqualIID(iid, sz::kIidArchiveExtractCallback) || IsEqualIID(iid, sz::kIidProgress);
  }

private:
  // No C++ exception may cross into the library. A failure met in a callback
  // is kept for Finish() to raise, and the library is told to stop.
  template <class F> HRESULT Guarded(F&& body) noexcept {
    try {
      return body();
    } catch (const std::exception& e) {
      try {
        Fail(e.what());
      } catch (...) {
      }
      return E_FAIL;
    } catch (...) {
      return E_FAIL;
    }
  }

  // Drops an item that did not finish: its partial file goes.
  void Abandon() {
    if (!current_)
      return;
    if (stream_) {
      if (stream_->Overrun())
        Fail("Cannot extract " + DescribeItem(archive_, *current_) + " from " +
             Quoted(archivePath_) + ": it holds more data than its stated size.");
      stream_->Close();
      stream_.reset();
      DeleteFileW(targets_.at(*current_).path.c_str());
    }
    current_.reset();
  }

  void Fail(std::string message) {
    if (!failure_)
      failure_ = std::move(message);
  }

  HRESULT FailWith(const char* action, uint32_t index, DWORD error) {
    Fail(std::string(action) + " " + Quoted(Narrow(targets_.at(index).path)) + " for " +
         DescribeItem(archive_, index) + " of " + Quoted(archivePath_) + ". " +
         SystemErrorText(error));
    return HRESULT_FROM_WIN32(error);
  }

  sz::IInArchive& archive_;
  std::string archivePath_;
  std::map<uint32_t, Target> targets_;
  std::optional<uint32_t> current_;
  ComPtr<OutFileStream> stream_;
  std::optional<std::string> failure_;
  std::atomic<uint64_t> written_{0};
};

// ---------------------------------------------------------------------------
// The archive and the library

class Win32Archive final : public IArchive {
public:
  Win32Archive(ComPtr<sz::IInArchive> archive, std::string path)
      : archive_(std::move(archive)), path_(std::move(path)) {}
  ~Win32Archive() override { archive_->Close(); }
  Win32Archive(const Win32Archive&) = delete;
  Win32Archive& operator=(const Win32Archive&) = delete;

  std::vector<ArchiveItem> Items() override {
    uint32_t count = Count();
    std::vector<ArchiveItem> items;
    items.reserve(count);
    for (uint32_t i = 0; i < count; ++i)
      items.push_back(
          ArchiveItem{ItemPath(*archive_, i), ItemIsFolder(*archive_, i), ItemSize(*archive_, i)});
    return items;
  }

  bool HasErrors() override {
    PropVariant flags;
    HRESULT hr = archive_->GetArchiveProperty(sz::kpidErrorFlags, flags.put());
    if (FAILED(hr))
      throw PlatformError("The archive library cannot tell whether " + Quoted(path_) +
                          " is damaged. " + HResultText(hr));
    if ((flags->vt == VT_UI4 && flags->ulVal != 0) ||
        (flags->vt == VT_UI8 && flags->uhVal.QuadPart != 0))
      return true;
    // Some handlers describe their trouble in words instead of flags.
    PropVariant error;
    if (SUCCEEDED(archive_->GetArchiveProperty(sz::kpidError, error.put())))
      return !error.Text().value_or(std::string()).empty();
    return false;
  }

  void Extract(const ExtractTargets& targets, const ItemProgress& onProgress) override {
    if (targets.empty())
      return;
    uint32_t count = Count();
    std::map<uint32_t, ExtractCallback::Target> chosen;
    for (const auto& [index, path] : targets) {
      if (index >= count)
        throw PlatformError("Item " + std::to_string(index) + " is not in " + Quoted(path_) +
                            ", which has " + std::to_string(count) + " items.");
      if (!chosen.emplace(index, ExtractCallback::Target{Widen(path)}).second)
        throw PlatformError("Item " + std::to_string(index) + " of " + Quoted(path_) +
                            " is to be extracted twice.");
    }
    // The library wants the indices in ascending order, as the map keeps them.
    std::vector<UINT32> indices;
    indices.reserve(chosen.size());
    for (const auto& entry : chosen)
      indices.push_back(entry.first);
    auto callback = MakeCom<ExtractCallback>(*archive_, path_, std::move(chosen));
    // Thousands of files take seconds: the window goes on answering meanwhile.
    // The library's objects are plain interfaces, bound to no thread.
    const uint64_t total = indices.size();
    uint64_t told = 0;
    auto tell = [&] {
      uint64_t written = callback->Written();
      if (onProgress && written != told) {
        told = written;
        onProgress(written, total);
      }
    };
    RunWhilePumping(
        [&] {
          HRESULT hr = archive_->Extract(indices.data(), static_cast<UINT32>(indices.size()), 0,
                                         callback.get());
          callback->Finish(hr);
        },
        tell);
    tell();
  }

private:
  uint32_t Count() {
    UINT32 count = 0;
    HRESULT hr = archive_->GetNumberOfItems(&count);
    if (FAILED(hr))
      throw PlatformError("The archive library cannot count the items of " + Quoted(path_) + ". " +
                          HResultText(hr));
    return count;
  }

  ComPtr<sz::IInArchive> archive_;
  std::string path_;
};

// The entry points of one loaded library.
struct LoadedLibrary {
  HMODULE module = nullptr;
  sz::CreateObjectFn createObject = nullptr;
  sz::GetHandlerProperty2Fn getHandlerProperty2 = nullptr;
  sz::GetNumberOfFormatsFn getNumberOfFormats = nullptr;
};

// Libraries loaded so far, by the name they were loaded by. Entries are never
// removed: a module stays loaded until the process ends.
std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::wstring, LoadedLibrary>& Registry() {
  static std::map<std::wstring, LoadedLibrary> registry;
  return registry;
}

template <class Fn> bool Resolve(HMODULE module, const char* name, Fn& function) {
  FARPROC address = GetProcAddress(module, name);
  // Through the generic function pointer type, which converts to any other
  // without a warning.
  function = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(address));
  return address != nullptr;
}

std::optional<LoadedLibrary> ResolveAll(HMODULE module) {
  LoadedLibrary library;
  library.module = module;
  sz::GetHandlerPropertyFn getHandlerProperty = nullptr;
  sz::GetMethodPropertyFn getMethodProperty = nullptr;
  sz::GetNumberOfMethodsFn getNumberOfMethods = nullptr;
  sz::SetLargePageModeFn setLargePageMode = nullptr;
  // Not all of them are called, but a library without every one of them is
  // not the library this code was written for.
  bool complete = Resolve(module, "CreateObject", library.createObject);
  complete &= Resolve(module, "GetHandlerProperty2", library.getHandlerProperty2);
  complete &= Resolve(module, "GetHandlerProperty", getHandlerProperty);
  complete &= Resolve(module, "GetMethodProperty", getMethodProperty);
  complete &= Resolve(module, "GetNumberOfFormats", library.getNumberOfFormats);
  complete &= Resolve(module, "GetNumberOfMethods", getNumberOfMethods);
  complete &= Resolve(module, "SetLargePageMode", setLargePageMode);
  if (!complete)
    return std::nullopt;
  return library;
}

class Win32ArchiveLibrary final : public IArchiveLibrary {
public:
  explicit Win32ArchiveLibrary(std::wstring dllName) : dllName_(std::move(dllName)) {}

  bool Load() override {
    if (library_ != nullptr)
      return true;
    std::lock_guard lock(RegistryMutex());
    auto& registry = Registry();
    auto found = registry.find(dllName_);
    if (found == registry.end()) {
      ModuleHandle module(LoadLibraryW(dllName_.c_str()));
      if (!module)
        return false;
      std::optional<LoadedLibrary> loaded = ResolveAll(module.get());
      if (!loaded)
        return false;
      found = registry.emplace(dllName_, *loaded).first;
      // Loaded for good: the registry's entry outlives every archive.
      module.release();
    }
    library_ = &found->second;
    return true;
  }

  std::vector<ArchiveFormat> Formats() override {
    std::vector<ArchiveFormat> formats;
    for (const Handler& handler : Handlers())
      formats.push_back(handler.format);
    return formats;
  }

  std::unique_ptr<IArchive> Open(const std::string& formatName,
                                 const std::string& archivePath) override {
    const LoadedLibrary& library = Library();
    const Handler* handler = nullptr;
    for (const Handler& h : Handlers())
      if (text::EqualsIgnoreCase(h.format.name, formatName)) {
        handler = &h;
        break;
      }
    if (handler == nullptr)
      throw PlatformError("The archive library has no format " + Quoted(formatName) + " to open " +
                          Quoted(archivePath) + ".");

    KernelHandle file(CreateFileW(Widen(archivePath).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
      throw PlatformError("Cannot open " + Quoted(archivePath) + ". " +
                          SystemErrorText(GetLastError()));
    // From here the stream owns the file handle; the opened archive keeps
    // the stream until it is closed.
    ComPtr<InFileStream> stream = MakeCom<InFileStream>(std::move(file));

    ComPtr<sz::IInArchive> archive;
    HRESULT hr = library.createObject(&handler->classId, &sz::kIidInArchive,
                                      reinterpret_cast<void**>(archive.put()));
    if (FAILED(hr) || !archive)
      throw PlatformError("The archive library cannot open " + Quoted(archivePath) + " as " +
                          handler->format.name + ". " + HResultText(hr));

    auto callback = MakeCom<OpenCallback>();
    // The archive must start at the file's first byte: nothing is searched
    // for behind a stub.
    const UINT64 maxStartPosition = 0;
    hr = archive->Open(stream.get(), &maxStartPosition, callback.get());
    if (hr != S_OK) {
      archive->Close();
      if (hr == S_FALSE)
        throw PlatformError(Quoted(archivePath) + " is not a " + handler->format.name +
                            " archive.");
      throw PlatformError("Cannot open " + Quoted(archivePath) + " as " + handler->format.name +
                          ". " + HResultText(hr));
    }
    return std::make_unique<Win32Archive>(std::move(archive), archivePath);
  }

private:
  struct Handler {
    ArchiveFormat format;
    GUID classId;
  };

  const LoadedLibrary& Library() const {
    if (library_ == nullptr)
      throw PlatformError("The archive library is not loaded.");
    return *library_;
  }

  // The library's formats, read once. A format without a name or a proper
  // class id cannot be asked for, so it is left out.
  const std::vector<Handler>& Handlers() {
    const LoadedLibrary& library = Library();
    if (handlers_)
      return *handlers_;
    UINT32 count = 0;
    HRESULT hr = library.getNumberOfFormats(&count);
    if (FAILED(hr))
      throw PlatformError("The archive library cannot list its formats. " + HResultText(hr));
    std::vector<Handler> handlers;
    for (UINT32 i = 0; i < count; ++i) {
      PropVariant name, classId, extensions;
      hr = library.getHandlerProperty2(i, sz::kHandlerName, name.put());
      if (FAILED(hr))
        throw PlatformError("The archive library cannot name its format " + std::to_string(i) +
                            ". " + HResultText(hr));
      hr = library.getHandlerProperty2(i, sz::kHandlerClassId, classId.put());
      if (FAILED(hr))
        throw PlatformError("The archive library cannot identify its format " + std::to_string(i) +
                            ". " + HResultText(hr));
      hr = library.getHandlerProperty2(i, sz::kHandlerExtension, extensions.put());
      if (FAILED(hr))
        throw PlatformError("The archive library cannot list the extensions of its format " +
                            std::to_string(i) + ". " + HResultText(hr));

      std::optional<std::string> formatName = name.Text();
      if (!formatName || formatName->empty() || classId->vt != VT_BSTR ||
          classId->bstrVal == nullptr || SysStringByteLen(classId->bstrVal) != sizeof(GUID))
        continue;
      Handler handler;
      handler.format.name = *formatName;
      std::memcpy(&handler.classId, classId->bstrVal, sizeof(GUID));
      for (std::string& extension : text::Split(extensions.Text().value_or(std::string()), ' '))
        if (!extension.empty())
          handler.format.extensions.push_back(std::move(extension));
      handlers.push_back(std::move(handler));
    }
    handlers_ = std::move(handlers);
    return *handlers_;
  }

  std::wstring dllName_;
  const LoadedLibrary* library_ = nullptr;
  std::optional<std::vector<Handler>> handlers_;
};

} // namespace

std::unique_ptr<IArchiveLibrary> CreateWin32ArchiveLibrary(const std::wstring& dllName) {
  return std::make_unique<Win32ArchiveLibrary>(dllName);
}

} // namespace plat::win32
