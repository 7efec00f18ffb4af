// Seeks asked for by the window's thread and carried out by the playback thread
// between blocks, and the frame of the file being heard since the last one.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

class SeekMailbox {
 public:
  struct Request {
    std::int64_t frames = 0;
    bool relative = false;  // frames from the place being heard, else from the start
  };

  // Any thread. A request not yet taken is replaced, except that moves add up:
  // two quick presses of a key move twice as far.
  void Post(Request request);
  // Playback thread: the request waiting, if any.
  std::optional<Request> Take();
  bool Pending() const { return pending_.load(); }

 private:
  std::mutex mutex_;
  std::optional<Request> request_;  // guarded by mutex_
  std::atomic<bool> pending_{false};
};

// Which frame of the file the output's played bytes stand for. The playback thread
// rebases it at each seek; any thread reads it.
class HeardPosition {
 public:
  void Rebase(std::uint64_t frame, std::int64_t playedBytes);
  std::uint64_t FrameAt(std::int64_t playedBytes, std::uint32_t bytesPerFrame) const;

 private:
  mutable std::mutex mutex_;
  std::uint64_t frame_ = 0;  // guarded by mutex_
  std::int64_t bytes_ = 0;   // guarded by mutex_
};
