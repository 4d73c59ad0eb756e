#include "avi/header_publisher.h"

#include <utility>

using avi_layout::Patch;
using avi_layout::Publication;

HeaderPublisher::HeaderPublisher(std::mutex& mutex, std::function<Publication()> take,
                                 std::function<void()> failed, const std::atomic<bool>& ioFailed)
    : mutex_(mutex), take_(std::move(take)), failed_(std::move(failed)), ioFailed_(ioFailed) {}

void HeaderPublisher::Start(AviFileIo* io) {
  io_ = io;
  thread_ = std::thread(&HeaderPublisher::PublishWhenAsked, this);
}

void HeaderPublisher::Ask() {
  ++asked_;
  if (thread_.joinable() && !readyTaken_ && !committing_) {
    ready_ = take_();
    taken_ = asked_;
    readyTaken_ = true;
  }
  wanted_.notify_one();
}

void HeaderPublisher::AwaitLast(std::unique_lock<std::mutex>& lock) {
  const uint64_t last = asked_;
  published_.wait(lock, [&] { return done_ >= last; });
}

void HeaderPublisher::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wanted_.notify_one();
  if (thread_.joinable()) thread_.join();
}

// Each publication describes what was written when it was taken, and is
// put on the disk only after all of that is.
void HeaderPublisher::PublishWhenAsked() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wanted_.wait(lock, [&] { return stopping_ || readyTaken_ || taken_ < asked_; });
    if (!readyTaken_) {
      if (taken_ == asked_) return;
      ready_ = take_();
      taken_ = asked_;
    }
    const Publication publication = std::move(ready_);
    const uint64_t number = taken_;
    readyTaken_ = false;
    committing_ = true;
    lock.unlock();
    const bool written = Commit(publication);
    lock.lock();
    committing_ = false;
    if (!written) failed_();
    done_ = number;
    published_.notify_all();
  }
}

// Everything the headers point at goes to the disk before the headers do.
// Runs without the lock: the writing threads go on appending meanwhile, at
// other positions.
bool HeaderPublisher::Commit(const Publication& publication) {
  const auto write = [&](uint64_t offset, const void* data, size_t bytes) {
    return !ioFailed_ && io_->Write(offset, data, bytes);
  };
  if (ioFailed_ || !io_->Sync()) return false;
  for (const Patch& patch : publication.headers) {
    if (!write(patch.offset, patch.bytes.data(), patch.bytes.size())) return false;
  }
  if (!io_->Sync()) return false;
  // Only now no header points at the indexes that folded ones replaced.
  uint8_t junk[sizeof riff::kJunk];
  riff::StoreU32(junk, riff::kJunk);
  for (uint64_t offset : publication.staleIndexes) {
    if (!write(offset, junk, sizeof junk)) return false;
  }
  return true;
}
