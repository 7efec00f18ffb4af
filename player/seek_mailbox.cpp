#include "player/seek_mailbox.h"

void SeekMailbox::Post(Request request) {
  std::scoped_lock hold(mutex_);
  if (request_ && request_->relative && request.relative) {
    request_->frames += request.frames;
  } else {
    request_ = request;
  }
  pending_ = true;
}

std::optional<SeekMailbox::Request> SeekMailbox::Take() {
  std::scoped_lock hold(mutex_);
  std::optional<Request> taken = request_;
  request_.reset();
  pending_ = false;
  return taken;
}

void HeardPosition::Rebase(std::uint64_t frame, std::int64_t playedBytes) {
  std::scoped_lock hold(mutex_);
  frame_ = frame;
  bytes_ = playedBytes;
}

std::uint64_t HeardPosition::FrameAt(std::int64_t playedBytes, std::uint32_t bytesPerFrame) const {
  std::scoped_lock hold(mutex_);
  if (bytesPerFrame == 0 || playedBytes <= bytes_) return frame_;
  return frame_ + static_cast<std::uint64_t>(playedBytes - bytes_) / bytesPerFrame;
}
