#include "decoders/mad_decoder.h"

#include <algorithm>
#include <cstring>

#include <mad.h>

#include "decoders/mpeg_audio_span.h"

namespace decoding {

std::int16_t QuantizeMadSample(std::int32_t sample, MadDitherRecord& d) {
  constexpr int kScale = 29 - 16;
  constexpr std::uint32_t kMask = (1u << kScale) - 1;
  constexpr std::uint32_t kBias = 1u << (28 - 16);
  constexpr std::int32_t kMax = 0x0FFFFFFF;
  constexpr std::int32_t kMin = -0x10000000;

  // Sums are taken in 64 bits so that a sample far out of range clips instead of
  // wrapping round to the other end.
  std::int64_t s = std::int64_t{sample} + d.e0 - d.e1 + d.e2;
  d.e2 = d.e1;
  d.e1 = d.e0 / 2;

  // The difference of two successive uniform values gives triangular dither.
  const std::uint32_t r = d.random * 1664525u + 1013904223u;
  std::int64_t out = s + kBias + std::int64_t{r & kMask} - std::int64_t{d.random & kMask};
  d.random = r;

  // What is clipped away stays out of the error feedback.
  if (out > kMax) {
    out = kMax;
    if (s > kMax) s = kMax;
  } else if (out < kMin) {
    out = kMin;
    if (s < kMin) s = kMin;
  }
  out &= ~std::int64_t{kMask};
  d.e0 = static_cast<std::int32_t>(s - out);
  return static_cast<std::int16_t>(out >> kScale);
}

}  // namespace decoding

