// APE and WMA test files, made from generated WAVs by jmac and ffmpeg on first
// use and shared by every test process of the build tree (jmac takes seconds to
// start), with ffmpeg's own 16-bit decode of each as the reference.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoders/decoder.h"

namespace ape_wma_fixtures {

struct Source {
  int rate;
  int channels;
  int bits;  // 16 or 24
};

// Fixture names: "ape-<rate>-<channels>-<bits>.ape", "wmav1-<rate>-<channels>.wma",
// "wmav2-<rate>-<channels>.wma", "video-only.wma", "two-audio.wma" (a 22050 Hz mono
// stream, then a 44100 Hz stereo one), "text.ape", "text.wma", and
// "cut-<name>" (the first third of <name>). Empty when it can't be made.
std::string Path(const std::string& name);
// ffmpeg's 16-bit decode of a fixture (of its last audio stream for two-audio.wma).
std::vector<std::uint8_t> Reference(const std::string& name);
// The 16-bit samples of the WAV an APE fixture was made from (24-bit ones cut to 16).
std::vector<std::uint8_t> SourcePcm(const std::string& apeName);

inline constexpr int kFrames =
    100000;  // ~2.3 s at 44.1 kHz; not a whole number of 1152-frame blocks

bool OpenPath(CDecoder& decoder, const std::string& path);
// Reads until 0, recording each Read's size.
std::vector<std::uint8_t> DecodeAll(CDecoder& decoder, std::vector<std::uint32_t>* sizes = nullptr);
// How many file descriptors this process has open, to show that nothing is left open.
int OpenFileCount();
// The largest difference between two 16-bit streams of equal length; -1 when the lengths differ.
int MaxDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

}  // namespace ape_wma_fixtures
