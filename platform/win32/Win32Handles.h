// Owners for the Win32 resources this layer opens: one handle template with a
// traits class per kind of handle, one reference-counted COM pointer, and the
// COM apartment of a scope. Every file in platform/win32 uses these rather
// than closing or releasing anything by hand, so that no early return or
// exception can leak a handle.
#pragma once

#include "platform/win32/Win32Api.h"

#include <objbase.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <utility>

namespace plat::win32 {

// A traits class names the handle type, the value that owns nothing, which
// values are real handles, and how one is closed (true when the close
// succeeded).

// Kernel objects: files, tokens, processes, events. CreateFileW fails with
// INVALID_HANDLE_VALUE, most other calls with null; neither is ever owned.
// (INVALID_HANDLE_VALUE is also GetCurrentProcess()'s pseudo handle, which
// must never be closed either.)
struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Empty() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static bool Close(Type h) { return CloseHandle(h) != FALSE; }
};

// Folder listings opened with FindFirstFileW.
struct FindHandleTraits {
  using Type = HANDLE;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static bool Valid(Type h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static bool Close(Type h) { return FindClose(h) != FALSE; }
};

// WinHTTP sessions, connections and requests.
struct InternetHandleTraits {
  using Type = HINTERNET;
  static Type Empty() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static bool Close(Type h) { return WinHttpCloseHandle(h) != FALSE; }
};

// Certificate contexts the system hands out as the caller's own copy (the
// server certificate of a WinHTTP request, for one).
struct CertificateContextTraits {
  using Type = PCCERT_CONTEXT;
  static Type Empty() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static bool Close(Type h) { return CertFreeCertificateContext(h) != FALSE; }
};

// Registry keys opened or created by this process (never the predefined
// roots such as HKEY_CURRENT_USER, which are not to be owned).
struct RegistryKeyTraits {
  using Type = HKEY;
  static Type Empty() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static bool Close(Type h) { return RegCloseKey(h) == ERROR_SUCCESS; }
};

// Libraries loaded with LoadLibraryW (not GetModuleHandleW, which adds no
// reference).
struct ModuleHandleTraits {
  using Type = HMODULE;
  static Type Empty() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static bool Close(Type h) { return FreeLibrary(h) != FALSE; }
};

// GDI objects made by this process: fonts, brushes, pens, bitmaps. Each is
// deleted once it is selected into no device context any more (a
// SelectedObject scope, below, takes care of that order). Stock objects are
// never to be owned.
template <class Handle> struct GdiObjectTraits {
  using Type = Handle;
  static Type Empty() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static bool Close(Type h) { return DeleteObject(h) != FALSE; }
};

// Memory device contexts made with CreateCompatibleDC (not the ones from
// GetDC or BeginPaint, which are released or ended instead).
struct MemoryDcTraits {
  using Type = HDC;
  static Type Empty() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static bool Close(Type h) { return DeleteDC(h) != FALSE; }
};

// Memory that a system call allocated for its caller to free with LocalFree
// (FormatMessageW's text, CommandLineToArgvW's array, a converted security
// descriptor, SetEntriesInAclW's list).
struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Empty() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static bool Close(Type h) { return LocalFree(h) == nullptr; }
};

// Security identifiers made with AllocateAndInitializeSid.
struct AllocatedSidTraits {
  using Type = PSID;
  static Type Empty() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static bool Close(Type h) { return FreeSid(h) == nullptr; }
};

// Sole owner of one handle; closes it when it goes out of scope.
template <class Traits> class UniqueHandle {
public:
  using Type = typename Traits::Type;

  UniqueHandle() = default;
  // Takes over a handle as a creating call returned it, failure value
  // included: test the result with operator bool.
  explicit UniqueHandle(Type handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other)
      reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Type get() const { return handle_; }
  explicit operator bool() const { return Traits::Valid(handle_); }

  // Gives the handle up without closing it.
  Type release() { return std::exchange(handle_, Traits::Empty()); }

  void reset(Type handle = Traits::Empty()) {
    Type old = std::exchange(handle_, handle);
    if (Traits::Valid(old))
      Traits::Close(old);
  }

  // For calls that hand a new handle out through a pointer; closes the one
  // held first.
  Type* put() {
    reset();
    return &handle_;
  }

  // Closes now and tells whether that worked: closing a written file is the
  // last chance to hear that its data could not be flushed. True when nothing
  // was held. GetLastError tells why it failed.
  bool close() {
    Type old = release();
    return !Traits::Valid(old) || Traits::Close(old);
  }

private:
  Type handle_ = Traits::Empty();
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using InternetHandle = UniqueHandle<InternetHandleTraits>;
using CertificateContext = UniqueHandle<CertificateContextTraits>;
using RegistryKeyHandle = UniqueHandle<RegistryKeyTraits>;
using LocalMemory = UniqueHandle<LocalMemoryTraits>;
using AllocatedSid = UniqueHandle<AllocatedSidTraits>;

// LocalMemory for a call that hands out a typed pointer: the pointer is the
// allocation, seen as T.
template <class T> T* LocalAs(const LocalMemory& memory) {
  return static_cast<T*>(memory.get());
}
using ModuleHandle = UniqueHandle<ModuleHandleTraits>;
using FontHandle = UniqueHandle<GdiObjectTraits<HFONT>>;
using BrushHandle = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using PenHandle = UniqueHandle<GdiObjectTraits<HPEN>>;
using BitmapHandle = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using MemoryDcHandle = UniqueHandle<MemoryDcTraits>;

// An object selected into a device context for a scope: the one it replaced
// goes back in when the scope ends, so that the owner of the selected object
// can delete it afterwards. Declare it after that owner.
class SelectedObject {
public:
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~SelectedObject() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR)
      SelectObject(dc_, previous_);
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A device context's whole state (selected objects, colours, modes) saved
// for a scope and restored at its end.
class SavedDcState {
public:
  explicit SavedDcState(HDC dc) : dc_(dc), saved_(SaveDC(dc)) {}
  ~SavedDcState() {
    if (saved_ != 0)
      RestoreDC(dc_, saved_);
  }
  SavedDcState(const SavedDcState&) = delete;
  SavedDcState& operator=(const SavedDcState&) = delete;

private:
  HDC dc_;
  int saved_;
};

// Holds one reference to a COM object. Copies add a reference; moves do not.
template <class T> class ComPtr {
public:
  ComPtr() = default;
  // Takes over a reference the caller already owns (no AddRef).
  explicit ComPtr(T* object) : object_(object) {}
  ComPtr(const ComPtr& other) : object_(other.object_) {
    if (object_ != nullptr)
      object_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }

  void reset() {
    if (object_ != nullptr)
      std::exchange(object_, nullptr)->Release();
  }

  // For calls that hand out a new reference through a T** (or a void** with
  // an interface id); releases the one held first.
  T** put() {
    reset();
    return &object_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }

  // Another interface of the same object; empty when it has none.
  template <class U> ComPtr<U> as(REFIID iid) const {
    ComPtr<U> other;
    if (object_ != nullptr && FAILED(object_->QueryInterface(iid, other.putVoid())))
      other.reset();
    return other;
  }

private:
  T* object_ = nullptr;
};

// COM on the calling thread for the scope's lifetime. A thread that had
// started COM already (in the same apartment) only gains one more count,
// which the scope gives back; one in another apartment is left as it was.
class ComApartment {
public:
  explicit ComApartment(DWORD flags = COINIT_APARTMENTTHREADED)
      : result_(CoInitializeEx(nullptr, flags)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_))
      CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

  HRESULT result() const { return result_; }

private:
  HRESULT result_;
};

} // namespace plat::win32
