// A sound server of the test's own: PulseAudio in a private 0700 runtime folder, on its
// own socket (PULSE_SERVER points at it), with a sink that plays into a pipe at a sound
// card's pace, recorded byte for byte. Started here and stopped by its id.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_support {

class PrivateSoundServer {
 public:
  // Needs pulseaudio on PATH.
  static bool Available();

  explicit PrivateSoundServer(int rate = 44100, int channels = 2);
  ~PrivateSoundServer();
  PrivateSoundServer(const PrivateSoundServer&) = delete;
  PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

  // Starts the server (again, after Kill) and waits, bounded, until it answers.
  bool Start();
  // The server dies at once (a crash, or a user restarting it).
  void Kill();
  void Freeze();
  void Thaw();
  pid_t Pid() const { return server_; }
  // The address a client is given (also exported as PULSE_SERVER by Start).
  std::string Address() const;
  // Environment for a program run against this server: "NAME=value" entries.
  std::vector<std::string> Environment() const;

  // Records what the sink plays, silence included; Start first.
  bool StartRecording();
  // Bytes recorded so far (all recordings of this server together).
  std::uint64_t RecordedBytes() const;
  // The last whole frame recorded so far (empty before any).
  std::vector<std::uint8_t> LastFrame() const;
  // Waits, bounded, until `bytes` more have been recorded.
  bool WaitForMoreRecorded(std::uint64_t bytes) const;
  // Ends the recording; the recordings made since construction, in order, as one.
  std::vector<std::uint8_t> StopRecording();
  // When the sink played byte `byte` of those recordings, for a byte of the last one
  // (with no server killed since it began): the sink plays at the clock's pace and
  // writes each block as it starts playing it.
  std::chrono::steady_clock::time_point PlayedAt(std::uint64_t byte) const;

  class Recorder;

 private:
  std::size_t Frame() const { return 2 * static_cast<std::size_t>(channels_); }

  const int rate_;
  const int channels_;
  std::string dir_;
  pid_t server_ = -1;
  std::unique_ptr<Recorder> recorder_;
  std::vector<std::uint8_t> earlier_;  // recordings of servers that went away
  // When byte datedByte_ of the recordings was played, in the last recording.
  std::chrono::steady_clock::time_point recordingFrom_;
  std::uint64_t datedByte_ = 0;
};

}  // namespace testing_support
