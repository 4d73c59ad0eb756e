// The video side of a session, on the recording thread: picks a grabbing
// back-end, installs the codec and creates the video stream, then grabs
// back to back and writes each frame at the slot the clock gives until
// idleFlag is raised; releases everything it set up before returning.
#pragma once

enum class VideoOutcome {
  kFinished,   // recorded until Stop (with or without video)
  kNoBackend,  // neither back-end could be set up; the user has been told
};

VideoOutcome CaptureVideo();

// Brings up both grabbing back-ends' libraries once and lets their objects
// go again, so that a session's set-up does not pay for their first use in
// the process (under Wine: its OpenGL stack). Any thread, before or
// between sessions; failures are left for the session to meet.
void PrepareCapture();
