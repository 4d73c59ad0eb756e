// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers. GPL-2.0-or-later; see LICENSE.

// Drives x264vfw.dll through the platform's compressor manager, installed as a function driver
// the way Parvelo installs it, and reports what happened as "key=value" lines for
// tests/e2e/test_codec.py to judge. The DLL must sit in the current folder.
//
//   vfw_codec_check encode   --out PREFIX [picture and state options]
//       writes PREFIX.h264 (the Annex B stream), PREFIX.frames (per call: index, frame
//       number, bytes, key flag, key asked) and PREFIX.rgb (the source pictures, RGB24)
//   vfw_codec_check avi      --out FILE.avi [--gaps a-b,c] [--key-every N] [picture options]
//       the same pictures through AVIFile's compressed stream
//   vfw_codec_check refusals     bad formats, buffers and states, one line each
//   vfw_codec_check protocol     ICINFO and the answers to the other messages
//   vfw_codec_check cycles   --cycles N    open/compress/close N times, reports memory
//   vfw_codec_check instances --out PREFIX  two compressors open and compressing at once
//
// Picture options: --width --height --bits (24|32) --top-down 1 --frames N --rate FPS
// --quality Q (-1: default) --key-rate N (ICM_COMPRESS_FRAMES_INFO) --frames-info 0
// --ask-key i,j,... (ICCOMPRESS_KEYFRAME on those calls) --frame-step N (lFrameNum step).
// State options (after the recorder's own edit, byte 28 = 1 and byte 604 = 0):
// --zero-latency 0|1 --log 0|1 --log-path PATH --preset N --options TEXT --matrix N
// --full-range 0|1.
#include <windows.h>
#include <vfw.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "codec/codec_state.h"
#include "codec_host.h"
#include "synthetic_screen.h"

namespace {

using codec_host::InstalledDriver;
using codec_host::kHandler;
namespace offset = parvelo::codec::state_offset;

constexpr int kExitOk = 0;
constexpr int kExitSetupFailed = 1;
constexpr int kExitUsage = 2;
constexpr LONG kRecorderQuality = 7500;
constexpr int kWarmupCycles = 20;

class Args {
 public:
  Args(int argc, char** argv) {
    for (int i = 2; i + 1 < argc; i += 2) values_[argv[i]] = argv[i + 1];
  }
  std::string Str(const char* name, const char* fallback) const {
    auto found = values_.find(name);
    return found == values_.end() ? fallback : found->second;
  }
  int Int(const char* name, int fallback) const {
    auto found = values_.find(name);
    return found == values_.end() ? fallback : std::atoi(found->second.c_str());
  }
  bool Has(const char* name) const { return values_.count(name) != 0; }
  // "1,5,9" or "3-6,10" as a set of numbers.
  std::set<int> Numbers(const char* name) const {
    std::set<int> numbers;
    std::string text = Str(name, "");
    size_t begin = 0;
    while (begin < text.size()) {
      size_t end = text.find(',', begin);
      if (end == std::string::npos) end = text.size();
      std::string item = text.substr(begin, end - begin);
      size_t dash = item.find('-');
      int first = std::atoi(item.c_str());
      int last = dash == std::string::npos ? first : std::atoi(item.c_str() + dash + 1);
      for (int n = first; n <= last; ++n) numbers.insert(n);
      begin = end + 1;
    }
    return numbers;
  }

