// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

#include "codec/x264_session.h"

#include <cstring>
#include <vector>

namespace parvelo::codec {
namespace {

constexpr char kZeroLatencyTune[] = "zerolatency";

// x264_param_t with its own cleanup: x264_param_parse may allocate strings inside it.
class Params {
 public:
  Params() { std::memset(&param_, 0, sizeof(param_)); }
  ~Params() { x264_param_cleanup(&param_); }
  Params(const Params&) = delete;
  Params& operator=(const Params&) = delete;
  x264_param_t* get() { return &param_; }

 private:
  x264_param_t param_;
};

bool ApplyPresetAndOptions(x264_param_t* param, const std::string& preset, bool zero_latency,
                           const std::vector<OptionSetting>& options) {
  if (x264_param_default_preset(param, preset.c_str(), zero_latency ? kZeroLatencyTune : nullptr) <
      0) {
    return false;
  }
  for (const OptionSetting& option : options) {
    if (x264_param_parse(param, option.name.c_str(),
                         option.has_value ? option.value.c_str() : nullptr) != 0) {
      return false;
    }
  }
  return true;
}

// The settings this compressor owns, applied after the user's extra options.
void ApplyOwnedSettings(x264_param_t* param, const EncoderSettings& settings) {
  param->i_csp = X264_CSP_I420;
  param->i_width = settings.width;
  param->i_height = settings.height;
  param->i_threads = settings.threads;
  param->i_fps_num = settings.fps_num;
  param->i_fps_den = settings.fps_den;
  param->i_timebase_num = settings.fps_den;
  param->i_timebase_den = settings.fps_num;
  param->b_vfr_input = 0;

  // An AVI frame must be decodable from its own key frame on: every IDR carries the parameter
  // sets, start codes delimit the units, and IDRs come only where KeyFramePlanner puts them
  // (AVIFile indexes key frames by position and ignores what the driver reports).
  param->b_annexb = 1;
  param->b_repeat_headers = 1;
  param->i_keyint_max = X264_KEYINT_MAX_INFINITE;
  param->i_scenecut_threshold = 0;
  param->b_intra_refresh = 0;
  param->b_open_gop = 0;

  param->rc.i_rc_method = X264_RC_CRF;
  param->rc.f_rf_constant = settings.crf;

  param->vui.i_colorprim = settings.vui.primaries;
  param->vui.i_transfer = settings.vui.transfer;
  param->vui.i_colmatrix = settings.vui.matrix;
  param->vui.b_fullrange = settings.vui.full_range ? 1 : 0;

  if (settings.zero_latency) {
    // ICCompress hands back the frame it was given: nothing may wait for later input.
    param->i_bframe = 0;
    param->rc.i_lookahead = 0;
    param->rc.b_mb_tree = 0;
    param->i_sync_lookahead = 0;
    param->b_sliced_threads = 1;
  }
}

char PictureTypeLetter(int type) {
  switch (type) {
    case X264_TYPE_IDR:
      return 'K';
    case X264_TYPE_I:
      return 'I';
    case X264_TYPE_P:
      return 'P';
    default:
      return 'B';
  }
}

}  // namespace

bool X264AcceptsOptions(const std::string& preset, const std::string& options) {
  std::vector<OptionSetting> parsed;
  Params param;
  return ParseOptionList(options, &parsed) &&
         ApplyPresetAndOptions(param.get(), preset, true, parsed);
}

EncodeStatus X264Session::Open(const EncoderSettings& settings, const InputLayout& layout,
                               bool write_log, const std::string& log_path,
                               std::unique_ptr<X264Session>* session) {
  Params param;
  if (!ApplyPresetAndOptions(param.get(), settings.preset, settings.zero_latency,
                             settings.extra_options)) {
    return EncodeStatus::kOpenFailed;
  }
  ApplyOwnedSettings(param.get(), settings);

  std::unique_ptr<StatsLog> log;
  if (write_log) log = StatsLog::Open(log_path, settings);
  if (log) {
    param.get()->i_log_level = X264_LOG_INFO;
    param.get()->pf_log = &StatsLog::X264Message;
    param.get()->p_log_private = log.get();
  } else {
    // A DLL has no console of its own; libx264 would write into the host's standard error.
    param.get()->i_log_level = X264_LOG_NONE;
  }

  x264_t* encoder = x264_encoder_open(param.get());
  if (encoder == nullptr) return EncodeStatus::kOpenFailed;
  session->reset(new X264Session(encoder, settings, layout, std::move(log)));
  if (x264_picture_alloc(&(*session)->picture_, X264_CSP_I420, layout.width, layout.height) < 0) {
    session->reset();
    return EncodeStatus::kNoMemory;
  }
  (*session)->picture_allocated_ = true;
  return EncodeStatus::kOk;
}

X264Session::X264Session(x264_t* encoder, const EncoderSettings& settings,
                         const InputLayout& layout, std::unique_ptr<StatsLog> log)
    : encoder_(encoder),
      layout_(layout),
      colour_space_(settings.colour_space),
      kernel_(FastestKernel()),
      planner_(settings.key_frame_interval_frames),
      crf_(settings.crf),
      log_(std::move(log)) {
  x264_picture_init(&picture_);
}

X264Session::~X264Session() {
  // Closing first: libx264 writes its summary into the log while it shuts down.
  x264_encoder_close(encoder_);
  if (picture_allocated_) x264_picture_clean(&picture_);
}

bool X264Session::ChangeCrf(float crf) {
  x264_param_t param;
  x264_encoder_parameters(encoder_, &param);
  param.rc.f_rf_constant = crf;
  if (x264_encoder_reconfig(encoder_, &param) < 0) return false;
  crf_ = crf;
  return true;
}

EncodeStatus X264Session::Encode(const uint8_t* pixels, int64_t frame_number, bool caller_asks_key,
                                 float crf, uint8_t* out, size_t capacity, EncodedFrame* frame) {
  if (crf != crf_ && !ChangeCrf(crf)) return EncodeStatus::kEncodeFailed;

  FramePlan plan = planner_.Next(frame_number, caller_asks_key);
  I420Planes planes;
  planes.y = picture_.img.plane[0];
  planes.u = picture_.img.plane[1];
  planes.v = picture_.img.plane[2];
  planes.y_stride = picture_.img.i_stride[0];
  planes.u_stride = picture_.img.i_stride[1];
  planes.v_stride = picture_.img.i_stride[2];
  ConvertToI420(pixels, layout_, colour_space_, planes, kernel_);
  picture_.i_type = plan.key ? X264_TYPE_IDR : X264_TYPE_AUTO;
  picture_.i_pts = plan.position;

  x264_nal_t* nals = nullptr;
  int nal_count = 0;
  x264_picture_t coded;
  int bytes = x264_encoder_encode(encoder_, &nals, &nal_count, &picture_, &coded);
  if (bytes < 0) return EncodeStatus::kEncodeFailed;
  if (static_cast<size_t>(bytes) > capacity) return EncodeStatus::kOutputTooLarge;
  // libx264 keeps the units of one call back to back, start codes included.
  if (bytes > 0) std::memcpy(out, nals[0].p_payload, static_cast<size_t>(bytes));
  frame->bytes = static_cast<size_t>(bytes);
  frame->key = bytes > 0 && coded.b_keyframe != 0;
  if (log_) {
    log_->Frame(plan, caller_asks_key, bytes > 0 ? PictureTypeLetter(coded.i_type) : '-',
                frame->bytes, bytes > 0 ? coded.i_qpplus1 - 1 : 0);
  }
  return EncodeStatus::kOk;
}

}  // namespace parvelo::codec
