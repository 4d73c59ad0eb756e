// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers. GPL-2.0-or-later; see LICENSE.

#include "codec_host.h"

#include <psapi.h>

#include "codec/codec_state.h"

#include <cstring>

namespace codec_host {
namespace {

constexpr char kDriverFile[] = "x264vfw.dll";
constexpr char kDriverEntry[] = "DriverProc";
constexpr int kDibRowAlignmentBytes = 4;
constexpr int kBitsPerByte = 8;

DRIVERPROC g_driver_proc = nullptr;

// What Parvelo installs: its own procedure, forwarding every message to the DLL.
LRESULT CALLBACK ForwardingProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM p1, LPARAM p2) {
  return g_driver_proc(id, driver, message, p1, p2);
}

}  // namespace

InstalledDriver::InstalledDriver() {
  module_ = LoadLibraryA(kDriverFile);
  if (module_ == nullptr) return;
  g_driver_proc =
      reinterpret_cast<DRIVERPROC>(reinterpret_cast<void*>(GetProcAddress(module_, kDriverEntry)));
  if (g_driver_proc == nullptr) return;
  installed_ = ICInstall(ICTYPE_VIDEO, kHandler, reinterpret_cast<LPARAM>(&ForwardingProc), nullptr,
                         ICINSTALL_FUNCTION) != FALSE;
}

InstalledDriver::~InstalledDriver() {
  if (installed_) ICRemove(ICTYPE_VIDEO, kHandler, 0);
  if (module_ != nullptr) FreeLibrary(module_);
  g_driver_proc = nullptr;
}

BITMAPINFOHEADER RgbHeader(int width, int height, int bits, bool top_down) {
  BITMAPINFOHEADER header;
  std::memset(&header, 0, sizeof(header));
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = top_down ? -height : height;
  header.biPlanes = 1;
  header.biBitCount = static_cast<WORD>(bits);
  header.biCompression = BI_RGB;
  int stride = (width * bits / kBitsPerByte + kDibRowAlignmentBytes - 1) / kDibRowAlignmentBytes *
               kDibRowAlignmentBytes;
  header.biSizeImage = static_cast<DWORD>(stride * height);
  return header;
}

std::vector<uint8_t> ReadState(HIC hic) {
  std::vector<uint8_t> state(ICGetStateSize(hic));
  ICGetState(hic, state.data(), state.size());
  return state;
}

void ApplyRecorderEdit(std::vector<uint8_t>* state) {
  (*state)[parvelo::codec::state_offset::kZeroLatency] = 1;
  (*state)[parvelo::codec::state_offset::kWriteLog] = 0;
}

void PatchU32(std::vector<uint8_t>* state, size_t offset, uint32_t value) {
  std::memcpy(state->data() + offset, &value, sizeof(value));
}

void PatchText(std::vector<uint8_t>* state, size_t offset, const std::string& text) {
  std::memcpy(state->data() + offset, text.c_str(), text.size() + 1);
}

LRESULT SendFramesInfo(HIC hic, LONG quality, LONG key_rate, DWORD rate, DWORD scale) {
  ICCOMPRESSFRAMES frames;
  std::memset(&frames, 0, sizeof(frames));
  frames.lQuality = quality;
  frames.lKeyRate = key_rate;
  frames.dwRate = rate;
  frames.dwScale = scale;
  return ICSendMessage(hic, ICM_COMPRESS_FRAMES_INFO, reinterpret_cast<DWORD_PTR>(&frames),
                       sizeof(frames));
}

size_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters;
  std::memset(&counters, 0, sizeof(counters));
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                       sizeof(counters));
  // Wine leaves PrivateUsage at zero; PagefileUsage is the same committed private memory.
  return counters.PagefileUsage;
}

}  // namespace codec_host
