// The device layer over the desktop's sound server (libpulse; PipeWire answers the
// same protocol). Each sound buffer has its own connection and one playback stream.
// The server asks for data as it plays; the write callback copies it from the looping
// buffer at the write cursor and leaves those bytes silent. The write cursor is what
// the server has taken; the play cursor is what is heard, from the server's timing.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/sound/direct_sound.h"
#include "platform/sound/pulse_connection.h"

namespace platform::sound {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kConnectBound{2000};
// Restore runs on the playback thread, which a quit may be waiting for.
constexpr milliseconds kRestoreBound{500};
// A flush runs on the playback thread between blocks; the server answers at once.
constexpr milliseconds kFlushBound{100};
// A long server buffer, so that the server and we wake a few times a second; but
// well short of what a writer keeps queued ahead of the write cursor (at least half
// a second, refilled every 125 ms): when the server takes a whole buffer at once,
// what is left queued must last until the writer's next turn. The server gives half
// of what lies beyond two requests to the sound card's own buffer: 50 ms here (with
// nothing beyond, the card would be driven at its shortest period).
constexpr pa_usec_t kServerBufferUsec = 300 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kRequestUsec = 100 * PA_USEC_PER_MSEC;
// A fresh stream asks for a whole server buffer at once, and Play comes with the first
// block written: the first feed waits (polling) until the writer has put in as much
// as the server asks for, or until the file turns out shorter than that.
constexpr pa_usec_t kFirstFeedPollUsec = 5 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kFirstFeedLimitUsec = 250 * PA_USEC_PER_MSEC;

bool SampleFormat(const WaveFormat& format, pa_sample_format_t* out) {
  switch (format.wBitsPerSample) {
    case 8:
      *out = PA_SAMPLE_U8;
      return true;
    case 16:
      *out = PA_SAMPLE_S16LE;
      return true;
    case 32:
      *out = PA_SAMPLE_S32LE;
      return true;
    default:
      return false;
  }
}

class PulseSoundBuffer final : public SoundBuffer {
 public:
  PulseSoundBuffer(const pa_sample_spec& spec, std::uint32_t bytes)
      : spec_(spec),
        frame_(static_cast<std::uint32_t>(pa_frame_size(&spec))),
        silence_(spec.format == PA_SAMPLE_U8 ? 0x80 : 0x00),
        memory_(bytes, silence_) {}
  ~PulseSoundBuffer() override { Disconnect(); }

  // A new connection and a corked stream that continues at the write cursor.
  HRESULT Connect(milliseconds bound);

  HRESULT GetCurrentPosition(std::uint32_t* play, std::uint32_t* write) override {
    const std::uint64_t heard = Heard();
    const auto size = static_cast<std::uint64_t>(memory_.size());
    if (play != nullptr) *play = static_cast<std::uint32_t>(heard % size);
    if (write != nullptr) *write = static_cast<std::uint32_t>(taken_.load() % size);
    return DS_OK;
  }

  HRESULT GetStatus(std::uint32_t* status) override {
    if (status == nullptr) return DSERR_INVALIDPARAM;
    if (Lost()) {
      *status = DSBSTATUS_BUFFERLOST;
    } else {
      *status = playing_.load() ? DSBSTATUS_PLAYING | DSBSTATUS_LOOPING : 0;
    }
    return DS_OK;
  }

  // Holds the write callback off until Unlock.
  HRESULT Lock(std::uint32_t offset, std::uint32_t bytes, void** region1, std::uint32_t* size1,
               void** region2, std::uint32_t* size2, std::uint32_t flags) override {
    if (Lost()) return DSERR_BUFFERLOST;
    if (locked_.owns_lock()) return DSERR_INVALIDPARAM;
    std::unique_lock hold(memoryMutex_);
    const HRESULT hr = LockRegions(memory_.data(), static_cast<std::uint32_t>(memory_.size()),
                                   offset, bytes, flags, region1, size1, region2, size2);
    if (hr == DS_OK) locked_ = std::move(hold);
    lockedWhole_ = (flags & DSBLOCK_ENTIREBUFFER) != 0;
    return hr;
  }

  HRESULT Unlock(void*, std::uint32_t size1, void*, std::uint32_t size2) override {
    if (!locked_.owns_lock()) return DS_OK;
    locked_.unlock();
    if (!lockedWhole_) written_ += std::uint64_t{size1} + size2;
    return DS_OK;
  }

