#include "avi/session_stream.h"

void SessionStream::Begin() {
  std::lock_guard<std::mutex> hold(lock_);
  stream_ = nullptr;
  position_ = 0;
  abandoned_ = false;
}

bool SessionStream::Create(AviFile* const* file, const AviStreamInfo& info, const void* format,
                           int32_t formatBytes) {
  std::lock_guard<std::mutex> hold(lock_);
  if (abandoned_ || AviFileCreateStream(*file, &stream_, &info) != kAviOk) return false;
  return AviStreamSetFormat(stream_, 0, format, formatBytes) == kAviOk;
}

int SessionStream::Append(const void* data, int32_t bytes) {
  std::lock_guard<std::mutex> hold(lock_);
  if (abandoned_ || stream_ == nullptr) return kAviOk;
  const int result = AviStreamWrite(stream_, position_, bytes, data, bytes, 0, nullptr, nullptr);
  if (result == kAviOk) position_ += bytes;
  return result;
}

bool SessionStream::Release() {
  std::lock_guard<std::mutex> hold(lock_);
  if (abandoned_) return false;
  AviStreamRelease(stream_);
  stream_ = nullptr;
  return true;
}

void SessionStream::Abandon() {
  std::lock_guard<std::mutex> hold(lock_);
  abandoned_ = true;
  AviStreamRelease(stream_);
  stream_ = nullptr;
}
