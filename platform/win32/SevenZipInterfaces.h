// The binary interface of the archive library 7z.dll, declared from its
// published description: the exported functions, the COM interfaces they hand
// out or call back, their interface ids and the property numbers we ask for.
//
// Only the methods' order and signatures matter to the library; every
// interface lists all of its methods, including those we never call, so that
// the virtual tables line up.
#pragma once

#include "platform/win32/Win32Api.h"

#include <objidl.h>
#include <propidl.h>

#include <cstdint>

namespace plat::win32::sevenzip {

// Every interface id of the library is {23170F69-40C1-278A-0000-00GG00SS0000}
// with a group byte GG and a sub-id byte SS.
constexpr GUID LibraryIid(uint8_t group, uint8_t sub) {
  return GUID{0x23170F69, 0x40C1, 0x278A, {0, 0, 0, group, 0, sub, 0, 0}};
}

inline constexpr GUID kIidProgress = LibraryIid(0x00, 0x05);
inline constexpr GUID kIidSequentialInStream = LibraryIid(0x03, 0x01);
inline constexpr GUID kIidSequentialOutStream = LibraryIid(0x03, 0x02);
inline constexpr GUID kIidInStream = LibraryIid(0x03, 0x03);
inline constexpr GUID kIidArchiveOpenCallback = LibraryIid(0x06, 0x10);
inline constexpr GUID kIidArchiveExtractCallback = LibraryIid(0x06, 0x20);
inline constexpr GUID kIidInArchive = LibraryIid(0x06, 0x60);

// Properties of a format (GetHandlerProperty2).
enum HandlerProperty : PROPID {
  kHandlerName = 0,      // VT_BSTR
  kHandlerClassId = 1,   // VT_BSTR holding the 16 bytes of the GUID
  kHandlerExtension = 2, // VT_BSTR, extensions separated by blanks
};

// Properties of an item (GetProperty) or of the whole archive
// (GetArchiveProperty).
enum ItemProperty : PROPID {
  kpidPath = 3,          // VT_BSTR
  kpidIsDir = 6,         // VT_BOOL
  kpidSize = 7,          // VT_UI8 (or smaller), the unpacked size
  kpidError = 55,        // VT_BSTR
  kpidErrorFlags = 71,   // VT_UI4, non-zero when the archive is damaged
  kpidWarningFlags = 72, // VT_UI4
};

// What the library asks the extract callback to do with an item.
enum AskMode : int32_t {
  kAskExtract = 0,
  kAskTest = 1,
  kAskSkip = 2,
};

// The outcome of one item's extraction.
enum OperationResult : int32_t {
  kResultOk = 0,
  kResultUnsupportedMethod = 1,
  kResultDataError = 2,
  kResultCrcError = 3,
  kResultUnavailable = 4,
  kResultUnexpectedEnd = 5,
  kResultDataAfterEnd = 6,
  kResultIsNotArchive = 7,
  kResultHeadersError = 8,
  kResultWrongPassword = 9,
};

// Seek origins of IInStream::Seek, the same as those of IStream.
enum SeekOrigin : uint32_t {
  kSeekSet = 0,
  kSeekCurrent = 1,
  kSeekEnd = 2,
};

struct ISequentialInStream : IUnknown {
  // Reads up to `size` bytes; fewer (or none) only at the end of the data.
  virtual HRESULT STDMETHODCALLTYPE Read(void* data, UINT32 size, UINT32* processedSize) = 0;
};

struct ISequentialOutStream : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Write(const void* data, UINT32 size, UINT32* processedSize) = 0;
};

struct IInStream : ISequentialInStream {
  virtual HRESULT STDMETHODCALLTYPE Seek(INT64 offset, UINT32 origin, UINT64* newPosition) = 0;
};

struct IProgress : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetTotal(UINT64 total) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64* completed) = 0;
};

struct IArchiveOpenCallback : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetTotal(const UINT64* files, const UINT64* bytes) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64* files, const UINT64* bytes) = 0;
};

struct IArchiveExtractCallback : IProgress {
  // Hands out the stream for item `index`; a null stream skips its data.
  virtual HRESULT STDMETHODCALLTYPE GetStream(UINT32 index, ISequentialOutStream** stream,
                                              INT32 askMode) = 0;
  virtual HRESULT STDMETHODCALLTYPE PrepareOperation(INT32 askMode) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetOperationResult(INT32 result) = 0;
};

struct IInArchive : IUnknown {
  // S_OK when the stream is an archive of the handler's format, S_FALSE when
  // it is not.
  virtual HRESULT STDMETHODCALLTYPE Open(IInStream* stream, const UINT64* maxCheckStartPosition,
                                         IArchiveOpenCallback* callback) = 0;
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNumberOfItems(UINT32* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProperty(UINT32 index, PROPID id, PROPVARIANT* value) = 0;
  // `indices` sorted ascending; testMode non-zero checks without writing.
  virtual HRESULT STDMETHODCALLTYPE Extract(const UINT32* indices, UINT32 count, INT32 testMode,
                                            IArchiveExtractCallback* callback) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetArchiveProperty(PROPID id, PROPVARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNumberOfProperties(UINT32* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropertyInfo(UINT32 index, BSTR* name, PROPID* id,
                                                    VARTYPE* type) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNumberOfArchiveProperties(UINT32* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetArchivePropertyInfo(UINT32 index, BSTR* name, PROPID* id,
                                                           VARTYPE* type) = 0;
};

// The library's exported functions.
using CreateObjectFn = HRESULT(WINAPI*)(const GUID* classId, const GUID* iid, void** object);
using GetHandlerProperty2Fn = HRESULT(WINAPI*)(UINT32 formatIndex, PROPID id, PROPVARIANT* value);
using GetHandlerPropertyFn = HRESULT(WINAPI*)(PROPID id, PROPVARIANT* value);
using GetMethodPropertyFn = HRESULT(WINAPI*)(UINT32 methodIndex, PROPID id, PROPVARIANT* value);
using GetNumberOfFormatsFn = HRESULT(WINAPI*)(UINT32* count);
using GetNumberOfMethodsFn = HRESULT(WINAPI*)(UINT32* count);
using SetLargePageModeFn = HRESULT(WINAPI*)();

} // namespace plat::win32::sevenzip
