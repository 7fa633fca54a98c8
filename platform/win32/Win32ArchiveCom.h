// COM plumbing for the objects handed to the archive library and the values
// it hands back: reference counting, PROPVARIANTs, result codes as text.
#pragma once

#include "platform/win32/SevenZipInterfaces.h"
#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Text.h"

#include <oleauto.h>

#include <atomic>
#include <optional>
#include <string>
#include <utility>

namespace plat::win32 {

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

// The system's text for a result code, and the code in hex.
std::string HResultText(HRESULT hr);

inline std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}

// Whether a result code the library passed on is this machine's failure (no
// memory, a full disk, a file that cannot be read or written) rather than
// the archive's.
bool IsMachineFailure(HRESULT hr);

} // namespace plat::win32
