// avifile_read.exe FILE FRAMES SOUND_BYTES: opens FILE with the platform's
// AVI file service and reads every sample of every stream, at most FRAMES
// video frames and SOUND_BYTES of sound: the service knows only the first
// RIFF part and stops the process when asked past what that part lists.
// Prints one line for the file,
//   file <AVIFileOpen result> streams <count>
// then one per stream,
//   stream <type> length <dwLength> read <samples> bytes <bytes> keys <key frames> errors <failed
//   reads>
// Exit code 0 once the file opened.
#include <windows.h>
#include <vfw.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Room for the largest chunk a test file holds.
constexpr LONG kReadBufferBytes = 4 * 1024 * 1024;

struct Counts {
  LONG samples = 0;
  LONGLONG bytes = 0;
  LONG keys = 0;
  LONG errors = 0;
};

// Frames one at a time; sound as many samples as fit at once.
Counts ReadAll(PAVISTREAM stream, const AVISTREAMINFOA& info, LONG limit,
               std::vector<BYTE>* buffer) {
  Counts counts;
  const LONG end = std::min(AVIStreamEnd(stream), limit);
  for (LONG position = AVIStreamStart(stream); position < end;) {
    const LONG wanted = info.dwSampleSize == 0 ? 1 : end - position;
    LONG bytes = 0, samples = 0;
    if (AVIStreamRead(stream, position, wanted, buffer->data(), kReadBufferBytes, &bytes,
                      &samples) != AVIERR_OK ||
        samples <= 0) {
      ++counts.errors;
      ++position;
      continue;
    }
    if (info.dwSampleSize == 0 && AVIStreamIsKeyFrame(stream, position)) ++counts.keys;
    counts.samples += samples;
    counts.bytes += bytes;
    position += samples;
  }
  return counts;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: avifile_read FILE FRAMES SOUND_BYTES\n");
    return 2;
  }
  const LONG frameLimit = std::atol(argv[2]), soundLimit = std::atol(argv[3]);
  AVIFileInit();
  PAVIFILE file = nullptr;
  const HRESULT opened = AVIFileOpenA(&file, argv[1], OF_READ | OF_SHARE_DENY_NONE, nullptr);
  AVIFILEINFOA fileInfo = {};
  if (opened == AVIERR_OK) AVIFileInfoA(file, &fileInfo, sizeof fileInfo);
  std::printf("file %ld streams %lu\n", static_cast<long>(opened), fileInfo.dwStreams);
  std::vector<BYTE> buffer(kReadBufferBytes);
  for (DWORD i = 0; opened == AVIERR_OK && i < fileInfo.dwStreams; ++i) {
    PAVISTREAM stream = nullptr;
    if (AVIFileGetStream(file, &stream, 0, static_cast<LONG>(i)) != AVIERR_OK) {
      std::printf("stream none\n");
      continue;
    }
    AVISTREAMINFOA info = {};
    AVIStreamInfoA(stream, &info, sizeof info);
    const Counts counts =
        ReadAll(stream, info, info.dwSampleSize == 0 ? frameLimit : soundLimit, &buffer);
    std::printf("stream %.4s length %lu read %ld bytes %lld keys %ld errors %ld\n",
                reinterpret_cast<const char*>(&info.fccType), info.dwLength, counts.samples,
                counts.bytes, counts.keys, counts.errors);
    AVIStreamRelease(stream);
  }
  if (file != nullptr) AVIFileRelease(file);
  AVIFileExit();
  return opened == AVIERR_OK ? 0 : 1;
}
