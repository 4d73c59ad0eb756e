// AviFileIo on the platform's files. Every write names its position, so
// the writing threads' appends and the sync thread's header updates never
// move a shared file position under each other.
#include <cstdint>
#include <string>

#include "avi/avi_writer.h"

#ifdef _WIN32
#include <windows.h>

#include "avi/utf16_path.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using Handle = HANDLE;
const Handle kNoFile = INVALID_HANDLE_VALUE;
// WriteFile takes a 32-bit count; larger writes go in pieces of this size.
constexpr size_t kMaxPieceBytes = size_t{1} << 30;

Handle CreateOrTruncate(const char* path) {
  std::u16string wide;
  if (!Utf8ToUtf16(path, &wide)) return kNoFile;
  // Readers may open the file while it is being recorded.
  return CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), GENERIC_WRITE, FILE_SHARE_READ,
                     nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}
// Returns the bytes written, 0 on failure.
size_t WriteAt(Handle file, uint64_t offset, const uint8_t* data, size_t bytes) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD written = 0;
  const DWORD piece = static_cast<DWORD>(bytes < kMaxPieceBytes ? bytes : kMaxPieceBytes);
  return WriteFile(file, data, piece, &written, &at) ? written : 0;
}
bool PushToDisk(Handle file) {
  return FlushFileBuffers(file) != 0;
}
bool CloseFile(Handle file) {
  return CloseHandle(file) != 0;
}
#else
static_assert(sizeof(off_t) >= sizeof(uint64_t), "files past 4 GB need a 64-bit off_t");
using Handle = int;
constexpr Handle kNoFile = -1;
constexpr mode_t kNewFileMode = 0644;

Handle CreateOrTruncate(const char* path) {
  return open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kNewFileMode);
}
size_t WriteAt(Handle file, uint64_t offset, const uint8_t* data, size_t bytes) {
  const ssize_t written = pwrite(file, data, bytes, static_cast<off_t>(offset));
  return written > 0 ? static_cast<size_t>(written) : 0;
}
bool PushToDisk(Handle file) {
  return fsync(file) == 0;
}
bool CloseFile(Handle file) {
  return close(file) == 0;
}
#endif

class DiskFileIo final : public AviFileIo {
 public:
  ~DiskFileIo() override { Close(); }

  bool Open(const char* path) override {
    Close();
    file_ = CreateOrTruncate(path);
    return file_ != kNoFile;
  }

  bool Write(uint64_t offset, const void* data, size_t bytes) override {
    if (file_ == kNoFile) return false;
    const auto* next = static_cast<const uint8_t*>(data);
    while (bytes > 0) {
      const size_t written = WriteAt(file_, offset, next, bytes);
      if (written == 0) return false;
      offset += written;
      next += written;
      bytes -= written;
    }
    return true;
  }

  bool Sync() override { return file_ != kNoFile && PushToDisk(file_); }

  bool Close() override {
    if (file_ == kNoFile) return true;
    const bool closed = CloseFile(file_);
    file_ = kNoFile;
    return closed;
  }

 private:
  Handle file_ = kNoFile;
};

}  // namespace

std::shared_ptr<AviFileIo> AviMakeDiskFileIo() {
  return std::make_shared<DiskFileIo>();
}
