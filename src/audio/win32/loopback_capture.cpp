#include "audio/win32/loopback_capture.h"

#include <windows.h>
// Before audioclient.h, whose media headers otherwise declare DirectDraw's
// pixel format themselves, which the shared state's ddraw.h then clashes with.
#include <ddraw.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <optional>

#include "audio/loopback_blocks.h"
#include "audio/mix_format.h"
#include "audio/win32/mp3_stream.h"
#include "framework/win32/debug_line.h"
#include "framework/win32/scoped_win.h"
#include "session/win32/recorder_globals.h"

namespace {

// Loopback signals no events before Windows 10 1703: the packets are
// fetched on a timer.
constexpr DWORD kLoopbackPollMs = 10;
// The shared-mode buffer asked for: packets wait there between polls, and
// a second leaves room for a poll that comes late.
constexpr REFERENCE_TIME kBufferDuration100ns = 10000000;
// How long a Start waits to learn whether the device opened; a device
// that answers later is taken as it comes.
constexpr DWORD kOpenWaitMs = 3000;
constexpr REFERENCE_TIME k100nsPerMs = 10000;
constexpr unsigned kBitsPerByte = 8;

enum : uint8_t { kOpenPending, kOpened, kOpenFailed };
// What the sound thread found when it opened the device: written by it,
// read by the recording thread as it starts the session.
std::atomic<uint8_t> openOutcome{kOpenPending};
ScopedHandle openDecided;  // set once openOutcome is known

// COM for the calling thread, in the multithreaded apartment.
class ComApartment {
 public:
  ComApartment() : entered_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (entered_) CoUninitialize();
  }

 private:
  bool entered_;
};

// The performance counter in 100-ns units, the unit packets are stamped in.
uint64_t CounterNow() {
  // The counter's frequency is fixed at boot.
  static const uint64_t f = [] {
    LARGE_INTEGER perSecond;
    QueryPerformanceFrequency(&perSecond);
    return static_cast<uint64_t>(perSecond.QuadPart);
  }();
  LARGE_INTEGER ticks;
  QueryPerformanceCounter(&ticks);
  const auto t = static_cast<uint64_t>(ticks.QuadPart);
  return t / f * kCounterUnitsPerSecond + t % f * kCounterUnitsPerSecond / f;
}

struct CoTaskMemTraits {
  using Handle = WAVEFORMATEX*;
  static Handle Empty() { return nullptr; }
  static bool IsEmpty(Handle h) { return h == nullptr; }
  void Release(Handle h) { CoTaskMemFree(h); }
};

// A loopback stream on the default output device, initialised, not started.
struct LoopbackStream {
  ComPtr<IAudioClient> client;
  ComPtr<IAudioCaptureClient> packets;
  MixFormat format;
  uint32_t bufferFrames = 0;
  uint32_t latencyMs = 0;  // how much later than it is taken the sound is heard
};

LoopbackSupport OpenLoopback(LoopbackStream& stream) {
  ComPtr<IMMDeviceEnumerator> devices;
  if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                              __uuidof(IMMDeviceEnumerator),
                              reinterpret_cast<void**>(devices.Receive())))) {
    return LoopbackSupport::kUnsupported;
  }
  ComPtr<IMMDevice> device;
  if (FAILED(devices.Get()->GetDefaultAudioEndpoint(eRender, eConsole, device.Receive())) ||
      FAILED(device.Get()->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                    reinterpret_cast<void**>(stream.client.Receive())))) {
    return LoopbackSupport::kNoOutputDevice;
  }
  UniqueResource<CoTaskMemTraits> mix;
  if (FAILED(stream.client.Get()->GetMixFormat(mix.Receive()))) {
    return LoopbackSupport::kNoOutputDevice;
  }
  const std::optional<MixFormat> format = ParseMixFormat(
      reinterpret_cast<const uint8_t*>(mix.Get()), sizeof(WAVEFORMATEX) + mix.Get()->cbSize);
  REFERENCE_TIME latency = 0;
  UINT32 bufferFrames = 0;
  // Where loopback is missing (Wine before 9.12) the flag is taken and
  // ignored, and only the capture service is refused.
  if (!format ||
      FAILED(stream.client.Get()->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK,
                                             kBufferDuration100ns, 0, mix.Get(), nullptr)) ||
      FAILED(stream.client.Get()->GetBufferSize(&bufferFrames)) ||
      FAILED(stream.client.Get()->GetService(__uuidof(IAudioCaptureClient),
                                             reinterpret_cast<void**>(stream.packets.Receive())))) {
    return LoopbackSupport::kUnsupported;
  }
  stream.client.Get()->GetStreamLatency(&latency);
  stream.format = *format;
  stream.bufferFrames = bufferFrames;
  stream.latencyMs = static_cast<uint32_t>(latency / k100nsPerMs);
  return LoopbackSupport::kAvailable;
}

