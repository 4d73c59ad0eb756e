// MP3 encoding speed of the static LAME that parvelo.exe links, set up as the
// recorder sets it up (44.1 kHz 16-bit stereo in, everything else LAME's
// defaults: 128 kbit/s CBR, quality 3) and fed in one-second buffers as the
// recorder's audio thread feeds it. Run under Wine by bench/audio_bench.sh.
//
//   mp3_encode_bench [SECONDS] [RUNS] [OUT_PREFIX]
//
// For each generated signal, encodes SECONDS of audio RUNS times and prints
// the best run as key=value lines, one signal per line:
//   signal=tone seconds=60 wall_s=0.812 cpu_s=0.810 times_real_time=73.9
//   cpu_times_real_time=74.1 kbit_per_second=128.0
// (all on one line).
// With OUT_PREFIX, the last run's MP3 of each signal is written to
// OUT_PREFIX-<signal>.mp3, for a check of its format with ffprobe, and the
// signal itself to OUT_PREFIX-<signal>.pcm (raw s16le stereo), for timing
// another encoder on the same input.
#include <windows.h>

#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr int kSampleRate = 44100;
constexpr int kChannels = 2;
// The recorder hands LAME one second of sound at a time.
constexpr int kFramesPerBuffer = kSampleRate;
// LAME's own bound on its output: 1.25 bytes a sample frame plus 7200.
constexpr int kMp3BytesPerFourFrames = 5;
constexpr int kMp3SlackBytes = 7200;
constexpr int kDefaultSeconds = 60;
constexpr int kDefaultRuns = 3;

constexpr double kPi = 3.14159265358979323846;
constexpr double kFullScale = 32767.0;
// What the tests' fake microphone plays: a 1 kHz sine at half scale.
constexpr double kToneHz = 1000.0;
constexpr double kToneAmplitude = 0.5;
// A busier signal, nearer speech or music: a chord whose notes swell and fade
// at different slow rates, different in each ear, over low noise.
constexpr double kChordHz[] = {220.0, 277.2, 329.6, 440.0, 659.3, 1318.5, 3520.0};
constexpr double kChordAmplitude = 0.09;
constexpr double kSwellHz = 0.7;
constexpr double kNoiseAmplitude = 0.03;
constexpr uint32_t kNoiseSeed = 12345;
// Numerical Recipes' linear congruential generator: same noise on every run.
constexpr uint32_t kLcgMultiplier = 1664525;
constexpr uint32_t kLcgIncrement = 1013904223;
constexpr double kLcgRange = 4294967296.0;

constexpr double kHundredNanosecondsPerSecond = 1e7;
constexpr double kBitsPerKilobit = 1000.0 / 8.0;

using Samples = std::vector<int16_t>;  // interleaved left, right

int16_t ToSample(double value) {
  return static_cast<int16_t>(std::lround(std::max(-1.0, std::min(1.0, value)) * kFullScale));
}

Samples Tone(int frames) {
  Samples samples(static_cast<size_t>(frames) * kChannels);
  for (int i = 0; i < frames; ++i) {
    const int16_t value = ToSample(kToneAmplitude * std::sin(2 * kPi * kToneHz * i / kSampleRate));
    samples[2 * i] = value;
    samples[2 * i + 1] = value;
  }
  return samples;
}

Samples Mixed(int frames) {
  Samples samples(static_cast<size_t>(frames) * kChannels);
  uint32_t noise = kNoiseSeed;
  const int notes = static_cast<int>(sizeof kChordHz / sizeof kChordHz[0]);
  for (int i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kSampleRate;
    for (int channel = 0; channel < kChannels; ++channel) {
      double value = 0.0;
      for (int n = 0; n < notes; ++n) {
        const double swell =
            0.5 + 0.5 * std::sin(2 * kPi * kSwellHz * t * (n + 1) / notes + channel);
        value += kChordAmplitude * swell * std::sin(2 * kPi * kChordHz[n] * t + n + channel);
      }
      noise = noise * kLcgMultiplier + kLcgIncrement;
      value += kNoiseAmplitude * (2.0 * noise / kLcgRange - 1.0);
      samples[kChannels * i + channel] = ToSample(value);
    }
  }
  return samples;
}

double ThreadCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0.0;
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) /
           kHundredNanosecondsPerSecond;
  };
  return seconds(kernel) + seconds(user);
}

double WallSeconds() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Run {
  double wall = 0.0;
  double cpu = 0.0;
  std::vector<unsigned char> mp3;
};

// One encoding of the whole signal, as the recorder does it: init, one call
// per one-second buffer, flush.
bool Encode(const Samples& samples, Run* run) {
  std::vector<unsigned char> buffer(kFramesPerBuffer * kMp3BytesPerFourFrames / 4 + kMp3SlackBytes);
  run->mp3.clear();
  const double wallStart = WallSeconds();
  const double cpuStart = ThreadCpuSeconds();
  lame_global_flags* flags = lame_init();
  if (flags == nullptr) return false;
  lame_set_in_samplerate(flags, kSampleRate);
  lame_set_num_channels(flags, kChannels);
  if (lame_init_params(flags) < 0) {
    lame_close(flags);
    return false;
  }
  const int frames = static_cast<int>(samples.size() / kChannels);
  for (int done = 0; done < frames; done += kFramesPerBuffer) {
    const int count = std::min(kFramesPerBuffer, frames - done);
    const int bytes = lame_encode_buffer_interleaved(
        flags, const_cast<short*>(samples.data() + static_cast<size_t>(done) * kChannels), count,
        buffer.data(), static_cast<int>(buffer.size()));
    if (bytes < 0) {
      lame_close(flags);
      return false;
    }
    run->mp3.insert(run->mp3.end(), buffer.begin(), buffer.begin() + bytes);
  }
  const int bytes = lame_encode_flush(flags, buffer.data(), static_cast<int>(buffer.size()));
  lame_close(flags);
  if (bytes < 0) return false;
  run->mp3.insert(run->mp3.end(), buffer.begin(), buffer.begin() + bytes);
  run->cpu = ThreadCpuSeconds() - cpuStart;
  run->wall = WallSeconds() - wallStart;
  return true;
}

bool WriteFile(const std::string& path, const void* bytes, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : kDefaultSeconds;
  const int runs = argc > 2 ? std::atoi(argv[2]) : kDefaultRuns;
  const char* outPrefix = argc > 3 ? argv[3] : nullptr;
  if (seconds <= 0 || runs <= 0) {
    std::fprintf(stderr, "usage: mp3_encode_bench [SECONDS] [RUNS] [OUT_PREFIX]\n");
    return kExitUsage;
  }
  const int frames = seconds * kSampleRate;
  struct Signal {
    const char* name;
    Samples samples;
  };
  const Signal signals[] = {{"tone", Tone(frames)}, {"mixed", Mixed(frames)}};

  for (const Signal& signal : signals) {
    Run best, run;
    for (int i = 0; i < runs; ++i) {
      if (!Encode(signal.samples, &run)) {
        std::fprintf(stderr, "LAME failed on the %s signal\n", signal.name);
        return kExitFailed;
      }
      // Best of the runs: other work on the machine only ever slows a run.
      if (i == 0 || run.wall < best.wall) best = run;
    }
    std::printf(
        "signal=%s seconds=%d wall_s=%.3f cpu_s=%.3f times_real_time=%.1f "
        "cpu_times_real_time=%.1f kbit_per_second=%.1f\n",
        signal.name, seconds, best.wall, best.cpu, seconds / best.wall,
        best.cpu > 0.0 ? seconds / best.cpu : 0.0,
        static_cast<double>(best.mp3.size()) / seconds / kBitsPerKilobit);
    if (outPrefix != nullptr) {
      const std::string stem = std::string(outPrefix) + "-" + signal.name;
      if (!WriteFile(stem + ".mp3", run.mp3.data(), run.mp3.size()) ||
          !WriteFile(stem + ".pcm", signal.samples.data(),
                     signal.samples.size() * sizeof(int16_t))) {
        std::fprintf(stderr, "cannot write the %s files\n", signal.name);
        return kExitFailed;
      }
    }
  }
  return kExitOk;
}
