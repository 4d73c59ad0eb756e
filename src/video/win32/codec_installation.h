// The H.264 compressor from x264vfw.dll, installed for this process only for
// the length of one session, with its state read and adjusted, and the
// session's video streams set up through it (the stream that compresses
// is compressed_stream's).
#pragma once

#include "video/frame_copy.h"

class StepClock;

// Installs the compressor, reads and adjusts its state, creates the raw
// and compressed video streams in the session's file and gives them the
// frames' format. False when the codec library or its DriverProc is
// missing, the compressor does not open or reports no state, or a stream
// cannot be made: then nothing of the video stream exists. Marks the
// installation and the streams on `steps`.
bool OpenVideoStream(const FrameGeometry& geometry, StepClock& steps);

// Releases the compressed stream, then the raw one.
void CloseVideoStream();

// Frees the compressor's state block and removes the installation.
void RemoveCodec();