  // Uncorks; nothing waits for the server's answer.
  HRESULT Play(std::uint32_t, std::uint32_t, std::uint32_t) override {
    if (Lost()) return DSERR_BUFFERLOST;
    PulseConnection::Lock hold(*connection_);
    if (playing_.exchange(true)) return DS_OK;
    if (fedAny_) {
      feeding_ = true;
      Feed(pa_stream_writable_size(stream_));
    } else if (firstFeed_ == nullptr) {
      firstFeedBy_ = pa_rtclock_now() + kFirstFeedLimitUsec;
      firstFeed_ = pa_context_rttime_new(connection_->Context(), pa_rtclock_now(),
                                         &PulseSoundBuffer::OnFirstFeed, this);
    }
    Forget(pa_stream_cork(stream_, 0, nullptr, nullptr));
    return DS_OK;
  }

  // Corks: what the server holds stays there, and Play goes on with the next frame.
  HRESULT Stop() override {
    if (!connection_) return DS_OK;
    PulseConnection::Lock hold(*connection_);
    playing_ = false;
    feeding_ = false;
    CancelFirstFeed();
    if (!Lost()) Forget(pa_stream_cork(stream_, 1, nullptr, nullptr));
    return DS_OK;
  }

  // Drops the server's queue and ours. The next byte written plays at the server's
  // read index once the flush is done: the cursors are set up so that it is heard there.
  HRESULT Flush() override;

  // After the server went away: connects again and goes on at the write cursor, with
  // the buffer's contents kept (S_FALSE says so) and playing if it was.
  HRESULT Restore() override {
    if (!Lost()) return DS_OK;
    const bool wasPlaying = playing_.exchange(false);
    Disconnect();
    if (Connect(kRestoreBound) != DS_OK) {
      playing_ = wasPlaying;
      return DSERR_BUFFERLOST;
    }
    written_ = memory_.size();  // what was queued is still there
    if (wasPlaying) Play(0, 0, DSBPLAY_LOOPING);
    return S_FALSE;
  }

 private:
  static void OnWrite(pa_stream*, std::size_t bytes, void* self) {
    auto* buffer = static_cast<PulseSoundBuffer*>(self);
    if (buffer->feeding_) buffer->Feed(bytes);
  }
  static void OnStreamState(pa_stream* stream, void* self) {
    auto* buffer = static_cast<PulseSoundBuffer*>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
      buffer->connection_->MarkLost();
    } else {
      buffer->connection_->Notify();
    }
  }
  static void OnDone(pa_stream*, int, void* self) {
    static_cast<PulseSoundBuffer*>(self)->connection_->Notify();
  }
  // Waits, bounded, for an operation started under libpulse's lock, and drops it.
  bool Finish(pa_operation* operation);
  static void OnFirstFeed(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* buffer = static_cast<PulseSoundBuffer*>(self);
    const pa_usec_t now = pa_rtclock_now();
    if (buffer->written_.load() < pa_stream_writable_size(buffer->stream_) &&
        now < buffer->firstFeedBy_) {
      pa_context_rttime_restart(buffer->connection_->Context(), buffer->firstFeed_,
                                now + kFirstFeedPollUsec);
      return;
    }
    buffer->CancelFirstFeed();
    buffer->feeding_ = true;
    buffer->Feed(pa_stream_writable_size(buffer->stream_));
  }

  static void Forget(pa_operation* operation) {
    if (operation != nullptr) pa_operation_unref(operation);
  }

  bool Lost() const { return !connection_ || connection_->Lost(); }

  // Libpulse's lock held.
  void CancelFirstFeed() {
    if (firstFeed_ == nullptr) return;
    connection_->Api()->time_free(firstFeed_);
    firstFeed_ = nullptr;
  }

  // Libpulse's lock held. Copies `bytes` from the write cursor into the stream and
  // leaves them silent here, so a writer that falls behind is heard as silence.
  void Feed(std::size_t bytes);
  std::uint64_t Heard();
  void Disconnect();

