#include "app/mpris/root_adaptor.h"

#include "app/mpris/mpris_service.h"

namespace mpris {

RootAdaptor::RootAdaptor(QObject* exported, MprisService& service)
    : QDBusAbstractAdaptor(exported), service_(service) {}

QString RootAdaptor::Identity() const { return QStringLiteral("Tonaria"); }

// The desktop entry's file name without ".desktop".
QString RootAdaptor::DesktopEntry() const { return QStringLiteral("org.tonaria.Tonaria"); }

QStringList RootAdaptor::SupportedUriSchemes() const { return {QStringLiteral("file")}; }

QStringList RootAdaptor::SupportedMimeTypes() const {
  return {QStringLiteral("audio/mpeg"),  QStringLiteral("audio/x-wav"),
          QStringLiteral("audio/wav"),   QStringLiteral("audio/x-vorbis+ogg"),
          QStringLiteral("audio/ogg"),   QStringLiteral("audio/x-ms-wma"),
          QStringLiteral("audio/x-ape"), QStringLiteral("audio/flac"),
          QStringLiteral("audio/x-flac")};
}

// The window is always on top and has no way to be brought forward on request.
void RootAdaptor::Raise() {}

void RootAdaptor::Quit() {
  MprisService& service = service_;
  service.Defer([&service] { service.Host().Quit(); });
}

}  // namespace mpris
