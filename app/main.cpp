// Entry point. Plays the file named on the command line (or the demo track) with
// the engine and exits when the playback ends.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/shell_globals.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "player/player.h"

#ifndef TONARIA_DEMO_PATH
#define TONARIA_DEMO_PATH ""
#endif

int main(int argc, char** argv) {
  std::string path = TONARIA_DEMO_PATH;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::printf("usage: tonaria [FILE]\nPlays FILE (MP3, WAV, Ogg Vorbis, WMA, APE or FLAC).\n");
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("tonaria 0.2009.5\n");
      return 0;
    }
    path = argv[i];
  }
  const std::u16string widePath = platform::FromUtf8(path);
  platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity, widePath.c_str());
  shell::fileReady = 1;

  Player player;
  player.PreparePlayback();
  if (!player.output) std::fprintf(stderr, "tonaria: no sound device to play on\n");
  player.StartPlaybackThread();
  player.stopEvent->Wait();
  return 0;
}
