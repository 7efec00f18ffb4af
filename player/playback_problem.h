// Why a playback did not start, or ended before its file did. The engine hands
// these on as values; the shell alone puts them into words.
#pragma once

#include <cstdint>

enum class PlaybackProblem : std::uint8_t {
  kNone,               // it started; or it ended with its file, or by Stop
  kUnknownType,        // no decoder serves the file's type (the engine's box has said so)
  kCannotOpen,         // the decoder could not open the file or learn its format
  kNoOutput,           // no sound output could be made for the format
  kOutputDidNotStart,  // the output was made but would not start
  kNoAudio,            // the file opened, yet not one block of it was played
  kDeviceLost,         // the sound server went away for good while playing
};