  // Lock order, where they meet: connectionMutex_, libpulse's lock, memoryMutex_.
  const pa_sample_spec spec_;
  const std::uint32_t frame_;
  const std::uint8_t silence_;
  std::mutex memoryMutex_;            // held by Feed while it copies, and from Lock to Unlock
  std::vector<std::uint8_t> memory_;  // guarded by memoryMutex_
  std::unique_lock<std::mutex> locked_{memoryMutex_, std::defer_lock};  // owner's thread
  bool lockedWhole_ = false;                                            // owner's thread
  // Bytes the owner wrote since the stream began; read by the first feed.
  std::atomic<std::uint64_t> written_{0};
  // Replaced only by Connect and Disconnect, on the owner's thread, under
  // connectionMutex_; the DSP thread's cursor query reads it under that mutex.
  std::mutex connectionMutex_;
  std::unique_ptr<PulseConnection> connection_;
  pa_stream* stream_ = nullptr;  // owned; set with connection_
  // Under libpulse's lock.
  pa_time_event* firstFeed_ = nullptr;
  pa_usec_t firstFeedBy_ = 0;
  bool feeding_ = false;
  bool fedAny_ = false;
  std::uint64_t streamStart_ = 0;  // taken_ at the stream's position 0 (moved by Flush)
  // Bytes the server has taken in all, and the most that was heard; written under
  // libpulse's lock, read by anyone.
  std::atomic<std::uint64_t> taken_{0};
  std::atomic<std::uint64_t> heard_{0};
  std::atomic<bool> playing_{false};
};

void PulseSoundBuffer::Feed(std::size_t bytes) {
  const auto size = static_cast<std::uint64_t>(memory_.size());
  bytes -= bytes % frame_;
  while (bytes > 0) {
    void* data = nullptr;
    std::size_t got = bytes;
    if (pa_stream_begin_write(stream_, &data, &got) < 0 || data == nullptr) return;
    got = std::min(got - got % frame_, bytes);
    if (got == 0) {
      pa_stream_cancel_write(stream_);
      return;
    }
    std::uint64_t pos = taken_.load() % size;
    {
      std::scoped_lock hold(memoryMutex_);
      auto* out = static_cast<std::uint8_t*>(data);
      for (std::size_t left = got; left > 0;) {
        const std::size_t run = std::min<std::uint64_t>(left, size - pos);
        std::memcpy(out, memory_.data() + pos, run);
        std::memset(memory_.data() + pos, silence_, run);
        out += run;
        left -= run;
        pos = (pos + run) % size;
      }
    }
    if (pa_stream_write(stream_, data, got, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
    taken_ += got;
    fedAny_ = true;
    bytes -= got;
  }
}

// What is being heard: the stream's playback time (the server's latency taken into
// account), never behind what was heard before nor ahead of what the server took.
std::uint64_t PulseSoundBuffer::Heard() {
  std::scoped_lock guard(connectionMutex_);
  std::uint64_t heard = heard_.load();
  if (Lost()) return heard;
  pa_usec_t usec = 0;
  {
    PulseConnection::Lock hold(*connection_);
    if (stream_ == nullptr || pa_stream_get_time(stream_, &usec) < 0) return heard;
    heard = std::max(heard, streamStart_ + pa_usec_to_bytes(usec, &spec_));
    heard = std::min(heard, taken_.load());
    heard_ = heard;
  }
  return heard;
}

bool PulseSoundBuffer::Finish(pa_operation* operation) {
  if (operation == nullptr) return false;
  const bool done = connection_->WaitFor(
      [operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; },
      kFlushBound);
  PulseConnection::Lock hold(*connection_);
  pa_operation_unref(operation);
  return done;
}

HRESULT PulseSoundBuffer::Flush() {
  if (Lost()) return DSERR_BUFFERLOST;
  pa_operation* flushed = nullptr;
  {
    PulseConnection::Lock hold(*connection_);
    CancelFirstFeed();
    // As on a fresh stream, the first feed waits for a server buffer's worth.
    feeding_ = false;
    fedAny_ = false;
    written_ = 0;
    flushed = pa_stream_flush(stream_, &PulseSoundBuffer::OnDone, this);
    std::scoped_lock memory(memoryMutex_);
    std::fill(memory_.begin(), memory_.end(), silence_);
  }
  pa_operation* update = nullptr;
  if (Finish(flushed)) {
    PulseConnection::Lock hold(*connection_);
    update = pa_stream_update_timing_info(stream_, &PulseSoundBuffer::OnDone, this);
  }
  const bool timed = Finish(update);
  PulseConnection::Lock hold(*connection_);
  // Stopped, the server's read index stands still: new data starts there, and what
  // was taken before counts as heard.
  const std::uint64_t taken = taken_.load();
  std::uint64_t readIndex = 0;
  const pa_timing_info* info = timed ? pa_stream_get_timing_info(stream_) : nullptr;
  if (info != nullptr && info->read_index_corrupt == 0 && info->read_index >= 0) {
    readIndex = static_cast<std::uint64_t>(info->read_index);
  } else {
    pa_usec_t usec = 0;
    if (pa_stream_get_time(stream_, &usec) >= 0) readIndex = pa_usec_to_bytes(usec, &spec_);
  }
  streamStart_ = taken - std::min(taken, readIndex);
  heard_ = taken;
  return DS_OK;
}

HRESULT PulseSoundBuffer::Connect(milliseconds bound) {
  auto connection = PulseConnection::Open(bound);
  if (!connection) return DSERR_NODRIVER;
  {
    std::scoped_lock guard(connectionMutex_);
    connection_ = std::move(connection);
  }
  pa_stream* stream = nullptr;
  {
    PulseConnection::Lock hold(*connection_);
    stream = pa_stream_new(connection_->Context(), "Tonaria", &spec_, nullptr);
    stream_ = stream;
    streamStart_ = taken_.load();
    heard_ = streamStart_;
    written_ = 0;
    feeding_ = false;
    fedAny_ = false;
    if (stream == nullptr) {
      connection_->MarkLost();
    } else {
      pa_stream_set_state_callback(stream, &PulseSoundBuffer::OnStreamState, this);
      pa_stream_set_write_callback(stream, &PulseSoundBuffer::OnWrite, this);
      pa_buffer_attr attr;
      attr.maxlength = static_cast<std::uint32_t>(-1);
      attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kServerBufferUsec, &spec_));
      attr.prebuf = static_cast<std::uint32_t>(-1);
      attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(kRequestUsec, &spec_));
      attr.fragsize = static_cast<std::uint32_t>(-1);
      const auto flags =
          static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_INTERPOLATE_TIMING |
                                         PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
      if (pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr) < 0)
        connection_->MarkLost();
    }
  }
  const bool ready =
      stream != nullptr &&
      connection_->WaitFor([stream] { return pa_stream_get_state(stream) == PA_STREAM_READY; },
                           bound);
  if (!ready) {
    Disconnect();
    return DSERR_NODRIVER;
  }
  return DS_OK;
}

