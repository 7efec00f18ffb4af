// Loads the FFmpeg-backed media module on first use.
#pragma once

#include <memory>

#include "platform/ffmpeg/media_module.h"

namespace platform::ffmpeg {

// The module's entry points, or null when it cannot be loaded (the next call
// tries again). Looked for at TONARIA_FFMPEG_MODULE when that is set, else next
// to the executable, in ../lib/tonaria/modules from it, and last at the path the build
// placed it. Once loaded it stays loaded. Any thread.
const MediaApi* LoadMediaModule();

std::unique_ptr<MediaSource> OpenMediaPath(const char* utf8Path, const char* demuxer);
std::unique_ptr<MediaSource> OpenMediaSource(ByteSource* source, const char* demuxer);

}  // namespace platform::ffmpeg
