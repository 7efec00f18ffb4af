// The worker thread through which every Play on a sound buffer is made. One per
// process, started during static initialisation (before any window exists) and
// told to quit at process exit; tests make their own.
#pragma once

#include <mutex>
#include <thread>

#include "platform/kernel/event.h"
#include "platform/kernel/hresult.h"
#include "platform/sound/direct_sound.h"

class BufferStarter {
 public:
  // The worker's name, as the system shows it.
  static constexpr const char* kThreadName = "BufferStarter";

  BufferStarter();
  BufferStarter(const BufferStarter&) = delete;
  BufferStarter& operator=(const BufferStarter&) = delete;
  ~BufferStarter();

  bool Running();
  // Has the worker call buffer->Play(0, 0, DSBPLAY_LOOPING) and waits for its result;
  // E_FAIL when there is no worker. One request at a time.
  platform::HRESULT RequestBufferStart(platform::sound::SoundBuffer* buffer);
  // Tells the worker to quit and waits for it; later requests get E_FAIL.
  void Shutdown();

 private:
  void Work();

  std::mutex mutex_;  // held by a requester for its whole request, and by Shutdown
  platform::Event requestEvent_{platform::Event::Reset::kAuto};
  platform::Event doneEvent_{platform::Event::Reset::kAuto};
  // Written by the requester before requestEvent_, read by the worker after it; null = quit.
  platform::sound::SoundBuffer* request_ = nullptr;
  // Written by the worker before doneEvent_, read by the requester after it.
  platform::HRESULT result_ = platform::S_OK;
  std::thread worker_;  // guarded by mutex_
};

// The process's starter; it lives until the process ends.
BufferStarter& ProcessBufferStarter();