 private:
  std::map<std::string, std::string> values_;
};

void Print(const std::string& key, long long value) {
  std::printf("%s=%lld\n", key.c_str(), value);
  std::fflush(stdout);
}

void PrintText(const std::string& key, const std::string& value) {
  std::printf("%s=%s\n", key.c_str(), value.c_str());
  std::fflush(stdout);
}

std::string FourCcText(DWORD fourcc) {
  return std::string(reinterpret_cast<const char*>(&fourcc), sizeof(fourcc));
}

std::string Narrow(const WCHAR* text) {
  std::string out;
  for (; *text != 0; ++text) out += static_cast<char>(*text);
  return out;
}

struct Picture {
  int width, height, bits;
  bool top_down;
  explicit Picture(const Args& a)
      : width(a.Int("--width", 640)),
        height(a.Int("--height", 480)),
        bits(a.Int("--bits", 32)),
        top_down(a.Int("--top-down", 0) != 0) {}
  BITMAPINFOHEADER Header() const { return codec_host::RgbHeader(width, height, bits, top_down); }
  std::vector<uint8_t> Dib(const std::vector<uint8_t>& rgb) const {
    return synthetic_screen::ToDib(rgb, width, height, bits, top_down);
  }
};

// The recorder's own edit of the state it read, then the test's.
std::vector<uint8_t> EditedState(HIC hic, const Args& a) {
  std::vector<uint8_t> state = codec_host::ReadState(hic);
  codec_host::ApplyRecorderEdit(&state);
  if (a.Has("--zero-latency")) state[offset::kZeroLatency] = a.Int("--zero-latency", 1) & 1;
  if (a.Has("--log")) state[offset::kWriteLog] = a.Int("--log", 0) & 1;
  if (a.Has("--log-path")) {
    codec_host::PatchText(&state, offset::kLogPath, a.Str("--log-path", ""));
  }
  if (a.Has("--preset")) codec_host::PatchU32(&state, offset::kPreset, a.Int("--preset", 0));
  if (a.Has("--options")) {
    codec_host::PatchText(&state, offset::kExtraOptions, a.Str("--options", ""));
  }
  if (a.Has("--matrix")) state[offset::kColourMatrix] = static_cast<uint8_t>(a.Int("--matrix", 0));
  if (a.Has("--full-range")) state[offset::kFullRange] = a.Int("--full-range", 0) & 1;
  return state;
}

HIC OpenConfigured(const Args& a, const std::string& prefix) {
  HIC hic = ICOpen(ICTYPE_VIDEO, kHandler, ICMODE_COMPRESS);
  if (hic == nullptr) return nullptr;
  std::vector<uint8_t> state = EditedState(hic, a);
  Print(prefix + "state_size", static_cast<long long>(state.size()));
  Print(prefix + "set_state", ICSetState(hic, state.data(), state.size()));
  if (a.Int("--frames-info", 1) != 0) {
    Print(prefix + "frames_info",
          codec_host::SendFramesInfo(hic, a.Int("--quality", kRecorderQuality),
                                     a.Int("--key-rate", 0), a.Int("--rate", 25), 1));
  }
  return hic;
}

// One compression run's output files.
class RunFiles {
 public:
  explicit RunFiles(const std::string& prefix)
      : stream_(std::fopen((prefix + ".h264").c_str(), "wb")),
        index_(std::fopen((prefix + ".frames").c_str(), "w")),
        source_(std::fopen((prefix + ".rgb").c_str(), "wb")) {}
  ~RunFiles() {
    for (std::FILE* f : {stream_, index_, source_}) {
      if (f != nullptr) std::fclose(f);
    }
  }
  bool ok() const { return stream_ && index_ && source_; }
  void Add(int call, LONG frame_number, const BITMAPINFOHEADER& out, const uint8_t* data,
           DWORD flags, bool asked, const std::vector<uint8_t>& rgb) {
    std::fwrite(data, 1, out.biSizeImage, stream_);
    std::fprintf(index_, "%d,%ld,%lu,%d,%d\n", call, frame_number, out.biSizeImage,
                 (flags & AVIIF_KEYFRAME) ? 1 : 0, asked ? 1 : 0);
    std::fwrite(rgb.data(), 1, rgb.size(), source_);
  }

