// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers. GPL-2.0-or-later; see LICENSE.

// What the test and benchmark programs share: installing x264vfw.dll for this process the way
// Parvelo does, and a compressor opened on it.
#pragma once

#include <windows.h>
#include <vfw.h>

#include <cstdint>
#include <string>
#include <vector>

namespace codec_host {

constexpr DWORD kHandler = mmioFOURCC('X', '2', '6', '4');

// LoadLibraryA("x264vfw.dll"), GetProcAddress("DriverProc"), ICInstall(ICINSTALL_FUNCTION) of
// a procedure forwarding to it; the destructor removes and unloads it.
class InstalledDriver {
 public:
  InstalledDriver();
  ~InstalledDriver();
  InstalledDriver(const InstalledDriver&) = delete;
  InstalledDriver& operator=(const InstalledDriver&) = delete;
  bool ok() const { return installed_; }

 private:
  HMODULE module_ = nullptr;
  bool installed_ = false;
};

BITMAPINFOHEADER RgbHeader(int width, int height, int bits, bool top_down);

// The compressor's state block with single bytes or 32-bit fields patched at documented
// offsets, the way a program edits it.
std::vector<uint8_t> ReadState(HIC hic);
// Parvelo's own edit of the state it read: zero latency on (byte 28), statistics log off
// (byte 604).
void ApplyRecorderEdit(std::vector<uint8_t>* state);
void PatchU32(std::vector<uint8_t>* state, size_t offset, uint32_t value);
void PatchText(std::vector<uint8_t>* state, size_t offset, const std::string& text);

LRESULT SendFramesInfo(HIC hic, LONG quality, LONG key_rate, DWORD rate, DWORD scale);

// Process memory in use (private bytes), for the leak checks.
size_t PrivateBytes();

}  // namespace codec_host
