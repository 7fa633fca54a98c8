// The streams and callbacks handed to the archive library: the archive file
// it reads, the files it writes, and the item properties read back from it.
//
// What fails is sorted by whose fault it is. The archive's own faults (a data
// or checksum error, an item longer than its stated size, properties the
// library cannot tell) are raised as ArchiveError; this machine's (a file or
// folder that cannot be made or written, the archive file unreadable) as
// PlatformError with the system's reason.
#pragma once

#include "platform/Archive.h"
#include "platform/Platform.h"
#include "platform/win32/Win32ArchiveCom.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace plat::win32 {

namespace sz = sevenzip;

// The archive file, read through the library's seekable input stream.
class InFileStream final : public ComObject<sz::IInStream> {
public:
  explicit InFileStream(KernelHandle file) : file_(std::move(file)) {}

  HRESULT STDMETHODCALLTYPE Read(void* data, UINT32 size, UINT32* processedSize) override;
  HRESULT STDMETHODCALLTYPE Seek(INT64 offset, UINT32 origin, UINT64* newPosition) override;

  // The first failure to read or seek the file; 0 when there was none.
  DWORD Error() const { return error_; }

protected:
  bool Implements(REFIID iid) const override {
    return IsEqualIID(iid, sz::kIidInStream) || IsEqualIID(iid, sz::kIidSequentialInStream);
  }

private:
  HRESULT Failed();

  KernelHandle file_;
  DWORD error_ = 0;
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

  HRESULT STDMETHODCALLTYPE Write(const void* data, UINT32 size, UINT32* processedSize) override;

  // Whether the item's data ran past its stated size.
  bool Overrun() const { return overrun_; }
  // The first failure to write or to close the file; 0 when there was none.
  DWORD Close();

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

// Item properties, read the same way for listing and for messages. Raise
// ArchiveError when the library cannot tell them.
//
// A path comes back in the archive's own spelling: the library's change of
// separators is undone, so that a name reads the same whichever system the
// library runs on, and a backslash stored in a name stays visible as one.
std::string ItemPath(sz::IInArchive& archive, uint32_t index);
bool ItemIsFolder(sz::IInArchive& archive, uint32_t index);
// The unpacked size the archive states for the item; nothing when the
// handler does not tell it.
std::optional<uint64_t> ItemSize(sz::IInArchive& archive, uint32_t index);

// Writes the chosen items to their targets and remembers the first failure.
// The library asks for a stream per item, reports the item's result, and
// stops when a callback fails; the failure is raised once the library has
// returned.
class ExtractCallback final : public ComObject<sz::IArchiveExtractCallback> {
public:
  // The caller's path, which outlives the extraction: widened only when
  // its file is made, so thousands of items are not held twice over.
  struct Target {
    const std::string* path = nullptr;
    bool done = false;
  };

  ExtractCallback(sz::IInArchive& archive, std::string archivePath,
                  std::map<uint32_t, Target> targets)
      : archive_(archive), archivePath_(std::move(archivePath)), targets_(std::move(targets)) {}

  HRESULT STDMETHODCALLTYPE SetTotal(UINT64) override { return S_OK; }
  // The library reports its progress often while it decodes: the place to
  // give up once a stop is requested.
  HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64*) override {
    return StopRequested(stop_) ? E_ABORT : S_OK;
  }
  void StopWhen(const StopFlag* stop) { stop_ = stop; }
  HRESULT STDMETHODCALLTYPE GetStream(UINT32 index, sz::ISequentialOutStream** stream,
                                      INT32 askMode) override;
  HRESULT STDMETHODCALLTYPE PrepareOperation(INT32) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetOperationResult(INT32 result) override;

  // Items written so far; read by another thread than the library's.
  uint64_t Written() const { return written_.load(); }

  // After the library has returned `hr`: raises the first failure, if any
  // (ArchiveError or PlatformError, by whose fault it was), and makes sure
  // every chosen item was written.
  void Finish(HRESULT hr);

protected:
  bool Implements(REFIID iid) const override {
    return IsEqualIID(iid, sz::kIidArchiveExtractCallback) || IsEqualIID(iid, sz::kIidProgress);
  }

private:
  enum class Fault { Archive, Machine };
  struct Failure {
    Fault fault;
    std::string message;
  };

  // No C++ exception may cross into the library. A failure met in a callback
  // is kept for Finish() to raise, and the library is told to stop.
  template <class F> HRESULT Guarded(F&& body) noexcept {
    try {
      return body();
    } catch (const PlatformError& e) {
      Remember(Fault::Machine, e.what());
      return E_FAIL;
    } catch (const std::exception& e) {
      Remember(Fault::Archive, e.what());
      return E_FAIL;
    } catch (...) {
      return E_FAIL;
    }
  }
  void Remember(Fault fault, const char* message) noexcept {
    try {
      Fail(fault, message);
    } catch (...) {
    }
  }

  // Drops an item that did not finish: its partial file goes.
  void Abandon();
  void Fail(Fault fault, std::string message);
  // This machine's failure to make or write the target of item `index`.
  HRESULT FailWith(const char* action, uint32_t index, DWORD error);
  std::string DescribeItem(uint32_t index);

  sz::IInArchive& archive_;
  std::string archivePath_;
  std::map<uint32_t, Target> targets_;
  std::optional<uint32_t> current_;
  ComPtr<OutFileStream> stream_;
  std::optional<Failure> failure_;
  std::atomic<uint64_t> written_{0};
  const StopFlag* stop_ = nullptr;
};

} // namespace plat::win32