void PulseSoundBuffer::Disconnect() {
  std::scoped_lock guard(connectionMutex_);
  if (!connection_) return;
  {
    PulseConnection::Lock hold(*connection_);
    CancelFirstFeed();
    if (stream_ != nullptr) {
      pa_stream_set_state_callback(stream_, nullptr, nullptr);
      pa_stream_set_write_callback(stream_, nullptr, nullptr);
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
      stream_ = nullptr;
    }
  }
  connection_.reset();
}

class PulseSoundDevice final : public SoundDevice {
 public:
  HRESULT CreateSoundBuffer(const BufferDescription& description,
                            std::unique_ptr<SoundBuffer>* buffer) override {
    const WaveFormat* format = description.lpwfxFormat;
    if (buffer == nullptr || format == nullptr || description.dwBufferBytes == 0)
      return DSERR_INVALIDPARAM;
    pa_sample_spec spec{};
    spec.rate = format->nSamplesPerSec;
    spec.channels = static_cast<std::uint8_t>(format->nChannels);
    if (!SampleFormat(*format, &spec.format) || format->nChannels == 0 ||
        format->nChannels > PA_CHANNELS_MAX || !pa_sample_spec_valid(&spec) ||
        pa_frame_size(&spec) != format->nBlockAlign ||
        description.dwBufferBytes % format->nBlockAlign != 0) {
      return DSERR_BADFORMAT;
    }
    auto made = std::make_unique<PulseSoundBuffer>(spec, description.dwBufferBytes);
    const HRESULT hr = made->Connect(kConnectBound);
    if (hr != DS_OK) return hr;
    *buffer = std::move(made);
    return DS_OK;
  }

  HRESULT SetCooperativeLevel(const void*, std::uint32_t) override { return DS_OK; }
};

// The server plays to its default sink: one device, the default.
class PulseSystem final : public SoundSystem {
 public:
  HRESULT EnumeratePlayback(const EnumerateCallback& callback) override {
    callback(nullptr, u"Primary Sound Driver", u"");
    return DS_OK;
  }
  HRESULT EnumerateCapture(const EnumerateCallback&) override { return DS_OK; }
  HRESULT CreateDevice(const Guid* guid, std::unique_ptr<SoundDevice>* device) override {
    if (device == nullptr) return DSERR_INVALIDPARAM;
    if (guid != nullptr && !guid->IsNull()) return DSERR_NODRIVER;
    *device = std::make_unique<PulseSoundDevice>();
    return DS_OK;
  }
};

}  // namespace

SoundSystem& PulseSoundSystem() {
  static PulseSystem system;
  return system;
}

bool PulseServerAnswers(milliseconds bound) { return PulseConnection::Open(bound) != nullptr; }

}  // namespace platform::sound
