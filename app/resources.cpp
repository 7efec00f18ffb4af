#include "app/resources.h"

namespace app {

const char16_t kVersion[] = u"" TONARIA_VERSION;

namespace qt = platform::qt;

std::u16string LoadString(std::uint32_t id) {
  switch (id) {
    case IDS_APP_TITLE:
      return u"Tonaria";
    case IDC_LUMENA:
      return u"LUMENA";
    default:
      return {};
  }
}

std::vector<qt::Accelerator> LoadAccelerators109() {
  return {{true, u'/', IDM_ABOUT_ACCEL}, {true, u'?', IDM_ABOUT_ACCEL}};
}

std::vector<std::pair<std::u16string, std::u16string>> OpenFileFilter() {
  return {
      {u"All supported files", u"*.mp3;*.wav;*.ogg;*.wma;*.ape;*.flac"},
      {u"MP3 files(*.mp3)", u"*.mp3"},
      {u"Wave files(*.wav)", u"*.wav"},
      {u"Ogg vorbis files(*.ogg)", u"*.ogg"},
      {u"WMA files(*.wma)", u"*.wma"},
      {u"APE files(*.ape)", u"*.ape"},
      {u"FLAC files(*.flac)", u"*.flac"},
  };
}

qt::DialogTemplate AboutDialog103() {
  using qt::ControlKind;
  return {LoadString(IDS_APP_TITLE) + u" " + kVersion,
          191,
          101,
          true,
          {
              {ControlKind::kStatic, -1, 12, 3, 166, 8,
               u"Support mp3, wma, ogg, wav, ape and flac formats."},
              {ControlKind::kDefaultPushButton, 1, 77, 82, 35, 12, u"&OK"},
              {ControlKind::kStatic, -1, 45, 69, 100, 8, u"Written by the Tonaria developers"},
              {ControlKind::kStatic, -1, 15, 15, 160, 8,
               u"libmad [https://www.underbit.com/products/mad/]"},
              {ControlKind::kStatic, -1, 15, 24, 150, 8,
               u"libogg && libvorbis [https://xiph.org/vorbis/]"},
              {ControlKind::kStatic, -1, 15, 33, 160, 8,
               u"monkey's audio [https://www.monkeysaudio.com/]"},
              {ControlKind::kStatic, -1, 15, 42, 112, 8, u"FLAC [https://xiph.org/flac/]"},
              {ControlKind::kStatic, -1, 15, 51, 156, 8,
               u"libsndfile [https://libsndfile.github.io/libsndfile/]"},
          },
          9};
}

}  // namespace app
