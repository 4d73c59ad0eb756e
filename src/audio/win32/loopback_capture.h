// The computer's own sound for a session: what the default output device
// plays, taken by WASAPI loopback in shared mode and placed on the picture
// by the moments its packets carry. The device may change under a
// recording (unplugged, a new default, taken in exclusive mode, a new
// format): the sound then goes on as silence, and from the device that is
// the default once it can be opened.
#pragma once

#include <cstddef>
#include <memory>

#include "audio/win32/sound_output.h"

// Tries loopback on the default output device, then tells the main window
// what it found (WM_LOOPBACK_PROBED with a LoopbackSupport). A thread of
// its own at start-up: the device may take a while to answer.
unsigned __stdcall LoopbackProbeThread(void* param);

// On the recording thread, after the file is open and before the video
// loop; kNoSound (the user told) when loopback cannot be opened now.
AudioStart StartLoopbackCapture();

// The loopback stream of a sound thread, which has entered the
// multithreaded apartment (ComApartment).
class LoopbackInput {
 public:
  LoopbackInput();
  ~LoopbackInput();
  LoopbackInput(const LoopbackInput&) = delete;
  LoopbackInput& operator=(const LoopbackInput&) = delete;

  // Opens the default output device; false when it cannot be opened now.
  // Tells a Start waiting in AwaitLoopbackOpen either way.
  bool Open();
  // Starts the open stream into `output` as `source`.
  void Start(SoundOutput& output, size_t source);
  // Once a poll: the packets waiting go into the output; after a change
  // of device the new default is opened; silence by the clock meanwhile.
  void Poll();
  // At Stop: the last packets and the last part of a block.
  void Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Before the sound thread starts: a Start will wait for its Open.
void ExpectLoopbackOpen();
// On the recording thread: false when the sound thread's Open failed; a
// device that has not answered within a few seconds is taken as it comes.
bool AwaitLoopbackOpen();

// COM for the calling thread, in the multithreaded apartment.
class ComApartment {
 public:
  ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment();

 private:
  bool entered_;
};
