#include "video/d3d_choices.h"

namespace {
constexpr uint32_t kDevCapsHwTransformAndLight = 0x10000;
constexpr uint32_t kCreateHardwareVertexProcessing = 0x40;
constexpr uint32_t kCreateSoftwareVertexProcessing = 0x20;
}  // namespace

uint32_t VertexProcessingFlags(uint32_t deviceCaps) {
  return (deviceCaps & kDevCapsHwTransformAndLight) != 0 ? kCreateHardwareVertexProcessing
                                                         : kCreateSoftwareVertexProcessing;
}
