#include <gtest/gtest.h>

#include <cstring>

#include "video/d3d_choices.h"
#include "video/device_recovery.h"
#include "video/pointer_position.h"
#include "video/video_formats.h"

namespace {

TEST(DeviceRecovery, LostDevicesAndSurfacesAreWaitedForResetOrMadeAnew) {
  struct Case {
    uint32_t result;
    RecoveryStep direct3D, directDraw;
  } cases[] = {
      {0x00000000, RecoveryStep::kNone, RecoveryStep::kNone},          // S_OK
      {0x88760868, RecoveryStep::kWait, RecoveryStep::kNone},          // D3DERR_DEVICELOST
      {0x88760869, RecoveryStep::kReset, RecoveryStep::kNone},         // D3DERR_DEVICENOTRESET
      {0x88760827, RecoveryStep::kRecreate, RecoveryStep::kNone},      // D3DERR_DRIVERINTERNALERROR
      {0x887601C2, RecoveryStep::kRecreate, RecoveryStep::kReset},     // DDERR_SURFACELOST
      {0x8876024B, RecoveryStep::kRecreate, RecoveryStep::kRecreate},  // DDERR_WRONGMODE
      {0x887601AE, RecoveryStep::kRecreate, RecoveryStep::kNone},      // DDERR_SURFACEBUSY
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Direct3DRecoveryStep(c.result), c.direct3D) << std::hex << c.result;
    EXPECT_EQ(DirectDrawRecoveryStep(c.result), c.directDraw) << std::hex << c.result;
  }
}

TEST(PointerDrawPosition, HotSpotLandsOnThePointerInSurfaceCoordinates) {
  struct Case {
    PointerPoint screen;
    std::optional<PointerPoint> hotSpot;
    PointerPoint origin, expected;
  } cases[] = {
      {{500, 400}, PointerPoint{0, 0}, {0, 0}, {500, 400}},    // arrow on the whole screen
      {{500, 400}, PointerPoint{16, 16}, {0, 0}, {484, 384}},  // a cross: centred hot spot
      {{115, 65}, PointerPoint{0, 0}, {105, 55}, {10, 10}},    // region at (105, 55)
      {{115, 65}, PointerPoint{4, 8}, {105, 55}, {6, 2}},      // I-beam in a region
      {{50, 40}, PointerPoint{0, 0}, {105, 55}, {-55, -15}},   // outside: off the surface
      {{115, 65}, std::nullopt, {105, 55}, {10, 10}},          // no icon info: as is
  };
  for (const Case& c : cases) {
    PointerPoint p = PointerDrawPosition(c.screen, c.hotSpot, c.origin);
    EXPECT_EQ(p.x, c.expected.x);
    EXPECT_EQ(p.y, c.expected.y);
  }
}

TEST(ChoosePointerPicture, StandardArrowWhenShowingWithoutAHandle) {
  EXPECT_EQ(ChoosePointerPicture(true, true), PointerPicture::kOwn);
  EXPECT_EQ(ChoosePointerPicture(true, false), PointerPicture::kOwn);  // hidden: painted anyway
  EXPECT_EQ(ChoosePointerPicture(false, true), PointerPicture::kStandardArrow);
  EXPECT_EQ(ChoosePointerPicture(false, false), PointerPicture::kNone);
}

TEST(Direct3DChoices, VertexProcessingAndDepthFormatOrder) {
  EXPECT_EQ(VertexProcessingFlags(0x10000), 0x40u);
  EXPECT_EQ(VertexProcessingFlags(0x10000 | 0x1234), 0x40u);
  EXPECT_EQ(VertexProcessingFlags(0x0FFFF), 0x20u);
  EXPECT_EQ(VertexProcessingFlags(0), 0x20u);
  ASSERT_EQ(std::size(kDepthStencilFormats), 2u);
  EXPECT_EQ(kDepthStencilFormats[0], 75u);  // D24S8 first
  EXPECT_EQ(kDepthStencilFormats[1], 80u);  // then D16
}

TEST(VideoFormats, RawFormatAndStreamHeaderOfASession) {
  EXPECT_EQ(HandlerFromText("X264"), 0x34363258u);
  EXPECT_EQ(HandlerFromText("X264"), kCodecHandler);

  RawFrameFormat f = MakeRawFrameFormat(590, 390);
  uint8_t bytes[40];
  std::memcpy(bytes, &f, sizeof bytes);
  EXPECT_EQ(f.biSize, 40u);
  EXPECT_EQ(f.biWidth, 590);
  EXPECT_EQ(f.biHeight, 390);  // positive: bottom-up
  EXPECT_EQ(f.biPlanes, 1);
  EXPECT_EQ(f.biBitCount, 32);
  EXPECT_EQ(f.biCompression, 0u);
  EXPECT_EQ(f.biSizeImage, 590u * 390u * 4u);
  EXPECT_EQ(bytes[14], 32);  // biBitCount at its BITMAPINFOHEADER offset

  for (int32_t fps : {15, 30}) {
    AviStreamInfo h = MakeVideoStreamInfo(kCodecHandler, 1366, 768, fps, 1366 * 768 * 4);
    EXPECT_EQ(h.fccType, MakeFourCC('v', 'i', 'd', 's'));
    EXPECT_EQ(h.fccHandler, kCodecHandler);
    EXPECT_EQ(h.dwFlags, 0x10000u);
    EXPECT_EQ(h.dwScale, 1u);
    EXPECT_EQ(h.dwRate, static_cast<uint32_t>(fps));
    EXPECT_EQ(h.dwSuggestedBufferSize, 1366u * 768u * 4u);
    EXPECT_EQ(h.rcFrame.right, 1366);
    EXPECT_EQ(h.rcFrame.bottom, 768);
    EXPECT_EQ(h.dwSampleSize, 0u);
    EXPECT_EQ(h.dwQuality, 0u);
  }
}

}  // namespace
