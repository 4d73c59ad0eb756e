#include "video/win32/compressed_stream.h"

#include <cstring>
#include <optional>
#include <vector>

#include "video/key_frame_schedule.h"

namespace {

constexpr int32_t kBitmapInfoHeaderBytes = sizeof(BITMAPINFOHEADER);

class CompressedVideoStream final : public AviStream {
 public:
  CompressedVideoStream(AviStream* raw, HIC compressor, const AVICOMPRESSOPTIONS& options)
      : raw_(raw),
        compressor_(compressor),
        keyFrameEvery_((options.dwFlags & AVICOMPRESSF_KEYFRAMES) ? options.dwKeyFrameEvery : 0),
        quality_(options.dwQuality) {}

  ~CompressedVideoStream() override {
    if (begun_) ICCompressEnd(compressor_);
    ICClose(compressor_);
  }

  int Info(AviStreamInfo* info) const override { return raw_->Info(info); }

  void AskKeyFrame() { keyFrameAsked_ = true; }

  int SetFormat(int32_t position, const void* format, int32_t bytes) override {
    if (begun_) return kAviErrorFormat;  // the compressor runs at one format
    if (!format || bytes < kBitmapInfoHeaderBytes) return kAviErrorArgument;
    input_.assign(static_cast<const uint8_t*>(format), static_cast<const uint8_t*>(format) + bytes);
    LONG outputBytes = static_cast<LONG>(ICCompressGetFormatSize(compressor_, Input()));
    if (outputBytes < kBitmapInfoHeaderBytes) return kAviErrorCompressor;
    output_.assign(static_cast<size_t>(outputBytes), 0);
    if (ICCompressGetFormat(compressor_, Input(), Output()) != ICERR_OK ||
        ICCompressBegin(compressor_, Input(), Output()) != ICERR_OK) {
      return kAviErrorCompressor;
    }
    begun_ = true;
    LONG frameBytes = static_cast<LONG>(ICCompressGetSize(compressor_, Input(), Output()));
    frame_.assign(static_cast<size_t>(frameBytes > 0 ? frameBytes : Input()->biSizeImage), 0);
    return raw_->SetFormat(position, output_.data(), outputBytes);
  }

  int Write(int64_t start, int32_t samples, const void* data, int32_t bytes, uint32_t,
            int32_t* samplesWritten, int32_t* bytesWritten) override {
    if (!begun_) return kAviErrorFormat;
    if (!data || samples != 1 || bytes < static_cast<int32_t>(Input()->biSizeImage)) {
      return kAviErrorArgument;
    }
    const bool askKey = keyFrameAsked_ || KeyFrameDue(start, lastKeyPosition_, keyFrameEvery_);
    keyFrameAsked_ = false;
    BITMAPINFOHEADER* out = Output();
    out->biSizeImage = static_cast<DWORD>(frame_.size());
    DWORD chunkId = 0;
    DWORD frameFlags = 0;
    if (ICCompress(compressor_, askKey ? ICCOMPRESS_KEYFRAME : 0, out, frame_.data(), Input(),
                   const_cast<void*>(data), &chunkId, &frameFlags, static_cast<LONG>(start), 0,
                   quality_, nullptr, nullptr) != ICERR_OK) {
      return kAviErrorCompressor;
    }
    // The index records what the compressor made, not what was asked.
    const bool key = (frameFlags & AVIIF_KEYFRAME) != 0;
    if (key) lastKeyPosition_ = start;
    return raw_->Write(start, 1, frame_.data(), static_cast<int32_t>(out->biSizeImage),
                       key ? kAviIfKeyframe : 0, samplesWritten, bytesWritten);
  }

 private:
  BITMAPINFOHEADER* Input() { return reinterpret_cast<BITMAPINFOHEADER*>(input_.data()); }
  BITMAPINFOHEADER* Output() { return reinterpret_cast<BITMAPINFOHEADER*>(output_.data()); }

  AviStream* raw_;
  HIC compressor_;
  const uint32_t keyFrameEvery_;
  const DWORD quality_;
  bool begun_ = false;
  std::vector<uint8_t> input_;   // the frames' BITMAPINFOHEADER
  std::vector<uint8_t> output_;  // the compressed format, as the compressor gave it
  std::vector<uint8_t> frame_;   // one compressed frame, worst case
  std::optional<int64_t> lastKeyPosition_;
  bool keyFrameAsked_ = false;
};

}  // namespace

int AviMakeCompressedStream(AviStream** compressed, AviStream* raw,
                            const AVICOMPRESSOPTIONS* options) {
  if (!compressed || !raw || !options) return kAviErrorArgument;
  *compressed = nullptr;
  AviStreamInfo info;
  if (raw->Info(&info) != kAviOk) return kAviErrorArgument;
  HIC compressor = ICOpen(options->fccType, options->fccHandler, ICMODE_COMPRESS);
  if (!compressor) return kAviErrorCompressor;
  if (options->lpParms && options->cbParms > 0) {
    ICSetState(compressor, options->lpParms, options->cbParms);
  }
  // Frame rate, key-frame interval and quality, as one message.
  ICCOMPRESSFRAMES frames = {};
  frames.lQuality = static_cast<LONG>(options->dwQuality);
  frames.lKeyRate = static_cast<LONG>(options->dwKeyFrameEvery);
  frames.dwRate = info.dwRate;
  frames.dwScale = info.dwScale;
  ICSendMessage(compressor, ICM_COMPRESS_FRAMES_INFO, reinterpret_cast<DWORD_PTR>(&frames),
                sizeof frames);
  *compressed = new CompressedVideoStream(raw, compressor, *options);
  return kAviOk;
}

void AviAskKeyFrame(AviStream* compressed) {
  if (auto* stream = dynamic_cast<CompressedVideoStream*>(compressed)) stream->AskKeyFrame();
}