// Every packet waiting, into `blocks`; false when the device has gone.
bool TakePackets(IAudioCaptureClient* packets, LoopbackBlocks& blocks) {
  for (;;) {
    UINT32 next = 0;
    if (FAILED(packets->GetNextPacketSize(&next))) return false;
    if (next == 0) return true;
    BYTE* data = nullptr;
    UINT32 frames = 0;
    DWORD flags = 0;
    UINT64 counter = 0;
    const HRESULT got = packets->GetBuffer(&data, &frames, &flags, nullptr, &counter);
    if (FAILED(got)) return false;
    if (got == AUDCLNT_S_BUFFER_EMPTY) return true;
    blocks.AddPacket((flags & AUDCLNT_BUFFERFLAGS_SILENT) ? nullptr : data, frames, counter,
                     (flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0);
    packets->ReleaseBuffer(frames);
  }
}

// Until Stop: packets into one-second blocks, each placed by when its end
// was taken (the counter mapped to the picture's millisecond clock), and
// silence by the clock while nothing comes or once the device has gone.
void Capture(LoopbackStream& stream, SoundOutput& output) {
  ClockMap clock;
  clock.AddPair(CounterNow(), timeGetTime());
  LoopbackBlocks blocks(stream.format, CounterNow(), stream.bufferFrames,
                        [&](const int16_t* pcm, uint32_t frames, uint64_t endCounter) {
                          output.Add(clock.MsAt(endCounter), pcm, frames);
                        });
  bool flowing = true;
  while (g_recorder.audioDone.load() != 0) {
    clock.AddPair(CounterNow(), timeGetTime());
    if (flowing && !TakePackets(stream.packets.Get(), blocks)) {
      flowing = false;
      DebugLine("parvelo computer sound: the output device has gone, silence from here");
    }
    blocks.AddSilenceUntil(CounterNow());
    Sleep(kLoopbackPollMs);
  }
  if (flowing) TakePackets(stream.packets.Get(), blocks);
  blocks.Flush();
}

// Processor time the calling thread has used, kernel and user, in ms.
uint32_t ThreadProcessorMs() {
  FILETIME created, ended, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user)) return 0;
  const auto units = [](const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return static_cast<uint32_t>((units(kernel) + units(user)) / k100nsPerMs);
}

void DecideOpen(uint8_t outcome) {
  openOutcome.store(outcome);
  SetEvent(openDecided.Get());
}

unsigned __stdcall LoopbackThread(void*) {
  ComApartment com;
  LoopbackStream stream;
  if (OpenLoopback(stream) != LoopbackSupport::kAvailable || FAILED(stream.client.Get()->Start())) {
    DecideOpen(kOpenFailed);
    FinishMp3Encoder();
    ReleaseMp3StreamAndSignal();
    return 0;
  }
  DebugLine(
      "parvelo computer sound: %lu Hz, %u channels (mask 0x%lx), %u-bit %s, heard %lu ms "
      "after it is taken",
      static_cast<unsigned long>(stream.format.samplesPerSecond), stream.format.channels,
      static_cast<unsigned long>(stream.format.channelMask),
      stream.format.blockAlign * kBitsPerByte / stream.format.channels,
      stream.format.type == SampleType::kFloat32 ? "float" : "integer",
      static_cast<unsigned long>(stream.latencyMs));
  DecideOpen(kOpened);
  const DWORD startMs = timeGetTime();
  SoundOutput output(stream.latencyMs);
  Capture(stream, output);
  stream.client.Get()->Stop();
  output.Finish();
  // For the benchmarks: what taking, converting and encoding cost.
  DebugLine("parvelo computer sound: %lu ms of processor time in %lu ms",
            static_cast<unsigned long>(ThreadProcessorMs()),
            static_cast<unsigned long>(timeGetTime() - startMs));
  return 0;
}

}  // namespace

unsigned __stdcall LoopbackProbeThread(void*) {
  LoopbackSupport support;
  {
    ComApartment com;
    LoopbackStream stream;
    support = OpenLoopback(stream);
  }
  DebugLine("parvelo computer sound: %s", support == LoopbackSupport::kAvailable ? "can be recorded"
                                          : support == LoopbackSupport::kNoOutputDevice
                                              ? "no output device"
                                              : "no loopback here");
  PostMessageW(g_recorder.mainWindow, WM_LOOPBACK_PROBED, static_cast<WPARAM>(support), 0);
  return 0;
}

AudioStart StartLoopbackCapture() {
  if (!openDecided) openDecided.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  ResetEvent(openDecided.Get());
  openOutcome.store(kOpenPending);
  if (BeginSoundThread(LoopbackThread) == 0) return AudioStart::kNoSound;
  WaitForSingleObject(openDecided.Get(), kOpenWaitMs);
  if (openOutcome.load() == kOpenFailed) {
    PostRecordingNotice(RecordingNotice::kNoComputerSound);
    return AudioStart::kNoSound;
  }
  return AudioStart::kRunning;
}
