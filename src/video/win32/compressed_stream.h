// The compressed video stream: frames written to it go through an installed
// Video-for-Windows compressor (the platform's compressor manager) and land
// in the underlying stream of our writer, one chunk per frame, with the
// key-frame flag the compressor reports.
#pragma once

#include <windows.h>
#include <vfw.h>

#include "avi/avi_writer.h"

// The compressor refused to open, to take its format, or to compress.
constexpr int kAviErrorCompressor = -100;

// Opens the compressor named in `options` (fccType, fccHandler), hands it
// options->lpParms as its configuration and tells it the frame rate of
// `raw`, the key-frame interval and the quality. Compression begins when
// the stream is given the input format with AviStreamSetFormat. The stream
// does not own `raw`; releasing it ends and closes the compressor.
int AviMakeCompressedStream(AviStream** compressed, AviStream* raw,
                            const AVICOMPRESSOPTIONS* options);

// The next frame written to `compressed` (made by AviMakeCompressedStream)
// is asked to be a key frame, whatever the interval says: where a recording
// goes on after a pause, so that seeking lands there.
void AviAskKeyFrame(AviStream* compressed);
