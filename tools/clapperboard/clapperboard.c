/* A clapperboard for measuring sound against picture in a recording.
 *
 * It opens a small black window (override-redirect, so no window manager
 * moves it) and a playback stream to the default PulseAudio sink, whose
 * monitor is the fake microphone. A clap is a 200 ms 1 kHz beep; the white
 * square in the window's middle shows for the same 200 ms, turned on at the
 * moment the beep's first sample is heard. That moment is known from the
 * stream's latency, asked before each 10 ms block is written. Claps come at
 * irregular intervals (0.7 to 1.3 s from a fixed sequence), so that a large
 * offset cannot pass for a small one.
 *
 *   clapperboard X Y SIZE SECONDS
 *
 * Prints one line per clap: its number and when it is heard (CLOCK_MONOTONIC
 * seconds). */
#define _GNU_SOURCE /* M_PI, clock_nanosleep */
#include <X11/Xlib.h>
#include <math.h>
#include <pthread.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

enum {
  kRateHz = 44100,
  kBlockFrames = kRateHz / 100, /* 10 ms */
  kBeepMs = 200,
  kBeepFrames = kRateHz * kBeepMs / 1000,
  kToneHz = 1000,
  kFirstClapMs = 1000,
  kShortestGapMs = 700,
  kGapSpreadMs = 601, /* gaps of 700 to 1300 ms */
  /* What the sink holds ahead: short, so a clap is drawn soon after it is
   * written; the flash time comes from the measured latency anyway. */
  kTargetLatencyMs = 50,
  kQueuedClaps = 64,
  kMsPerSecond = 1000,
};
static const double kToneAmplitude = 0.5 * 32767;
static const int64_t kNsPerSecond = 1000000000;
static const int64_t kNsPerUs = 1000;

/* Flash times, written by the sound loop and read by the drawing thread. */
static struct {
  pthread_mutex_t lock;
  pthread_cond_t added;
  int64_t heardNs[kQueuedClaps];
  unsigned head, tail;
} claps = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, {0}, 0, 0};

static struct {
  Display* display;
  Window window;
  GC gc;
  int squareOffset, squareSize;
  unsigned long black, white;
} board;

static int64_t NowNs(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (int64_t)now.tv_sec * kNsPerSecond + now.tv_nsec;
}

static void SleepUntilNs(int64_t ns) {
  struct timespec when = {(time_t)(ns / kNsPerSecond), (long)(ns % kNsPerSecond)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, NULL) != 0) {
  }
}

static void PaintSquare(unsigned long colour) {
  XSetForeground(board.display, board.gc, colour);
  XFillRectangle(board.display, board.window, board.gc, board.squareOffset, board.squareOffset,
                 (unsigned)board.squareSize, (unsigned)board.squareSize);
  XSync(board.display, False);
}

static void* DrawClaps(void* unused) {
  (void)unused;
  for (;;) {
    pthread_mutex_lock(&claps.lock);
    while (claps.head == claps.tail) pthread_cond_wait(&claps.added, &claps.lock);
    const int64_t heardNs = claps.heardNs[claps.tail % kQueuedClaps];
    ++claps.tail;
    pthread_mutex_unlock(&claps.lock);
    SleepUntilNs(heardNs);
    PaintSquare(board.white);
    SleepUntilNs(heardNs + (int64_t)kBeepMs * kNsPerSecond / kMsPerSecond);
    PaintSquare(board.black);
  }
  return NULL;
}

/* The fixed sequence of gaps between claps. */
static unsigned NextGapMs(uint32_t* state) {
  *state = *state * 1664525u + 1013904223u;
  return kShortestGapMs + (*state >> 16) % kGapSpreadMs;
}

static int OpenBoard(int x, int y, int size) {
  board.display = XOpenDisplay(NULL);
  if (!board.display) return 0;
  const int screen = DefaultScreen(board.display);
  board.black = BlackPixel(board.display, screen);
  board.white = WhitePixel(board.display, screen);
  XSetWindowAttributes attributes;
  attributes.override_redirect = True;
  attributes.background_pixel = board.black;
  board.window = XCreateWindow(board.display, RootWindow(board.display, screen), x, y,
                               (unsigned)size, (unsigned)size, 0, CopyFromParent, InputOutput,
                               CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
  board.gc = XCreateGC(board.display, board.window, 0, NULL);
  board.squareOffset = size / 4;
  board.squareSize = size / 2;
  XMapRaised(board.display, board.window);
  PaintSquare(board.black);
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: clapperboard X Y SIZE SECONDS\n");
    return 2;
  }
  if (!OpenBoard(atoi(argv[1]), atoi(argv[2]), atoi(argv[3]))) {
    fprintf(stderr, "clapperboard: no X display\n");
    return 1;
  }
  const int64_t totalFrames = (int64_t)atoi(argv[4]) * kRateHz;

  const pa_sample_spec format = {PA_SAMPLE_S16LE, kRateHz, 1};
  pa_buffer_attr buffering;
  buffering.maxlength = (uint32_t)-1;
  buffering.tlength = (uint32_t)(kRateHz * sizeof(int16_t) * kTargetLatencyMs / kMsPerSecond);
  buffering.prebuf = (uint32_t)-1;
  buffering.minreq = (uint32_t)-1;
  buffering.fragsize = (uint32_t)-1;
  int error = 0;
  pa_simple* stream = pa_simple_new(NULL, "clapperboard", PA_STREAM_PLAYBACK, NULL, "claps",
                                    &format, NULL, &buffering, &error);
  if (!stream) {
    fprintf(stderr, "clapperboard: %s\n", pa_strerror(error));
    return 1;
  }
  pthread_t drawer;
  pthread_create(&drawer, NULL, DrawClaps, NULL);

  uint32_t sequence = 1;
  int64_t clapFrame = (int64_t)kFirstClapMs * kRateHz / kMsPerSecond;
  int clapNumber = 0;
  int16_t block[kBlockFrames];
  for (int64_t frame = 0; frame < totalFrames; frame += kBlockFrames) {
    /* The first frame of this block is heard once everything already
     * written has been. */
    const pa_usec_t latencyUs = pa_simple_get_latency(stream, &error);
    const int64_t blockHeardNs = NowNs() + (int64_t)latencyUs * kNsPerUs;
    for (int i = 0; i < kBlockFrames; ++i) {
      const int64_t intoBeep = frame + i - clapFrame;
      block[i] = intoBeep >= 0 && intoBeep < kBeepFrames
                     ? (int16_t)lround(kToneAmplitude *
                                       sin(2 * M_PI * kToneHz * (double)intoBeep / kRateHz))
                     : 0;
    }
    if (clapFrame >= frame && clapFrame < frame + kBlockFrames) {
      const int64_t heardNs = blockHeardNs + (clapFrame - frame) * kNsPerSecond / kRateHz;
      printf("clap %d %.6f\n", clapNumber++, (double)heardNs / kNsPerSecond);
      fflush(stdout);
      pthread_mutex_lock(&claps.lock);
      claps.heardNs[claps.head % kQueuedClaps] = heardNs;
      ++claps.head;
      pthread_cond_signal(&claps.added);
      pthread_mutex_unlock(&claps.lock);
    }
    if (frame >= clapFrame + kBeepFrames) {
      clapFrame += (int64_t)NextGapMs(&sequence) * kRateHz / kMsPerSecond;
    }
    if (pa_simple_write(stream, block, sizeof block, &error) < 0) {
      fprintf(stderr, "clapperboard: %s\n", pa_strerror(error));
      return 1;
    }
  }
  pa_simple_drain(stream, &error);
  pa_simple_free(stream);
  return 0;
}
