// Test audio, made at test time: WAV files written with libsndfile, and other
// formats made from them by Debian's encoders.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// A fresh directory for this test process's files (under TONARIA_TEST_TMP or /tmp).
std::string TempDir();
std::string TempPath(const std::string& name);

// Interleaved 16-bit samples of `frames` frames: a distinct tone per channel with
// a little noise, so that dropped, doubled or swapped bytes show.
std::vector<std::int16_t> MakeTestSignal(int rate, int channels, int frames, unsigned salt = 1);

// Writes samples (interleaved, 16-bit) to a file in the given libsndfile format
// (SF_FORMAT_WAV | SF_FORMAT_PCM_16, ...). Returns false on failure.
bool WriteSoundFile(const std::string& path, int rate, int channels, int format,
                    const std::vector<std::int16_t>& samples);

// The same samples as little-endian bytes, the way a 16-bit PCM block holds them.
std::vector<std::uint8_t> ToBytes(const std::vector<std::int16_t>& samples);

// Runs a shell command; true when it exited with 0. Its output goes to a log file.
bool RunTool(const std::string& command);
bool HaveTool(const std::string& name);

// The bytes of a file; empty when it can't be read.
std::vector<char> ReadBytes(const std::string& path);

// Runs use(pipe) while a thread sends the file through a FIFO of the same name (so
// the extension stays), as slow storage or `<(...)` would give it: when `stall` is
// set, it runs after the first `split` bytes and before the rest. A reader that
// never opens the pipe or stops early is drained, so the writer always ends.
void ThroughPipe(const std::string& file, const std::function<void(const std::string&)>& use,
                 std::size_t split = 0, const std::function<void()>& stall = {});

}  // namespace testing_support