 private:
  std::FILE* stream_;
  std::FILE* index_;
  std::FILE* source_;
};

// A compressor between ICCompressBegin and ICCompressEnd, with its buffers.
class Session {
 public:
  // Reports every answer as "<prefix>name=value" unless `quiet`.
  Session(HIC hic, const Picture& picture, const std::string& prefix, bool quiet = false)
      : hic_(hic), input_(picture.Header()) {
    auto report = [&](const char* name, long long value) {
      if (!quiet) Print(prefix + name, value);
    };
    report("query", ICCompressQuery(hic, &input_, nullptr));
    LRESULT format_bytes = ICCompressGetFormatSize(hic, &input_);
    report("format_bytes", format_bytes);
    format_.resize(format_bytes > 0 ? format_bytes : sizeof(BITMAPINFOHEADER));
    report("get_format", ICCompressGetFormat(hic, &input_, format_.data()));
    const BITMAPINFOHEADER& out = Output();
    if (!quiet) PrintText(prefix + "out.compression", FourCcText(out.biCompression));
    report("out.width", out.biWidth);
    report("out.height", out.biHeight);
    report("out.bit_count", out.biBitCount);
    report("out.size_image", out.biSizeImage);
    DWORD max_bytes = ICCompressGetSize(hic, &input_, format_.data());
    report("max_frame_bytes", max_bytes);
    buffer_.resize(max_bytes);
    begin_result_ = ICCompressBegin(hic, &input_, format_.data());
    report("begin", begin_result_);
  }
  bool begun() const { return begin_result_ == ICERR_OK; }
  const BITMAPINFOHEADER& Output() const {
    return *reinterpret_cast<const BITMAPINFOHEADER*>(format_.data());
  }
  // Compresses one DIB; the compressed header and data stay in header()/data().
  LRESULT Compress(const std::vector<uint8_t>& dib, LONG frame_number, bool ask_key, DWORD quality,
                   DWORD* flags) {
    header_ = Output();
    DWORD ckid = 0;
    *flags = 0;
    BITMAPINFOHEADER input = input_;
    // ICCompress hands the driver's code back as a DWORD; the error codes
    // are negative LONGs, which only a signed 32-bit reading keeps on x64.
    return static_cast<LONG>(ICCompress(hic_, ask_key ? ICCOMPRESS_KEYFRAME : 0, &header_,
                                        buffer_.data(), &input, const_cast<uint8_t*>(dib.data()),
                                        &ckid, flags, frame_number, 0, quality, nullptr, nullptr));
  }
  const BITMAPINFOHEADER& header() const { return header_; }
  const uint8_t* data() const { return buffer_.data(); }

