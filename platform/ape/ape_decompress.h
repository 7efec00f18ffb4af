// APE decompression: a decompressor opened by path that reports its format and
// hands out whole interleaved blocks (one sample of every channel). Whatever the
// file's sample width, blocks are 16-bit signed; more than two channels are
// mixed to stereo. The decoding itself lives in the FFmpeg media module.
#pragma once

#include <cstdint>
#include <memory>

namespace platform::ape {

enum APE_DECOMPRESS_FIELDS : int {
  APE_INFO_SAMPLE_RATE = 1003,
  APE_INFO_BITS_PER_SAMPLE = 1004,
  APE_INFO_BYTES_PER_SAMPLE = 1005,
  APE_INFO_CHANNELS = 1006,
  APE_INFO_BLOCK_ALIGN = 1007,
  // Blocks in the file; 0 here when the file cannot seek (a pipe).
  APE_DECOMPRESS_TOTAL_BLOCKS = 2002,
};

inline constexpr int ERROR_SUCCESS = 0;
inline constexpr int ERROR_INVALID_INPUT_FILE = 1002;
inline constexpr int ERROR_DECOMPRESSING_FRAME = 1010;
inline constexpr int ERROR_UNSUPPORTED_FILE_TYPE = 1013;
inline constexpr int ERROR_SEEKING = 1011;
inline constexpr int ERROR_LOADING_APE_DLL = 2001;  // the media module could not be loaded

class IAPEDecompress {
 public:
  virtual ~IAPEDecompress() = default;
  // Decodes up to blocks whole blocks into buffer (blocks × block align bytes of
  // room); *retrieved is how many came out, 0 at the end. ERROR_SUCCESS, or an
  // error code when decoding failed (what came before the failure is still given).
  virtual int GetData(char* buffer, int blocks, int* retrieved) = 0;
  // Moves so that GetData goes on from block `blockOffset` (from the file's
  // first). ERROR_SUCCESS, or ERROR_SEEKING when the file cannot seek or the block
  // is not in it; GetData then gives nothing more.
  virtual int Seek(int blockOffset) = 0;
  // One format field; 0 for fields not kept here.
  virtual std::intptr_t GetInfo(APE_DECOMPRESS_FIELDS field, std::intptr_t param1 = 0,
                                std::intptr_t param2 = 0) = 0;
};

// Opens an APE file by path. The extension picks the reader: ".ape", ".mac" or
// ".apl" in any case; anything else fails with ERROR_UNSUPPORTED_FILE_TYPE.
// Null with *errorCode set on failure; *errorCode is ERROR_SUCCESS otherwise.
std::unique_ptr<IAPEDecompress> CreateIAPEDecompress(const char16_t* fileName, int* errorCode);

}  // namespace platform::ape
