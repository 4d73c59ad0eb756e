// The first part's header block (hdrl: the main header, a slot per
// possible stream with its strl and super index, the OpenDML header) as it
// is to stand in the file now, and which of its ranges may differ from
// what is on the disk.
#pragma once

#include <vector>

#include "avi/avi_layout.h"
#include "avi/riff_layout.h"

struct HeaderImage {
  riff::Builder bytes;  // at their offsets in the file, from its start
  // What to write, in this order: the streams' slots, then the main
  // header, then dmlh.
  std::vector<avi_layout::ByteRange> changed;
};

// The headers of `streams` (each stream's record of its super index
// entries on the disk grows with what it lists); `hasIdx1` when the first
// part is closed, its idx1 written.
void BuildHeaders(std::vector<avi_layout::Stream>& streams, bool hasIdx1, HeaderImage& image);