 private:
  HIC hic_;
  BITMAPINFOHEADER input_;
  std::vector<uint8_t> format_;
  std::vector<uint8_t> buffer_;
  BITMAPINFOHEADER header_{};
  LRESULT begin_result_ = ICERR_ERROR;
};

int RunEncode(const Args& a) {
  InstalledDriver driver;
  Print("install", driver.ok());
  if (!driver.ok()) return kExitSetupFailed;
  HIC hic = OpenConfigured(a, "");
  Print("open", hic != nullptr);
  if (hic == nullptr) return kExitSetupFailed;
  Picture picture(a);
  int frames = a.Int("--frames", 30);
  int step = a.Int("--frame-step", 1);
  DWORD quality = static_cast<DWORD>(a.Int("--quality", kRecorderQuality));
  std::set<int> ask = a.Numbers("--ask-key");
  RunFiles files(a.Str("--out", "out"));
  {
    Session session(hic, picture, "");
    if (!session.begun() || !files.ok()) return kExitSetupFailed;
    int done = 0;
    for (; done < frames; ++done) {
      std::vector<uint8_t> rgb = synthetic_screen::PaintRgb(picture.width, picture.height, done);
      DWORD flags = 0;
      bool asked = ask.count(done) != 0;
      LRESULT result = session.Compress(picture.Dib(rgb), done * step, asked, quality, &flags);
      if (result != ICERR_OK) {
        Print("compress_error", result);
        break;
      }
      files.Add(done, done * step, session.header(), session.data(), flags, asked, rgb);
    }
    Print("frames", done);
  }
  Print("end", ICCompressEnd(hic));
  Print("close", ICClose(hic));
  return kExitOk;
}

int RunAvi(const Args& a) {
  InstalledDriver driver;
  Print("install", driver.ok());
  if (!driver.ok()) return kExitSetupFailed;
  Picture picture(a);
  int frames = a.Int("--frames", 60);
  DWORD rate = a.Int("--rate", 25);
  std::set<int> gaps = a.Numbers("--gaps");

  // The state a program saved from the compressor, with the recorder's edit, handed to
  // AVIFile as the compressor's parameters.
  HIC hic = ICOpen(ICTYPE_VIDEO, kHandler, ICMODE_COMPRESS);
  if (hic == nullptr) return kExitSetupFailed;
  std::vector<uint8_t> state = EditedState(hic, a);
  ICClose(hic);

  AVIFileInit();
  PAVIFILE file = nullptr;
  Print("file_open",
        AVIFileOpenA(&file, a.Str("--out", "out.avi").c_str(), OF_CREATE | OF_WRITE, nullptr));
  if (file == nullptr) return kExitSetupFailed;
  AVISTREAMINFOA info;
  std::memset(&info, 0, sizeof(info));
  info.fccType = streamtypeVIDEO;
  info.fccHandler = kHandler;
  info.dwScale = 1;
  info.dwRate = rate;
  info.dwSuggestedBufferSize = picture.Header().biSizeImage;
  SetRect(&info.rcFrame, 0, 0, picture.width, picture.height);
  PAVISTREAM raw = nullptr;
  Print("create_stream", AVIFileCreateStream(file, &raw, &info));

  AVICOMPRESSOPTIONS options;
  std::memset(&options, 0, sizeof(options));
  options.fccType = streamtypeVIDEO;
  options.fccHandler = kHandler;
  options.dwKeyFrameEvery = a.Int("--key-every", 10);
  options.dwQuality = a.Int("--quality", kRecorderQuality);
  options.dwFlags = AVICOMPRESSF_KEYFRAMES;
  options.lpParms = state.data();
  options.cbParms = state.size();
  PAVISTREAM compressed = nullptr;
  Print("make_compressed", AVIMakeCompressedStream(&compressed, raw, &options, nullptr));
  if (compressed != nullptr) {
    BITMAPINFOHEADER header = picture.Header();
    Print("set_format", AVIStreamSetFormat(compressed, 0, &header, sizeof(header)));
    int written = 0;
    for (int position = 0; position < frames; ++position) {
      if (gaps.count(position) != 0) continue;
      std::vector<uint8_t> dib =
          picture.Dib(synthetic_screen::PaintRgb(picture.width, picture.height, position));
      HRESULT hr =
          AVIStreamWrite(compressed, position, 1, dib.data(), dib.size(), 0, nullptr, nullptr);
      if (FAILED(hr)) {
        Print("write_error_position", position);
        Print("write_error", hr);
        break;
      }
      ++written;
    }
    Print("written", written);
    AVIStreamRelease(compressed);
  }
  if (raw != nullptr) AVIStreamRelease(raw);
  AVIFileRelease(file);
  AVIFileExit();
  return kExitOk;
}

// Bad formats: each answered at query, get-format (size and fill) and begin.
void CheckFormatRefusals(HIC hic) {
  struct Case {
    const char* name;
    std::function<void(BITMAPINFOHEADER&)> damage;
  };
  const Case cases[] = {
      {"odd_width", [](BITMAPINFOHEADER& h) { h = codec_host::RgbHeader(641, 480, 32, false); }},
      {"odd_height", [](BITMAPINFOHEADER& h) { h = codec_host::RgbHeader(640, 481, 24, true); }},
      {"bits8", [](BITMAPINFOHEADER& h) { h = codec_host::RgbHeader(640, 480, 8, false); }},
      {"bits16", [](BITMAPINFOHEADER& h) { h = codec_host::RgbHeader(640, 480, 16, false); }},
      {"compressed", [](BITMAPINFOHEADER& h) { h.biCompression = mmioFOURCC('M', 'J', 'P', 'G'); }},
      {"zero_size", [](BITMAPINFOHEADER& h) { h = codec_host::RgbHeader(0, 0, 32, false); }},
      {"absurd_size",
       [](BITMAPINFOHEADER& h) {
         h.biWidth = 100000;
         h.biHeight = 100000;
       }},
      {"short_image", [](BITMAPINFOHEADER& h) { h.biSizeImage -= 1; }},
  };
  for (const Case& c : cases) {
    BITMAPINFOHEADER input = codec_host::RgbHeader(640, 480, 32, false);
    c.damage(input);
    std::string name = c.name;
    BITMAPINFOHEADER output;
    std::memset(&output, 0, sizeof(output));
    Print(name + ".query", ICCompressQuery(hic, &input, nullptr));
    Print(name + ".get_format_size", ICCompressGetFormat(hic, &input, nullptr));
    Print(name + ".get_format", ICCompressGetFormat(hic, &input, &output));
    BITMAPINFOHEADER good_output = output;
    good_output.biSize = sizeof(good_output);
    good_output.biWidth = input.biWidth;
    good_output.biHeight = input.biHeight;
    good_output.biCompression = mmioFOURCC('H', '2', '6', '4');
    Print(name + ".begin", ICCompressBegin(hic, &input, &good_output));
  }
}

// Bad calls once a good run has begun, then a good frame to show nothing broke.
void CheckCompressRefusals(HIC hic) {
  Picture picture{Args(0, nullptr)};
  std::vector<uint8_t> dib =
      picture.Dib(synthetic_screen::PaintRgb(picture.width, picture.height, 0));
  Session session(hic, picture, "good.");
  BITMAPINFOHEADER input = picture.Header();
  BITMAPINFOHEADER output = session.Output();
  std::vector<uint8_t> buffer(output.biSizeImage);
  DWORD flags = 0, ckid = 0;
  auto request = [&]() {
    ICCOMPRESS c;
    std::memset(&c, 0, sizeof(c));
    c.lpbiOutput = &output;
    c.lpOutput = buffer.data();
    c.lpbiInput = &input;
    c.lpInput = dib.data();
    c.lpckid = &ckid;
    c.lpdwFlags = &flags;
    c.dwQuality = kRecorderQuality;
    return c;
  };
  auto send = [&](const ICCOMPRESS& c, DWORD size) {
    ICCOMPRESS copy = c;
    return ICSendMessage(hic, ICM_COMPRESS, reinterpret_cast<DWORD_PTR>(&copy), size);
  };
  struct Case {
    const char* name;
    std::function<void(ICCOMPRESS&)> damage;
  };
  BITMAPINFOHEADER short_input = input;
  short_input.biSizeImage -= 4;
  BITMAPINFOHEADER other_size = codec_host::RgbHeader(320, 240, 32, false);
  BITMAPINFOHEADER other_depth = codec_host::RgbHeader(640, 480, 24, false);
  BITMAPINFOHEADER flipped = codec_host::RgbHeader(640, 480, 32, true);
  const Case cases[] = {
      {"null_input_bits", [](ICCOMPRESS& c) { c.lpInput = nullptr; }},
      {"null_input_header", [](ICCOMPRESS& c) { c.lpbiInput = nullptr; }},
      {"null_output_bits", [](ICCOMPRESS& c) { c.lpOutput = nullptr; }},
      {"null_output_header", [](ICCOMPRESS& c) { c.lpbiOutput = nullptr; }},
      {"short_input_image", [&](ICCOMPRESS& c) { c.lpbiInput = &short_input; }},
      {"other_size_input", [&](ICCOMPRESS& c) { c.lpbiInput = &other_size; }},
      {"other_depth_input", [&](ICCOMPRESS& c) { c.lpbiInput = &other_depth; }},
      {"flipped_input", [&](ICCOMPRESS& c) { c.lpbiInput = &flipped; }},
  };
  for (const Case& c : cases) {
    ICCOMPRESS damaged = request();
    c.damage(damaged);
    Print(std::string(c.name), send(damaged, sizeof(ICCOMPRESS)));
  }
  Print("short_request_size", send(request(), sizeof(ICCOMPRESS) - sizeof(DWORD)));
  Print("null_request", ICSendMessage(hic, ICM_COMPRESS, 0, sizeof(ICCOMPRESS)));
  Print("null_frames_info", ICSendMessage(hic, ICM_COMPRESS_FRAMES_INFO, 0, 0));
  Print("good_after_refusals", send(request(), sizeof(ICCOMPRESS)));
  Print("good_after_refusals.bytes", output.biSizeImage);
  Print("good_after_refusals.key", (flags & AVIIF_KEYFRAME) != 0);
  ICCompressEnd(hic);
  Print("compress_after_end", send(request(), sizeof(ICCOMPRESS)));
}

void CheckStateRefusals(HIC hic) {
  std::vector<uint8_t> defaults = codec_host::ReadState(hic);
  std::vector<uint8_t> accepted = defaults;
  codec_host::PatchU32(&accepted, offset::kDefaultQuality, 6000);
  Print("state.good", ICSetState(hic, accepted.data(), accepted.size()));
  std::vector<uint8_t> small(defaults.size() - 1);
  Print("state.get_small_buffer", ICGetState(hic, small.data(), small.size()));

  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  const Case cases[] = {
      {"state.short", [](std::vector<uint8_t>& s) { s.pop_back(); }},
      {"state.long", [](std::vector<uint8_t>& s) { s.push_back(0); }},
      {"state.version",
       [](std::vector<uint8_t>& s) { codec_host::PatchU32(&s, offset::kVersion, 2); }},
      {"state.magic", [](std::vector<uint8_t>& s) { s[offset::kMagic] = 'Q'; }},
      {"state.preset",
       [](std::vector<uint8_t>& s) { codec_host::PatchU32(&s, offset::kPreset, 10); }},
      {"state.flag", [](std::vector<uint8_t>& s) { s[offset::kZeroLatency] = 7; }},
      {"state.options",
       [](std::vector<uint8_t>& s) {
         codec_host::PatchText(&s, offset::kExtraOptions, "no-such-option=1");
       }},
      {"state.option_value",
       [](std::vector<uint8_t>& s) {
         codec_host::PatchText(&s, offset::kExtraOptions, "me=warp");
       }},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> state = defaults;
    c.damage(state);
    Print(c.name, ICSetState(hic, state.data(), state.size()));
  }
  Print("state.kept_after_refusals", codec_host::ReadState(hic) == accepted);
  Print("state.null", ICSetState(hic, nullptr, 0));
  Print("state.null_resets", codec_host::ReadState(hic) == defaults);
}

int RunRefusals() {
  InstalledDriver driver;
  Print("install", driver.ok());
  HIC hic = ICOpen(ICTYPE_VIDEO, kHandler, ICMODE_COMPRESS);
  Print("open", hic != nullptr);
  if (!driver.ok() || hic == nullptr) return kExitSetupFailed;
  {
    Picture picture{Args(0, nullptr)};
    std::vector<uint8_t> dib =
        picture.Dib(synthetic_screen::PaintRgb(picture.width, picture.height, 0));
    BITMAPINFOHEADER input = picture.Header();
    BITMAPINFOHEADER output = input;
    std::vector<uint8_t> buffer(1 << 20);
    DWORD flags = 0, ckid = 0;
    Print("compress_before_begin",
          static_cast<LONG>(ICCompress(hic, 0, &output, buffer.data(), &input, dib.data(), &ckid,
                                       &flags, 0, 0, kRecorderQuality, nullptr, nullptr)));
  }
  CheckFormatRefusals(hic);
  CheckCompressRefusals(hic);
  CheckStateRefusals(hic);
  Print("close", ICClose(hic));
  return kExitOk;
}

int RunProtocol() {
  InstalledDriver driver;
  Print("install", driver.ok());
  HIC hic = ICOpen(ICTYPE_VIDEO, kHandler, ICMODE_COMPRESS);
  Print("open", hic != nullptr);
  if (!driver.ok() || hic == nullptr) return kExitSetupFailed;
  ICINFO info;
  std::memset(&info, 0, sizeof(info));
  Print("info.result", ICGetInfo(hic, &info, sizeof(info)));
  Print("info.size", info.dwSize);
  PrintText("info.type", FourCcText(info.fccType));
  PrintText("info.handler", FourCcText(info.fccHandler));
  Print("info.flags", info.dwFlags);
  Print("info.version_icm", info.dwVersionICM);
  PrintText("info.name", Narrow(info.szName));
  PrintText("info.description", Narrow(info.szDescription));
  Print("info.short_buffer", ICGetInfo(hic, &info, sizeof(info) - 1));
  Print("state_size", ICGetStateSize(hic));
  DWORD value = 0;
  Print("default_quality.result",
        ICSendMessage(hic, ICM_GETDEFAULTQUALITY, reinterpret_cast<DWORD_PTR>(&value), 0));
  Print("default_quality", value);
  Print("default_key_rate.result",
        ICSendMessage(hic, ICM_GETDEFAULTKEYFRAMERATE, reinterpret_cast<DWORD_PTR>(&value), 0));
  Print("default_key_rate", value);
  Print("set_quality", ICSendMessage(hic, ICM_SETQUALITY, 4200, 0));
  ICSendMessage(hic, ICM_GETQUALITY, reinterpret_cast<DWORD_PTR>(&value), 0);
  Print("quality", value);
  Print("set_quality_too_high", ICSendMessage(hic, ICM_SETQUALITY, 10001, 0));
  Print("query_configure", ICQueryConfigure(hic));
  Print("query_about", ICQueryAbout(hic));
  Print("configure", ICSendMessage(hic, ICM_CONFIGURE, 0, 0));
  Print("about", ICSendMessage(hic, ICM_ABOUT, 0, 0));
  Print("unknown_message", ICSendMessage(hic, ICM_USER + 200, 0, 0));
  Print("decompress_query", ICSendMessage(hic, ICM_DECOMPRESS_QUERY, 0, 0));

  // A second instance keeps its own state while the first changes.
  HIC other = ICOpen(ICTYPE_VIDEO, kHandler, ICMODE_COMPRESS);
  Print("second_open", other != nullptr);
  std::vector<uint8_t> state = codec_host::ReadState(hic);
  codec_host::PatchU32(&state, offset::kDefaultQuality, 3000);
  ICSetState(hic, state.data(), state.size());
  ICSendMessage(other, ICM_GETDEFAULTQUALITY, reinterpret_cast<DWORD_PTR>(&value), 0);
  Print("second_default_quality", value);
  ICSendMessage(hic, ICM_GETDEFAULTQUALITY, reinterpret_cast<DWORD_PTR>(&value), 0);
  Print("first_default_quality", value);
  Print("second_close", ICClose(other));

  HIC decompressor = ICOpen(ICTYPE_VIDEO, kHandler, ICMODE_DECOMPRESS);
  Print("open_decompress", decompressor != nullptr);
  if (decompressor != nullptr) ICClose(decompressor);
  HIC query = ICOpen(ICTYPE_VIDEO, kHandler, ICMODE_QUERY);
  Print("open_query", query != nullptr);
  if (query != nullptr) ICClose(query);
  Print("close", ICClose(hic));
  return kExitOk;
}

int RunCycles(const Args& a) {
  InstalledDriver driver;
  Print("install", driver.ok());
  if (!driver.ok()) return kExitSetupFailed;
  Picture picture(a);
  int cycles = a.Int("--cycles", 200);
  std::vector<uint8_t> dib =
      picture.Dib(synthetic_screen::PaintRgb(picture.width, picture.height, 0));
  size_t after_warmup = 0;
  int failures = 0;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    if (cycle == kWarmupCycles) after_warmup = codec_host::PrivateBytes();
    HIC hic = ICOpen(ICTYPE_VIDEO, kHandler, ICMODE_COMPRESS);
    if (hic == nullptr) {
      ++failures;
      continue;
    }
    std::vector<uint8_t> state = EditedState(hic, a);
    ICSetState(hic, state.data(), state.size());
    codec_host::SendFramesInfo(hic, kRecorderQuality, 10, 25, 1);
    {
      Session session(hic, picture, "", true);
      DWORD flags = 0;
      for (int frame = 0; frame < 2; ++frame) {
        if (session.Compress(dib, frame, false, kRecorderQuality, &flags) != ICERR_OK) {
          ++failures;
        }
      }
    }
    // Every other run skips the end: closing must free the encoder too.
    if (cycle % 2 == 0) ICCompressEnd(hic);
    ICClose(hic);
  }
  size_t at_end = codec_host::PrivateBytes();
  Print("failures", failures);
  Print("private_bytes_after_warmup", static_cast<long long>(after_warmup));
  Print("private_bytes_at_end", static_cast<long long>(at_end));
  Print("growth_bytes", static_cast<long long>(at_end) - static_cast<long long>(after_warmup));
  Print("measured_cycles", cycles - kWarmupCycles);
  return kExitOk;
}

