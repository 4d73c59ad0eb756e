// The Direct3D device's set-up choices, kept apart so they can be checked
// without a device (Wine always takes the first of each).
#pragma once

#include <cstdint>

// D3DCREATE_HARDWARE_VERTEXPROCESSING when the adapter has hardware
// transform and lighting (D3DDEVCAPS_HWTRANSFORMANDLIGHT), else software.
uint32_t VertexProcessingFlags(uint32_t deviceCaps);

// Depth-stencil formats to try in order: D3DFMT_D24S8, then D3DFMT_D16.
constexpr uint32_t kD3dFormatD24S8 = 75;
constexpr uint32_t kD3dFormatD16 = 80;
constexpr uint32_t kDepthStencilFormats[] = {kD3dFormatD24S8, kD3dFormatD16};
