#include "platform/ffmpeg/media_loader.h"

#include <cstdlib>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

#include <dlfcn.h>

namespace platform::ffmpeg {

namespace {

std::string ExecutableDir() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return {};
  std::string path(buffer, static_cast<std::size_t>(n));
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::vector<std::string> Candidates() {
  if (const char* chosen = std::getenv("TONARIA_FFMPEG_MODULE"); chosen != nullptr) return {chosen};
  std::vector<std::string> paths;
  const std::string dir = ExecutableDir();
  if (!dir.empty()) {
    paths.push_back(dir + "/libtonaria_ffmpeg.so");
    paths.push_back(dir + "/../lib/tonaria/modules/libtonaria_ffmpeg.so");
  }
  // Last, for programs run inside the build tree: an installed copy finds its own
  // module first, so it behaves the same whether or not the build tree is there.
#ifdef TONARIA_FFMPEG_MODULE_BUILD_PATH
  paths.emplace_back(TONARIA_FFMPEG_MODULE_BUILD_PATH);
#endif
  return paths;
}

std::mutex loadMutex;
const MediaApi* loaded = nullptr;  // guarded by loadMutex; never unloaded

}  // namespace

const MediaApi* LoadMediaModule() {
  std::scoped_lock lock(loadMutex);
  if (loaded != nullptr) return loaded;
  for (const std::string& path : Candidates()) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) continue;
    using Entry = const MediaApi* (*)();
    const auto entry = reinterpret_cast<Entry>(dlsym(handle, kTonariaMediaModuleSymbol));
    const MediaApi* api = entry != nullptr ? entry() : nullptr;
    if (api != nullptr && api->version == kMediaApiVersion) {
      loaded = api;
      return loaded;
    }
    dlclose(handle);
  }
  return nullptr;
}

std::unique_ptr<MediaSource> OpenMediaPath(const char* utf8Path, const char* demuxer) {
  const MediaApi* api = LoadMediaModule();
  if (api == nullptr) return nullptr;
  return std::unique_ptr<MediaSource>(api->openPath(utf8Path, demuxer));
}

std::unique_ptr<MediaSource> OpenMediaSource(ByteSource* source, const char* demuxer) {
  const MediaApi* api = LoadMediaModule();
  if (api == nullptr) return nullptr;
  return std::unique_ptr<MediaSource>(api->openSource(source, demuxer));
}

}  // namespace platform::ffmpeg
