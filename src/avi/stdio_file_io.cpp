// AviFileIo on the C runtime's FILE, with 64-bit offsets on both platforms.
#include <cstdio>
#include <string>

#include "avi/avi_writer.h"

#ifdef _WIN32
#include <io.h>

#include "avi/utf16_path.h"
#else
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
FILE* CreateOrTruncate(const char* path) {
  std::u16string wide;
  if (!Utf8ToUtf16(path, &wide)) return nullptr;
  return _wfopen(reinterpret_cast<const wchar_t*>(wide.c_str()), L"wb");
}
bool Seek(FILE* file, uint64_t offset) {
  return fseeko64(file, static_cast<off64_t>(offset), SEEK_SET) == 0;
}
bool PushToDisk(FILE* file) {
  return _commit(_fileno(file)) == 0;
}
#else
static_assert(sizeof(off_t) >= sizeof(uint64_t), "files past 4 GB need a 64-bit off_t");
FILE* CreateOrTruncate(const char* path) {
  return std::fopen(path, "wb");
}
bool Seek(FILE* file, uint64_t offset) {
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}
bool PushToDisk(FILE* file) {
  return fsync(fileno(file)) == 0;
}
#endif

class StdioFileIo final : public AviFileIo {
 public:
  ~StdioFileIo() override { Close(); }

  bool Open(const char* path) override {
    Close();
    file_ = CreateOrTruncate(path);
    position_ = 0;
    return file_ != nullptr;
  }

  bool Write(uint64_t offset, const void* data, size_t bytes) override {
    if (file_ == nullptr) return false;
    // Appends, the common case, need no seek; a seek also empties the
    // stdio buffer, which costs a system call.
    if (offset != position_ && !Seek(file_, offset)) return false;
    position_ = offset + bytes;
    if (std::fwrite(data, 1, bytes, file_) == bytes) return true;
    position_ = kUnknownPosition;
    return false;
  }

  bool Sync() override { return file_ != nullptr && std::fflush(file_) == 0 && PushToDisk(file_); }

  bool Close() override {
    if (file_ == nullptr) return true;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return closed;
  }

 private:
  static constexpr uint64_t kUnknownPosition = ~uint64_t{0};
  FILE* file_ = nullptr;
  uint64_t position_ = 0;
};

}  // namespace

std::shared_ptr<AviFileIo> AviMakeStdioFileIo() {
  return std::make_shared<StdioFileIo>();
}
