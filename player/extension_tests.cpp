#include "player/extension_tests.h"

#include <string_view>

#include "platform/kernel/text.h"

namespace {

// tail is lower-case ASCII; each character of path matches its lower or upper case.
int EndsWith(const char16_t* path, std::u16string_view tail) {
  const std::size_t length = platform::Length(path);
  if (length == 0 || length < tail.size()) return 0;
  const char16_t* end = path + (length - tail.size());
  for (std::size_t i = 0; i < tail.size(); ++i) {
    const char16_t upper = static_cast<char16_t>(tail[i] - u'a' + u'A');
    if (end[i] != tail[i] && !(tail[i] >= u'a' && tail[i] <= u'z' && end[i] == upper)) return 0;
  }
  return 1;
}

}  // namespace

int IsMp3File(const char16_t* path) { return EndsWith(path, u"mp3"); }
int IsWavFile(const char16_t* path) { return EndsWith(path, u"wav"); }
int IsOggFile(const char16_t* path) { return EndsWith(path, u"ogg"); }
int IsWmaFile(const char16_t* path) { return EndsWith(path, u"wma"); }
int IsApeFile(const char16_t* path) { return EndsWith(path, u"ape"); }
int IsFlacFile(const char16_t* path) { return EndsWith(path, u"flac"); }
