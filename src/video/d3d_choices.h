// The Direct3D device's set-up choices, kept apart so they can be checked
// without a device (Wine always takes the first of each).
#pragma once

#include <cstdint>

// The SDK's numbers, checked against its names where the SDK is at hand
// (video/win32/d3d_capture.cpp).
constexpr uint32_t kDevCapsHwTransformAndLight = 0x10000;   // D3DDEVCAPS_HWTRANSFORMANDLIGHT
constexpr uint32_t kCreateHardwareVertexProcessing = 0x40;  // D3DCREATE_HARDWARE_VERTEXPROCESSING
constexpr uint32_t kCreateSoftwareVertexProcessing = 0x20;  // D3DCREATE_SOFTWARE_VERTEXPROCESSING

// D3DCREATE_HARDWARE_VERTEXPROCESSING when the adapter has hardware
// transform and lighting (D3DDEVCAPS_HWTRANSFORMANDLIGHT), else software.
uint32_t VertexProcessingFlags(uint32_t deviceCaps);

// Depth-stencil formats to try in order: D3DFMT_D24S8, then D3DFMT_D16.
constexpr uint32_t kD3dFormatD24S8 = 75;
constexpr uint32_t kD3dFormatD16 = 80;
constexpr uint32_t kDepthStencilFormats[] = {kD3dFormatD24S8, kD3dFormatD16};
