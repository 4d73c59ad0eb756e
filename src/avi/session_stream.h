// A sample stream that one worker thread creates and appends to for one
// session, and that the session's owner may give up waiting for. Once the
// owner abandons it, the worker's late calls touch no file: not the
// session's, which the owner then closes, nor a later session's.
#ifndef PARVELO_AVI_SESSION_STREAM_H_
#define PARVELO_AVI_SESSION_STREAM_H_

#include <cstdint>
#include <mutex>

#include "avi/avi_writer.h"

class SessionStream {
 public:
  // On the owner's thread before the worker starts: a new session's stream.
  void Begin();
  // On the worker: creates the stream in *file (read only if not abandoned)
  // with its format. False when abandoned or refused.
  bool Create(AviFile* const* file, const AviStreamInfo& info, const void* format,
              int32_t formatBytes);
  // On the worker: appends bytes of one-byte samples at the stream's end.
  // kAviOk without a stream, or once abandoned.
  int Append(const void* data, int32_t bytes);
  // On the worker, its last step: releases the stream. False once abandoned
  // (the owner has released it and no longer waits).
  bool Release();
  // On the owner: releases the stream; the worker's later calls do nothing.
  void Abandon();

 private:
  std::mutex lock_;
  AviStream* stream_ = nullptr;
  int64_t position_ = 0;  // where the next append starts
  bool abandoned_ = false;
};

#endif  // PARVELO_AVI_SESSION_STREAM_H_
