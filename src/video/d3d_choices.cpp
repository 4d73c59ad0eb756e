#include "video/d3d_choices.h"

uint32_t VertexProcessingFlags(uint32_t deviceCaps) {
  return (deviceCaps & kDevCapsHwTransformAndLight) != 0 ? kCreateHardwareVertexProcessing
                                                         : kCreateSoftwareVertexProcessing;
}
