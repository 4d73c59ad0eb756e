// Puts the writer's headers on the disk, on a thread of its own, so that a
// writer never waits for the disk to sync. It promises that headers reach
// the disk only after everything they describe, so no order of writes
// reaching the disk leaves headers that point at missing data, and that a
// writer that asks and then waits has its last headers on the disk.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "avi/avi_layout.h"
#include "avi/avi_writer.h"

class HeaderPublisher {
 public:
  // `mutex` is the writer's, held around every call here but Start and
  // Stop; `take` makes a publication of the file as it stands (called with
  // the lock held), `failed` is told, with the lock held, that the disk
  // refused one; `ioFailed` is the writer's: once raised nothing more is
  // written.
  HeaderPublisher(std::mutex& mutex, std::function<avi_layout::Publication()> take,
                  std::function<void()> failed, const std::atomic<bool>& ioFailed);
  HeaderPublisher(const HeaderPublisher&) = delete;
  HeaderPublisher& operator=(const HeaderPublisher&) = delete;
  ~HeaderPublisher() { Stop(); }

  // Starts the thread, writing to `io`.
  void Start(AviFileIo* io);
  // The file as it stands now is to be published. The publication is taken
  // at once when the thread is free, so it describes this moment;
  // otherwise the thread takes the next one when it is done with its own.
  void Ask();
  // Waits, the lock held by `lock` meanwhile released, until everything
  // asked for so far is on the disk, or failed.
  void AwaitLast(std::unique_lock<std::mutex>& lock);
  // Ends the thread once it has published what was asked; the lock not held.
  void Stop();

 private:
  void PublishWhenAsked();
  bool Commit(const avi_layout::Publication& publication);

  std::mutex& mutex_;
  std::function<avi_layout::Publication()> take_;
  std::function<void()> failed_;
  const std::atomic<bool>& ioFailed_;
  AviFileIo* io_ = nullptr;

  std::thread thread_;
  std::condition_variable wanted_;
  std::condition_variable published_;
  avi_layout::Publication ready_;  // taken, for the thread to commit
  bool readyTaken_ = false;
  bool committing_ = false;
  uint64_t asked_ = 0;
  uint64_t taken_ = 0;
  uint64_t done_ = 0;
  bool stopping_ = false;
};
