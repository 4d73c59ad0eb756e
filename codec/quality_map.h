// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

// Video for Windows quality (0 worst .. 10000 best) to libx264's constant rate factor.
#pragma once

#include <cstdint>

namespace parvelo::codec {

constexpr uint32_t kQualityMax = 10000;
// ICQUALITY_DEFAULT as the DWORD it arrives in.
constexpr uint32_t kQualityDefault = 0xFFFFFFFFu;

// Piecewise linear between measured anchor points; qualities above kQualityMax count as best.
float CrfForQuality(uint32_t quality);

// The quality a frame is compressed at: the caller's, or `fallback` when the caller left it at
// ICQUALITY_DEFAULT.
uint32_t ResolveQuality(uint32_t requested, uint32_t fallback);

}  // namespace parvelo::codec