namespace {

// Left (or only) and right channel; shared by every decoder, never reset in use.
decoding::MadDitherRecord ditherRecords[2];

constexpr unsigned long kXingMagic = 0x58696E67;  // "Xing"

// True when the ancillary bits of a frame hold a complete Xing header.
bool IsXingFrame(mad_bitptr ptr, unsigned int bits) {
  if (bits < 64 || mad_bit_read(&ptr, 32) != kXingMagic) return false;
  const unsigned long flags = mad_bit_read(&ptr, 32);
  bits -= 64;
  // Frame count, byte count, table of contents, scale: each must be whole.
  if (flags & 1) {
    if (bits < 32) return false;
    mad_bit_read(&ptr, 32);
    bits -= 32;
  }
  if (flags & 2) {
    if (bits < 32) return false;
    mad_bit_read(&ptr, 32);
    bits -= 32;
  }
  if (flags & 4) {
    if (bits < 800) return false;
    for (int i = 0; i < 100; ++i) mad_bit_read(&ptr, 8);
    bits -= 800;
  }
  if (flags & 8) {
    if (bits < 32) return false;
    mad_bit_read(&ptr, 32);
  }
  return true;
}

// libmad objects that must be finished whichever way the scan ends.
struct ScanState {
  mad_stream stream;
  mad_frame frame;
  ScanState(const unsigned char* data, std::size_t size) {
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_stream_buffer(&stream, data, size);
  }
  ~ScanState() {
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
  }
  ScanState(const ScanState&) = delete;
  ScanState& operator=(const ScanState&) = delete;
};

// A header is taken for the start of the stream only when this many frames in a
// row (it and the ones after it) agree: album art and junk hold lone false ones.
constexpr int kAgreeingFrames = 3;
// How far past the leading tags the scan looks for the stream before it gives up.
constexpr std::uint32_t kMostJunkBytes = 1u << 20;

// Same layer, sample rate (so same MPEG version) and channel count. Stereo and
// joint stereo may alternate from frame to frame.
bool Agree(const mad_header& a, const mad_header& b) {
  return a.layer == b.layer && a.samplerate == b.samplerate &&
         (a.mode == MAD_MODE_SINGLE_CHANNEL) == (b.mode == MAD_MODE_SINGLE_CHANNEL);
}

enum class Chain { kAccepted, kRejected, kNeedMore };

// Whether the frame header at data[0] starts a run of agreeing frames. size bytes
// are held; atEnd says they end the audio and MAD_BUFFER_GUARD zeros follow them,
// so that a stream shorter than the run is still accepted when it ends in step.
Chain CheckChain(const unsigned char* data, std::size_t size, bool atEnd,
                 mad_header (&headers)[kAgreeingFrames]) {
  ScanState scan(data, size + (atEnd ? MAD_BUFFER_GUARD : 0));
  const unsigned char* expected = data;
  for (int i = 0; i < kAgreeingFrames; ++i) {
    if (mad_header_decode(&headers[i], &scan.stream) != 0) {
      if (i > 1 && atEnd && expected == data + size) return Chain::kAccepted;
      return !atEnd && scan.stream.error == MAD_ERROR_BUFLEN ? Chain::kNeedMore : Chain::kRejected;
    }
    // libmad resynchronises by itself: a frame that is not where the last one
    // ended breaks the run.
    if (scan.stream.this_frame != expected || !Agree(headers[0], headers[i]))
      return Chain::kRejected;
    expected = scan.stream.next_frame;
  }
  return Chain::kAccepted;
}

// The header that describes an accepted stream: the first frame's, or the
// second's when the first is a Xing frame.
mad_header FormatOf(const unsigned char* data, std::size_t size,
                    const mad_header (&headers)[kAgreeingFrames]) {
  ScanState scan(data, size);
  const bool decoded =
      mad_frame_decode(&scan.frame, &scan.stream) == 0 || scan.stream.error == MAD_ERROR_BADCRC;
  return decoded && IsXingFrame(scan.stream.anc_ptr, scan.stream.anc_bitlen) ? headers[1]
                                                                             : headers[0];
}

// Finds the first frame of the stream that the file gives from its position on,
// after the `givenBytes` already read from it, within `limit` bytes. The bytes held
// from that frame on are copied to input (which takes kScanBufferBytes);
// *consumed says how many the stream has given in all.
bool ScanFormat(platform::File& file, std::uint32_t limit, const std::uint8_t* given,
                std::uint32_t givenBytes, mad_header* first, unsigned char* input,
                std::uint32_t* inputBytes, std::uint32_t* consumed) {
  unsigned char buffer[CMadDecoder::kScanBufferBytes + MAD_BUFFER_GUARD];
  std::uint32_t base = 0;  // stream offset of buffer[0]
  std::uint32_t held = std::min(givenBytes, limit);
  std::memcpy(buffer, given, held);
  for (;;) {
    const std::uint32_t want =
        std::min(CMadDecoder::kScanBufferBytes - held, limit - (base + held));
    std::uint32_t got = 0;
    if (!file.Read(buffer + held, want, &got)) return false;
    held += got;
    const bool atEnd = got < want || base + held >= limit;
    if (atEnd) std::memset(buffer + held, 0, MAD_BUFFER_GUARD);
    std::uint32_t p = 0;
    for (; p + 1 < held; ++p) {
      if (buffer[p] != 0xFF || (buffer[p + 1] & 0xE0) != 0xE0) continue;
      mad_header headers[kAgreeingFrames];
      const Chain chain = CheckChain(buffer + p, held - p, atEnd, headers);
      if (chain == Chain::kAccepted) {
        *first = FormatOf(buffer + p, held - p + (atEnd ? MAD_BUFFER_GUARD : 0), headers);
        std::memcpy(input, buffer + p, held - p);
        *inputBytes = held - p;
        *consumed = base + held;
        return true;
      }
      // A run that goes past the buffer is looked at again from the buffer's start.
      if (chain == Chain::kNeedMore && p > 0) break;
    }
    if (atEnd || base + p > kMostJunkBytes) return false;
    // Keep what is not looked at yet; a last 0xFF may begin a header.
    if (p >= held) p = held > 0 ? held - 1 : 0;
    std::memmove(buffer, buffer + p, held - p);
    base += p;
    held -= p;
  }
}

}  // namespace

