#include "decoders/mad_decoder.h"

#include <algorithm>
#include <cstring>

#include <mad.h>

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
  ScanState() {
    mad_stream_init(&stream);
    mad_frame_init(&frame);
  }
  ~ScanState() {
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
  }
  ScanState(const ScanState&) = delete;
  ScanState& operator=(const ScanState&) = delete;
};

// Finds the header that describes the file's audio: the first frame's, or the
// second's when the first is a Xing frame. Reads from the file's current position.
bool ScanFormat(platform::File& file, mad_header* first) {
  unsigned char buffer[CMadDecoder::kScanBufferBytes];
  ScanState scan;
  std::uint32_t held = 0;
  int decoded = 0;
  for (;;) {
    // A buffer full of one undecodable frame would never move on.
    if (held >= sizeof(buffer)) return false;
    std::uint32_t got = 0;
    if (!file.Read(buffer + held, sizeof(buffer) - held, &got) || got == 0) return false;
    held += got;
    mad_stream_buffer(&scan.stream, buffer, held);
    for (;;) {
      if (mad_frame_decode(&scan.frame, &scan.stream) == 0 ||
          scan.stream.error == MAD_ERROR_BADCRC) {
        ++decoded;
        if (decoded == 1 && IsXingFrame(scan.stream.anc_ptr, scan.stream.anc_bitlen)) continue;
        *first = scan.frame.header;
        return true;
      }
      if (MAD_RECOVERABLE(scan.stream.error)) continue;
      if (decoded > 0) {
        *first = scan.frame.header;
        return true;
      }
      if (scan.stream.error != MAD_ERROR_BUFLEN) return false;
      break;
    }
    // Keep the unfinished frame and read more behind it.
    if (scan.stream.next_frame != nullptr) {
      held = static_cast<std::uint32_t>(buffer + held - scan.stream.next_frame);
      std::memmove(buffer, scan.stream.next_frame, held);
    } else {
      held = 0;
    }
  }
}

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
  guardAppended_ = false;
  if (!file_.OpenRead(path_)) return 0;

  mad_header first{};
  if (!ScanFormat(file_, &first)) {
    file_.Close();
    return 0;
  }
  sampleRate_ = static_cast<std::int32_t>(first.samplerate);
  channels_ = first.mode == MAD_MODE_SINGLE_CHANNEL ? 1 : 2;
  bitsPerSample_ = 16;

  // Decoding starts again from byte 0: the frames the scan read are played too.
  outputWidth_ = 16;
  inputCapacity_ = kInputCapacity;
  input_.reset(static_cast<unsigned char*>(std::malloc(inputCapacity_)));
  if (file_.SetPointer(0, platform::SeekOrigin::kBegin) != 0 || !input_) {
    input_.reset();
    file_.Close();
    return 0;
  }
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
  opened_ = 0;
}

bool CMadDecoder::Refill() {
  mad_stream& stream = mad_->stream;
  unsigned char* input = input_.get();
  if (stream.next_frame != nullptr) {
    held_ = static_cast<std::uint32_t>(input + held_ - stream.next_frame);
    std::memmove(input, stream.next_frame, held_);
    // Keep the stream pointing at the moved bytes, also if nothing more comes.
    mad_stream_buffer(&stream, input, held_);
  }
  std::uint32_t got = 0;
  if (!file_.Read(input + held_, inputCapacity_ - held_, &got)) return false;
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

std::uint32_t CMadDecoder::Convert(std::uint32_t first, std::uint32_t count, std::uint8_t* out) {
  const mad_pcm& pcm = mad_->synth.pcm;
  const mad_fixed_t* left = pcm.samples[0] + first;
  // A frame whose mode differs from the first one's still fills the channels announced.
  const mad_fixed_t* right = (pcm.channels == 2 ? pcm.samples[1] : pcm.samples[0]) + first;
  std::uint8_t* p = out;
  auto store = [&p](std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    *p++ = static_cast<std::uint8_t>(u & 0xFF);
    *p++ = static_cast<std::uint8_t>(u >> 8);
  };
  // Worked on in locals: the byte stores could alias the shared records and would
  // force them back to memory after every sample.
  decoding::MadDitherRecord leftDither = ditherRecords[0];
  decoding::MadDitherRecord rightDither = ditherRecords[1];
  for (std::uint32_t i = 0; i < count; ++i) {
    store(decoding::QuantizeMadSample(left[i], leftDither));
    if (channels_ == 2) store(decoding::QuantizeMadSample(right[i], rightDither));
  }
  ditherRecords[0] = leftDither;
  ditherRecords[1] = rightDither;
  return static_cast<std::uint32_t>(p - out);
}

std::uint32_t CMadDecoder::Read(void* buffer, std::uint32_t) {
  if (opened_ == 0) return 0;
  // One MPEG-1 frame per call; MPEG-2 frames are joined in pairs, except at 22050 Hz.
  std::uint32_t quota = sampleRate_ == 22050 ? 576 : 1152;
  std::uint32_t total = 0;
  for (;;) {
    const std::uint32_t available = mad_->synth.pcm.length - consumed_;
    const std::uint32_t n = std::min(available, quota);
    if (n > 0) {
      total += Convert(consumed_, n, output_ + total);
      consumed_ += n;
      quota -= n;
      if (quota == 0) break;
    }
    bool ended = false;
    while (mad_frame_decode(&mad_->frame, &mad_->stream) == -1) {
      // Recoverable errors (lost sync, bad CRC, bad data) just skip the frame.
      if (!MAD_RECOVERABLE(mad_->stream.error) && !Refill()) {
        ended = true;
        break;
      }
    }
    // What was converted before the end is still delivered.
    if (ended) break;
    mad_synth_frame(&mad_->synth, &mad_->frame);
    consumed_ = 0;
  }
  std::memcpy(buffer, output_, total);
  return total;
}
