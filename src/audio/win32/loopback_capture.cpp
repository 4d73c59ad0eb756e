#include "audio/win32/loopback_capture.h"

#include <windows.h>
// Before audioclient.h, whose media headers otherwise declare DirectDraw's
// pixel format themselves, which the shared state's ddraw.h then clashes with.
#include <ddraw.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <optional>

#include "audio/device_retry.h"
#include "audio/loopback_blocks.h"
#include "audio/mix_format.h"
#include "audio/win32/mp3_stream.h"
#include "framework/win32/debug_line.h"
#include "framework/win32/scoped_win.h"
#include "session/win32/recorder_globals.h"

namespace {

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

ComPtr<IMMDeviceEnumerator> DeviceEnumerator() {
  ComPtr<IMMDeviceEnumerator> devices;
  CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                   reinterpret_cast<void**>(devices.Receive()));
  return devices;
}

// A loopback stream on the default output device, initialised, not started.
struct LoopbackStream {
  ComPtr<IAudioClient> client;
  ComPtr<IAudioCaptureClient> packets;
  MixFormat format;
  uint32_t bufferFrames = 0;
};

LoopbackSupport OpenLoopback(IMMDeviceEnumerator* devices, LoopbackStream& stream) {
  if (!devices) return LoopbackSupport::kUnsupported;
  ComPtr<IMMDevice> device;
  if (FAILED(devices->GetDefaultAudioEndpoint(eRender, eConsole, device.Receive())) ||
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
  stream.format = *format;
  stream.bufferFrames = bufferFrames;
  return LoopbackSupport::kAvailable;
}

// Every packet waiting, into `blocks`; false when the device has gone
// (unplugged, disabled, its format changed: AUDCLNT_E_DEVICE_INVALIDATED).
bool TakePackets(const LoopbackStream& stream, LoopbackBlocks& blocks) {
  // Asked on every poll, since a stream whose device has gone may go on
  // saying that no packet waits (Wine's does, until a packet is asked for).
  UINT32 waiting = 0;
  if (FAILED(stream.client.Get()->GetCurrentPadding(&waiting))) return false;
  IAudioCaptureClient* packets = stream.packets.Get();
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

void ReportFormat(const LoopbackStream& stream) {
  DebugLine("parvelo computer sound: %lu Hz, %u channels (mask 0x%lx), %u-bit %s",
            static_cast<unsigned long>(stream.format.samplesPerSecond), stream.format.channels,
            static_cast<unsigned long>(stream.format.channelMask),
            stream.format.blockAlign * kBitsPerByte / stream.format.channels,
            stream.format.type == SampleType::kFloat32 ? "float" : "integer");
}

// Hears the system say that the default output device is another one. Its
// calls come on a thread of the system's: they only raise a flag, which
// the sound thread takes at its next poll.
class DeviceWatch final : public IMMNotificationClient {
 public:
  bool TakeChange() { return changed_.exchange(false); }

  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    if (id != __uuidof(IUnknown) && id != __uuidof(IMMNotificationClient)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IMMNotificationClient*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override {
    if (flow == eRender && role == eConsole) changed_.store(true);
    return S_OK;
  }
  // A device that goes away, or whose format changes, fails the stream
  // itself (AUDCLNT_E_DEVICE_INVALIDATED): nothing more to hear here.
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
    return S_OK;
  }

 private:
  std::atomic<ULONG> references_{1};
  std::atomic<bool> changed_{false};
};

void DecideOpen(uint8_t outcome) {
  openOutcome.store(outcome);
  SetEvent(openDecided.Get());
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

unsigned __stdcall LoopbackThread(void*) {
  ComApartment com;
  LoopbackInput loopback;
  if (!loopback.Open()) {
    FinishMp3Encoder();
    ReleaseMp3StreamAndSignal();
    return 0;
  }
  const DWORD startMs = timeGetTime();
  SoundOutput output(1);
  loopback.Start(output, SoundOutput::kOnlySource);
  // Loopback signals no events before Windows 10 1703: the packets are
  // fetched on a timer.
  while (g_recorder.audioDone.load() != 0) {
    loopback.Poll();
    Sleep(kSoundPollMs);
  }
  loopback.Finish();
  output.Finish();
  // For the benchmarks: what taking, converting and encoding cost.
  DebugLine("parvelo computer sound: %lu ms of processor time in %lu ms",
            static_cast<unsigned long>(ThreadProcessorMs()),
            static_cast<unsigned long>(timeGetTime() - startMs));
  return 0;
}

}  // namespace

struct LoopbackInput::State {
  ComPtr<IMMDeviceEnumerator> devices = DeviceEnumerator();
  ComPtr<DeviceWatch> watch{new DeviceWatch};
  bool watching = false;
  LoopbackStream stream;
  bool flowing = false;  // the stream runs and hands packets over
  DeviceRetry retry;
  ClockMap clock;
  std::optional<LoopbackBlocks> blocks;

  // The stream's packets stop: the device has gone, or another one is the
  // default now.
  void Lose(const char* why) {
    DebugLine("parvelo computer sound: at %lu ms %s, silence until it can be recorded again",
              static_cast<unsigned long>(timeGetTime()), why);
    if (stream.client) stream.client.Get()->Stop();
    stream = LoopbackStream();
    flowing = false;
  }
  void Reopen() {
    if (OpenLoopback(devices.Get(), stream) != LoopbackSupport::kAvailable ||
        FAILED(stream.client.Get()->Start())) {
      // In use in exclusive mode (AUDCLNT_E_DEVICE_IN_USE), or no device.
      stream = LoopbackStream();
      retry.Failed(timeGetTime());
      return;
    }
    ReportFormat(stream);
    blocks->Restart(stream.format, stream.bufferFrames);
    retry.Opened();
    flowing = true;
  }
};

LoopbackInput::LoopbackInput() : state_(std::make_unique<State>()) {
  if (state_->devices) {
    state_->watching =
        SUCCEEDED(state_->devices.Get()->RegisterEndpointNotificationCallback(state_->watch.Get()));
  }
}

LoopbackInput::~LoopbackInput() {
  if (state_->watching) {
    state_->devices.Get()->UnregisterEndpointNotificationCallback(state_->watch.Get());
  }
}

bool LoopbackInput::Open() {
  const bool opened =
      OpenLoopback(state_->devices.Get(), state_->stream) == LoopbackSupport::kAvailable &&
      SUCCEEDED(state_->stream.client.Get()->Start());
  DecideOpen(opened ? kOpened : kOpenFailed);
  if (opened) ReportFormat(state_->stream);
  state_->flowing = opened;
  return opened;
}

// Each block is placed by when its end was taken from the mix, as the
// system stamps it: the counter mapped to the picture's millisecond clock.
// What the speakers add after that is reported by no call.
void LoopbackInput::Start(SoundOutput& output, size_t source) {
  State& s = *state_;
  s.clock.AddPair(CounterNow(), timeGetTime());
  s.blocks.emplace(s.stream.format, CounterNow(), s.stream.bufferFrames,
                   [&s, &output, source](const int16_t* pcm, uint32_t frames, uint64_t endCounter) {
                     output.Add(source, s.clock.MsAt(endCounter), pcm, frames);
                   });
}

void LoopbackInput::Poll() {
  State& s = *state_;
  s.clock.AddPair(CounterNow(), timeGetTime());
  if (s.watch.Get()->TakeChange()) {
    if (s.flowing) s.Lose("another output device is the default");
    s.retry.Announced(timeGetTime());
  }
  if (s.flowing && !TakePackets(s.stream, *s.blocks)) {
    s.Lose("the output device has gone");
    s.retry.Failed(timeGetTime());
  }
  if (!s.flowing && s.retry.Due(timeGetTime())) s.Reopen();
  s.blocks->AddSilenceUntil(CounterNow());
}

void LoopbackInput::Finish() {
  State& s = *state_;
  if (s.flowing) {
    TakePackets(s.stream, *s.blocks);
    s.stream.client.Get()->Stop();
  }
  s.blocks->Flush();
}

ComApartment::ComApartment() : entered_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}

ComApartment::~ComApartment() {
  if (entered_) CoUninitialize();
}

void ExpectLoopbackOpen() {
  if (!openDecided) openDecided.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  ResetEvent(openDecided.Get());
  openOutcome.store(kOpenPending);
}

bool AwaitLoopbackOpen() {
  WaitForSingleObject(openDecided.Get(), kOpenWaitMs);
  return openOutcome.load() != kOpenFailed;
}

unsigned __stdcall LoopbackProbeThread(void*) {
  LoopbackSupport support;
  {
    ComApartment com;
    LoopbackStream stream;
    support = OpenLoopback(DeviceEnumerator().Get(), stream);
  }
  DebugLine("parvelo computer sound: %s", support == LoopbackSupport::kAvailable ? "can be recorded"
                                          : support == LoopbackSupport::kNoOutputDevice
                                              ? "no output device"
                                              : "no loopback here");
  PostMessageW(g_recorder.mainWindow, WM_LOOPBACK_PROBED, static_cast<WPARAM>(support), 0);
  return 0;
}

AudioStart StartLoopbackCapture() {
  ExpectLoopbackOpen();
  if (BeginSoundThread(LoopbackThread) == 0) return AudioStart::kNoSound;
  if (!AwaitLoopbackOpen()) {
    PostRecordingNotice(RecordingNotice::kNoComputerSound);
    return AudioStart::kNoSound;
  }
  return AudioStart::kRunning;
}
