#include "platform/win32/Win32ArchiveCallbacks.h"

#include <cstdio>

namespace plat::win32 {

std::string HResultText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  return SystemErrorText(static_cast<DWORD>(hr)) + " (" + code + ")";
}

bool IsMachineFailure(HRESULT hr) {
  if (hr == E_OUTOFMEMORY)
    return true;
  if (HRESULT_FACILITY(hr) != FACILITY_WIN32)
    return false;
  switch (HRESULT_CODE(hr)) {
  case ERROR_DISK_FULL:
  case ERROR_HANDLE_DISK_FULL:
  case ERROR_ACCESS_DENIED:
  case ERROR_SHARING_VIOLATION:
  case ERROR_LOCK_VIOLATION:
  case ERROR_WRITE_FAULT:
  case ERROR_READ_FAULT:
  case ERROR_NOT_ENOUGH_MEMORY:
  case ERROR_OUTOFMEMORY:
  case ERROR_NOT_ENOUGH_QUOTA:
    return true;
  default:
    return false;
  }
}

// --- the archive file ---

HRESULT InFileStream::Failed() {
  DWORD error = GetLastError();
  if (error_ == 0)
    error_ = error;
  return HRESULT_FROM_WIN32(error);
}

HRESULT InFileStream::Read(void* data, UINT32 size, UINT32* processedSize) {
  if (processedSize != nullptr)
    *processedSize = 0;
  if (size == 0)
    return S_OK;
  DWORD read = 0;
  if (!ReadFile(file_.get(), data, size, &read, nullptr))
    return Failed();
  if (processedSize != nullptr)
    *processedSize = read;
  return S_OK;
}

HRESULT InFileStream::Seek(INT64 offset, UINT32 origin, UINT64* newPosition) {
  // The origins have the values of FILE_BEGIN, FILE_CURRENT and FILE_END.
  if (origin > sz::kSeekEnd)
    return STG_E_INVALIDFUNCTION;
  LARGE_INTEGER move;
  move.QuadPart = offset;
  LARGE_INTEGER position;
  // A seek before the start is the reader's doing, not the file's: it is
  // not remembered as a failure of the file.
  if (!SetFilePointerEx(file_.get(), move, &position, origin))
    return HRESULT_FROM_WIN32(GetLastError());
  if (newPosition != nullptr)
    *newPosition = static_cast<UINT64>(position.QuadPart);
  return S_OK;
}

// --- one extracted file ---

HRESULT OutFileStream::Write(const void* data, UINT32 size, UINT32* processedSize) {
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

DWORD OutFileStream::Close() {
  if (!file_.close() && error_ == 0)
    error_ = GetLastError();
  return error_;
}

// --- item properties ---

namespace {

// Where a stored name had a backslash, the Windows build of the library shows
// this private-use character instead, so that it does not read as a
// separator; the separator '/' it shows as '\'.
constexpr wchar_t kStoredBackslash = 0xF05C;

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

} // namespace

std::string ItemPath(sz::IInArchive& archive, uint32_t index) {
  PropVariant value;
  HRESULT hr = archive.GetProperty(index, sz::kpidPath, value.put());
  if (FAILED(hr))
    throw ArchiveError("The archive library cannot tell the name of item " + std::to_string(index) +
                       ". " + HResultText(hr));
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
    throw ArchiveError("The archive library cannot tell the kind of item " + std::to_string(index) +
                       ". " + HResultText(hr));
  return value->vt == VT_BOOL && value->boolVal != VARIANT_FALSE;
}

std::optional<uint64_t> ItemSize(sz::IInArchive& archive, uint32_t index) {
  PropVariant value;
  HRESULT hr = archive.GetProperty(index, sz::kpidSize, value.put());
  if (FAILED(hr))
    throw ArchiveError("The archive library cannot tell the size of item " + std::to_string(index) +
                       ". " + HResultText(hr));
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

// --- extraction ---

HRESULT ExtractCallback::GetStream(UINT32 index, sz::ISequentialOutStream** stream, INT32 askMode) {
  return Guarded([&]() -> HRESULT {
    if (stream == nullptr)
      return E_POINTER;
    *stream = nullptr;
    Abandon();
    if (StopRequested(stop_))
      return E_ABORT;
    // Solid archives also announce the items they decode on the way to a
    // chosen one; those are skipped.
    auto found = targets_.find(index);
    if (askMode != sz::kAskExtract || found == targets_.end())
      return S_OK;
    current_ = index;
    const std::wstring path = Widen(*found->second.path);
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

HRESULT ExtractCallback::SetOperationResult(INT32 result) {
  return Guarded([&]() -> HRESULT {
    if (!current_)
      return S_OK;
    uint32_t index = *current_;
    DWORD writeError = stream_ ? stream_->Close() : 0;
    // The refused write is the real cause; the library may report it as
    // a data error of its own. So is a failed write: the library may take
    // the stream's refusal for a fault of the data.
    if (stream_ && stream_->Overrun()) {
      Abandon();
      return E_ABORT;
    }
    if (writeError != 0) {
      Abandon();
      return E_ABORT;
    }
    if (result != sz::kResultOk) {
      Abandon();
      Fail(Fault::Archive, "Cannot extract " + DescribeItem(index) + " from " +
                               Quoted(archivePath_) + ": " + OperationResultText(result) + ".");
      return E_ABORT;
    }
    stream_.reset();
    current_.reset();
    targets_.at(index).done = true;
    ++written_;
    return S_OK;
  });
}

void ExtractCallback::Finish(HRESULT hr) {
  Abandon();
  if (StopRequested(stop_))
    throw Stopped();
  if (failure_) {
    if (failure_->fault == Fault::Machine)
      throw PlatformError(failure_->message);
    throw ArchiveError(failure_->message);
  }
  if (FAILED(hr)) {
    std::string message = "Cannot extract from " + Quoted(archivePath_) + ". " + HResultText(hr);
    if (IsMachineFailure(hr))
      throw PlatformError(message);
    throw ArchiveError(message);
  }
  for (const auto& [index, target] : targets_)
    if (!target.done)
      throw ArchiveError("The archive library did not extract " + DescribeItem(index) + " from " +
                         Quoted(archivePath_) + ".");
}

void ExtractCallback::Abandon() {
  if (!current_)
    return;
  if (stream_) {
    const uint32_t index = *current_;
    const DWORD writeError = stream_->Close();
    if (stream_->Overrun())
      Fail(Fault::Archive, "Cannot extract " + DescribeItem(index) + " from " +
                               Quoted(archivePath_) + ": it holds more data than its stated size.");
    else if (writeError != 0)
      FailWith("Cannot write the file", index, writeError);
    stream_.reset();
    DeleteFileW(Widen(*targets_.at(index).path).c_str());
  }
  current_.reset();
}

void ExtractCallback::Fail(Fault fault, std::string message) {
  if (!failure_)
    failure_ = Failure{fault, std::move(message)};
}

HRESULT ExtractCallback::FailWith(const char* action, uint32_t index, DWORD error) {
  Fail(Fault::Machine, std::string(action) + " " + Quoted(*targets_.at(index).path) + " for " +
                           DescribeItem(index) + " of " + Quoted(archivePath_) + ". " +
                           SystemErrorText(error));
  return HRESULT_FROM_WIN32(error);
}

// The item's name for a message; its number when even the name is not to be
// had.
std::string ExtractCallback::DescribeItem(uint32_t index) {
  try {
    return Quoted(ItemPath(archive_, index));
  } catch (const ArchiveError&) {
    return "item " + std::to_string(index);
  }
}

} // namespace plat::win32