namespace {

struct MpegFrame {
  std::uint32_t bytes = 0;
  std::uint32_t samples = 0;  // per channel
};

// The length of the frame whose header starts at h, from the header alone; false
// for anything that is not a usable header (reserved values, free format).
bool ParseFrameHeader(const std::uint8_t* h, MpegFrame* out) {
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
  const int version = (h[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
  const int layer = 4 - ((h[1] >> 1) & 3);
  const int bitrateIndex = h[2] >> 4;
  const int rateIndex = (h[2] >> 2) & 3;
  const int padding = (h[2] >> 1) & 1;
  if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
    return false;
  static constexpr int kRates[3] = {44100, 48000, 32000};
  static constexpr int kBitrates[2][3][15] = {
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
  const bool mpeg1 = version == 3;
  const int rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
  const int bitrate = kBitrates[mpeg1 ? 0 : 1][layer - 1][bitrateIndex] * 1000;
  if (layer == 1) {
    out->bytes = static_cast<std::uint32_t>((12 * bitrate / rate + padding) * 4);
    out->samples = 384;
  } else {
    const int perSlot = layer == 3 && !mpeg1 ? 72 : 144;
    out->bytes = static_cast<std::uint32_t>(perSlot * bitrate / rate + padding);
    out->samples = layer == 3 && !mpeg1 ? 576 : 1152;
  }
  return true;
}

constexpr std::uint32_t kIndexWindowBytes = 1u << 20;

}  // namespace

struct CMadDecoder::MadState {
  mad_stream stream;
  mad_frame frame;
  mad_synth synth;
  MadState() {
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_synth_init(&synth);
  }
  ~MadState() {
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
  }
  MadState(const MadState&) = delete;
  MadState& operator=(const MadState&) = delete;
};

CMadDecoder::CMadDecoder() = default;

CMadDecoder::~CMadDecoder() { Close(); }

void CMadDecoder::ResetDitherRecordsForTesting() {
  ditherRecords[0] = {};
  ditherRecords[1] = {};
}

platform::HRESULT CMadDecoder::SetFile(const char16_t* path) {
  Close();
  return StorePath(path_, path);
}

std::int32_t CMadDecoder::Open() {
  Close();
  sampleRate_ = bitsPerSample_ = channels_ = 0;
  held_ = consumed_ = 0;
  guardAppended_ = ended_ = false;
  platform::FileInformation info;
  inputCapacity_ = kInputCapacity;
  input_.reset(static_cast<unsigned char*>(std::malloc(inputCapacity_)));
  if (!input_ || !file_.OpenRead(path_) || !file_.GetInformation(&info)) {
    input_.reset();
    file_.Close();
    return 0;
  }
  // A pipe has no size and cannot seek: it is read forward from its first byte,
  // and what it ends with is played as it comes.
  bounded_ = info.size > 0 && file_.SetPointer(0, platform::SeekOrigin::kCurrent) !=
                                  platform::kInvalidSetFilePointer;
  std::uint8_t head[decoding::kTagHeadBytes];
  std::uint32_t headBytes = 0;
  std::uint32_t limit = 0xFFFFFFFF;
  std::uint32_t spanBegin = 0;
  bool ready = false;
  if (bounded_) {
    const decoding::AudioSpan span = decoding::FindAudioSpan(file_, info.size);
    limit = span.end - span.begin;
    spanBegin = span.begin;
    ready = file_.SetPointer(static_cast<std::int32_t>(span.begin), platform::SeekOrigin::kBegin) ==
            span.begin;
  } else {
    ready = decoding::SkipLeadingTags(file_, head, &headBytes);
  }
  mad_header first{};
  std::uint32_t consumed = 0;
  if (!ready ||
      !ScanFormat(file_, limit, head, headBytes, &first, input_.get(), &held_, &consumed)) {
    input_.reset();
    file_.Close();
    held_ = 0;
    return 0;
  }
  sampleRate_ = static_cast<std::int32_t>(first.samplerate);
  channels_ = first.mode == MAD_MODE_SINGLE_CHANNEL ? 1 : 2;
  bitsPerSample_ = 16;
  outputWidth_ = 16;
  converter_ = std::make_unique<decoding::FormatConverter>(sampleRate_, channels_);

  // Decoding starts at the stream's first frame (a Xing frame is played too), with
  // the bytes the scan read from it on, and stops before the tags at the end.
  remaining_ = limit - consumed;
  // input_ holds the file from the first frame on.
  spanEnd_ = bounded_ ? spanBegin + limit : 0;
  inputOffset_ = bounded_ ? spanBegin + consumed - held_ : 0;
  indexNext_ = inputOffset_;
  frameOffsets_.clear();
  frameStarts_.clear();
  indexFrames_ = 0;
  // Free-format streams give no frame length in their headers: no index.
  MpegFrame firstFrame;
  indexComplete_ = held_ < 4 || !ParseFrameHeader(input_.get(), &firstFrame);
  // An empty synth output makes the first Read decode at once.
  mad_ = std::make_unique<MadState>();
  opened_ = 1;
  return 1;
}

void CMadDecoder::Close() {
  if (opened_ == 0) return;
  file_.Close();
  mad_.reset();
  input_.reset();
  converter_.reset();
  opened_ = 0;
}

bool CMadDecoder::Refill() {
  mad_stream& stream = mad_->stream;
  unsigned char* input = input_.get();
  if (stream.next_frame != nullptr) {
    inputOffset_ += static_cast<std::uint32_t>(stream.next_frame - input);
    held_ = static_cast<std::uint32_t>(input + held_ - stream.next_frame);
    std::memmove(input, stream.next_frame, held_);
    // Keep the stream pointing at the moved bytes, also if nothing more comes.
    mad_stream_buffer(&stream, input, held_);
  }
  std::uint32_t got = 0;
  const std::uint32_t room = inputCapacity_ - held_;
  if (!file_.Read(input + held_, bounded_ ? std::min(room, remaining_) : room, &got)) return false;
  if (bounded_) remaining_ -= got;
  if (got == 0) {
    // libmad finishes a frame only when bytes follow it: give the last one its guard.
    if (guardAppended_ || held_ == 0 || inputCapacity_ - held_ < MAD_BUFFER_GUARD) return false;
    std::memset(input + held_, 0, MAD_BUFFER_GUARD);
    got = MAD_BUFFER_GUARD;
    guardAppended_ = true;
  }
  held_ += got;
  mad_stream_buffer(&stream, input, held_);
  return true;
}

void CMadDecoder::Quantize(std::uint32_t first, std::uint32_t count, std::int16_t* out) {
  const mad_pcm& pcm = mad_->synth.pcm;
  const mad_fixed_t* left = pcm.samples[0] + first;
  const mad_fixed_t* right = pcm.samples[1] + first;
  // Worked on in locals: the stores could alias the shared records and would
  // force them back to memory after every sample.
  decoding::MadDitherRecord leftDither = ditherRecords[0];
  decoding::MadDitherRecord rightDither = ditherRecords[1];
  if (pcm.channels == 2) {
    for (std::uint32_t i = 0; i < count; ++i) {
      *out++ = decoding::QuantizeMadSample(left[i], leftDither);
      *out++ = decoding::QuantizeMadSample(right[i], rightDither);
    }
  } else {
    for (std::uint32_t i = 0; i < count; ++i)
      *out++ = decoding::QuantizeMadSample(left[i], leftDither);
  }
  ditherRecords[0] = leftDither;
  ditherRecords[1] = rightDither;
}

bool CMadDecoder::DecodeFrame() {
  while (mad_frame_decode(&mad_->frame, &mad_->stream) == -1) {
    // Recoverable errors (lost sync, bad CRC, bad data) just skip the frame.
    if (!MAD_RECOVERABLE(mad_->stream.error) && !Refill()) return false;
  }
  mad_synth_frame(&mad_->synth, &mad_->frame);
  consumed_ = 0;
  return true;
}

std::uint32_t CMadDecoder::Read(void* buffer, std::uint32_t) {
  if (opened_ == 0) return 0;
  const auto channels = static_cast<std::uint32_t>(channels_);
  // One MPEG-1 frame per call; MPEG-2 frames are joined in pairs, except at 22050 Hz.
  std::uint32_t quota = sampleRate_ == 22050 ? 576 : 1152;
  std::uint32_t total = 0;  // frames in output_
  while (quota > 0) {
    // What was converted from frames of another format comes first.
    const std::uint32_t pulled = converter_->Pull(output_ + total * channels, quota);
    total += pulled;
    quota -= pulled;
    if (quota == 0) break;
    const mad_pcm& pcm = mad_->synth.pcm;
    const std::uint32_t available = pcm.length - consumed_;
    if (available > 0) {
      if (pcm.samplerate == static_cast<unsigned>(sampleRate_) && pcm.channels == channels &&
          converter_->Idle()) {
        const std::uint32_t n = std::min(available, quota);
        Quantize(consumed_, n, output_ + total * channels);
        consumed_ += n;
        total += n;
        quota -= n;
      } else {
        Quantize(consumed_, available, scratch_);
        converter_->Push(scratch_, available, static_cast<int>(pcm.samplerate), pcm.channels);
        consumed_ = pcm.length;
      }
      continue;
    }
    // What was converted before the end is still delivered.
    if (ended_) break;
    if (!DecodeFrame()) {
      ended_ = true;
      converter_->Finish();
    }
  }
  const std::uint32_t bytes = total * channels * 2;
  std::memcpy(buffer, output_, bytes);
  return bytes;
}

void CMadDecoder::IndexTo(std::uint64_t frame) {
  if (indexComplete_ || indexFrames_ > frame) return;
  // Linear decoding reads on from here afterwards.
  const std::uint32_t resume = file_.SetPointer(0, platform::SeekOrigin::kCurrent);
  std::vector<std::uint8_t> window(kIndexWindowBytes);
  std::uint32_t windowStart = 0;
  std::uint32_t windowBytes = 0;
  // Makes the 4 bytes at `at` readable; false where the audio ends first.
  const auto header = [&](std::uint32_t at) -> const std::uint8_t* {
    if (at > spanEnd_ || spanEnd_ - at < 4) return nullptr;
    if (at < windowStart || at + 4 > windowStart + windowBytes) {
      windowStart = at;
      windowBytes = 0;
      const std::uint32_t want = std::min(kIndexWindowBytes, spanEnd_ - at);
      if (file_.SetPointer(static_cast<std::int32_t>(at), platform::SeekOrigin::kBegin) != at ||
          !file_.Read(window.data(), want, &windowBytes) || windowBytes < 4)
        return nullptr;
    }
    return window.data() + (at - windowStart);
  };
  // A frame counts when the next one follows it, or when it ends the audio: so
  // junk and tags between frames are stepped over as libmad resynchronises.
  const auto frameAt = [&](std::uint32_t at, MpegFrame* f) {
    const std::uint8_t* h = header(at);
    if (h == nullptr || !ParseFrameHeader(h, f) || f->bytes > spanEnd_ - at) return false;
    if (spanEnd_ - (at + f->bytes) < 4) return true;
    MpegFrame next;
    const std::uint8_t* n = header(at + f->bytes);
    return n != nullptr && ParseFrameHeader(n, &next);
  };
  std::uint32_t at = indexNext_;
  while (indexFrames_ <= frame) {
    MpegFrame f;
    if (!frameAt(at, &f)) {
      if (spanEnd_ - at < 4 || at >= spanEnd_) {
        indexComplete_ = true;
        break;
      }
      ++at;
      continue;
    }
    frameOffsets_.push_back(at);
    frameStarts_.push_back(indexFrames_);
    indexFrames_ += f.samples;
    at += f.bytes;
  }
  indexNext_ = at;
  file_.SetPointer(static_cast<std::int32_t>(resume), platform::SeekOrigin::kBegin);
}

bool CMadDecoder::CanSeek() {
  return opened_ != 0 && bounded_ && spanEnd_ <= 0x7FFFFFFF &&
         !(indexComplete_ && indexFrames_ == 0);
}

std::uint64_t CMadDecoder::GetLengthInFrames() {
  if (!CanSeek()) return 0;
  IndexTo(UINT64_MAX - 1);
  return indexFrames_;
}

std::int32_t CMadDecoder::SeekToFrame(std::uint64_t frame) {
  if (!CanSeek()) return kSeekRefused;
  IndexTo(frame);
  // What was decoded or converted for the old place goes.
  converter_ = std::make_unique<decoding::FormatConverter>(sampleRate_, channels_);
  mad_ = std::make_unique<MadState>();
  consumed_ = 0;
  held_ = 0;
  guardAppended_ = false;
  ended_ = true;
  if (frame >= indexFrames_) return kSeekPastEnd;
  const auto k = static_cast<std::size_t>(
      std::upper_bound(frameStarts_.begin(), frameStarts_.end(), frame) - frameStarts_.begin() - 1);
  const std::size_t first = k > kPrerollFrames ? k - kPrerollFrames : 0;
  inputOffset_ = frameOffsets_[first];
  remaining_ = spanEnd_ - inputOffset_;
  if (file_.SetPointer(static_cast<std::int32_t>(inputOffset_), platform::SeekOrigin::kBegin) !=
      inputOffset_)
    return kSeekPastEnd;
  // The frames before the target are decoded and synthesised, their output dropped.
  for (;;) {
    if (!DecodeFrame()) {
      converter_->Finish();
      return kSeekPastEnd;
    }
    const auto at =
        inputOffset_ + static_cast<std::uint32_t>(mad_->stream.this_frame - input_.get());
    if (at < frameOffsets_[k]) continue;
    // Landed where the index says the target's frame is (libmad may have
    // resynchronised past it on damage; then the frame it found plays whole).
    if (at == frameOffsets_[k])
      consumed_ = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(frame - frameStarts_[k], mad_->synth.pcm.length));
    break;
  }
  ended_ = false;
  return kSeekLanded;
}
