#include "platform/win32/Win32Archive.h"

#include "platform/Platform.h"
#include "platform/win32/SevenZipInterfaces.h"
#include "platform/win32/Win32ArchiveCallbacks.h"
#include "platform/win32/Win32ArchiveCom.h"
#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Pump.h"
#include "platform/win32/Win32Text.h"

#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace plat::win32 {

namespace {

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
      throw ArchiveError("The archive library cannot tell whether " + Quoted(path_) +
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

  void Extract(const ExtractTargets& targets, const ItemProgress& onProgress,
               const StopFlag* stop) override {
    if (targets.empty())
      return;
    uint32_t count = Count();
    std::map<uint32_t, ExtractCallback::Target> chosen;
    for (const auto& [index, path] : targets) {
      if (index >= count)
        throw PlatformError("Item " + std::to_string(index) + " is not in " + Quoted(path_) +
                            ", which has " + std::to_string(count) + " items.");
      if (!chosen.emplace(index, ExtractCallback::Target{&path}).second)
        throw PlatformError("Item " + std::to_string(index) + " of " + Quoted(path_) +
                            " is to be extracted twice.");
    }
    // The library wants the indices in ascending order, as the map keeps them.
    std::vector<UINT32> indices;
    indices.reserve(chosen.size());
    for (const auto& entry : chosen)
      indices.push_back(entry.first);
    auto callback = MakeCom<ExtractCallback>(*archive_, path_, std::move(chosen));
    callback->StopWhen(stop);
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
      throw ArchiveError("The archive library cannot count the items of " + Quoted(path_) + ". " +
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

// A bare library name stands for the file of that name in the program's own
// folder: a library of the same name in the working directory or on PATH
// must never be taken for it.
std::wstring FullPath(const std::wstring& dllName) {
  if (dllName.find_first_of(L"\\/:") != std::wstring::npos)
    return dllName;
  std::wstring program(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, program.data(), 32768);
  program.resize(length);
  const size_t slash = program.find_last_of(L"\\/");
  return (slash == std::wstring::npos ? std::wstring() : program.substr(0, slash + 1)) + dllName;
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
      ModuleHandle module(
          LoadLibraryExW(FullPath(dllName_).c_str(), nullptr,
                         LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
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
      // The file could not be read: this machine's failure, whatever the
      // library made of it.
      if (stream->Error() != 0)
        throw PlatformError("Cannot read " + Quoted(archivePath) + ". " +
                            SystemErrorText(stream->Error()));
      if (hr == S_FALSE)
        throw ArchiveError(Quoted(archivePath) + " is not a " + handler->format.name + " archive.");
      std::string message = "Cannot open " + Quoted(archivePath) + " as " + handler->format.name +
                            ". " + HResultText(hr);
      if (IsMachineFailure(hr))
        throw PlatformError(message);
      throw ArchiveError(message);
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