int RunInstances(const Args& a) {
  InstalledDriver driver;
  Print("install", driver.ok());
  if (!driver.ok()) return kExitSetupFailed;
  Picture picture(a);
  std::string prefix = a.Str("--out", "out");
  int frames = a.Int("--frames", 20);
  struct Instance {
    const char* name;
    DWORD quality;
    int close_after;
  } instances[] = {{"a", 2000, frames / 2}, {"b", 9500, frames}};
  HIC hics[2] = {};
  std::unique_ptr<Session> sessions[2];
  std::unique_ptr<RunFiles> files[2];
  for (int i = 0; i < 2; ++i) {
    std::string name = instances[i].name;
    hics[i] = OpenConfigured(a, name + ".");
    if (hics[i] == nullptr) return kExitSetupFailed;
    sessions[i] = std::make_unique<Session>(hics[i], picture, name + ".");
    files[i] = std::make_unique<RunFiles>(prefix + "-" + name);
  }
  for (int frame = 0; frame < frames; ++frame) {
    std::vector<uint8_t> rgb = synthetic_screen::PaintRgb(picture.width, picture.height, frame);
    std::vector<uint8_t> dib = picture.Dib(rgb);
    for (int i = 0; i < 2; ++i) {
      if (!sessions[i]) continue;
      DWORD flags = 0;
      LRESULT result = sessions[i]->Compress(dib, frame, false, instances[i].quality, &flags);
      if (result != ICERR_OK) Print(std::string(instances[i].name) + ".compress_error", result);
      files[i]->Add(frame, frame, sessions[i]->header(), sessions[i]->data(), flags, false, rgb);
      if (frame + 1 == instances[i].close_after) {
        // Closed while compressing, without ICCompressEnd: the other one must not notice.
        sessions[i].reset();
        Print(std::string(instances[i].name) + ".close", ICClose(hics[i]));
      }
    }
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vfw_codec_check encode|avi|refusals|protocol|cycles|instances\n");
    return kExitUsage;
  }
  std::string mode = argv[1];
  Args args(argc, argv);
  if (mode == "encode") return RunEncode(args);
  if (mode == "avi") return RunAvi(args);
  if (mode == "refusals") return RunRefusals();
  if (mode == "protocol") return RunProtocol();
  if (mode == "cycles") return RunCycles(args);
  if (mode == "instances") return RunInstances(args);
  std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
  return kExitUsage;
}
