#include "app/mpris/player_adaptor.h"

#include "app/mpris/mpris_service.h"
#include "app/mpris/open_uri.h"
#include "player/player.h"

namespace mpris {

PlayerAdaptor::PlayerAdaptor(QObject* exported, MprisService& service)
    : QDBusAbstractAdaptor(exported), service_(service) {}

QString PlayerAdaptor::PlaybackStatus() const { return service_.CurrentStatus(); }

QVariantMap PlayerAdaptor::Metadata() const { return service_.CurrentMetadata(); }

qlonglong PlayerAdaptor::Position() const { return service_.Host().PositionUs(); }

bool PlayerAdaptor::CanSeek() const { return service_.Host().CanSeek(); }

// A command refused by the File menu's state simply does nothing, as the
// interface asks of Pause while stopped and the like.
void PlayerAdaptor::Command(std::uint32_t commandId) {
  MprisService& service = service_;
  service.Defer([&service, commandId] { service.Host().SendCommand(commandId); });
}

void PlayerAdaptor::Play() { Command(IDM_PLAY); }
void PlayerAdaptor::Pause() { Command(IDM_PAUSE); }
void PlayerAdaptor::Stop() { Command(IDM_STOP); }

// Decided when it runs, so that it toggles the state the earlier calls left.
void PlayerAdaptor::PlayPause() {
  MprisService& service = service_;
  service.Defer([&service] {
    MprisHost& host = service.Host();
    host.SendCommand(host.GetPlaybackState() == PlaybackState::kPlaying ? IDM_PAUSE : IDM_PLAY);
  });
}

// One file at a time: these are accepted and do nothing.
void PlayerAdaptor::Next() {}
void PlayerAdaptor::Previous() {}

// Seeks are decided when they run, after the commands before them (an open of
// another file, say), and do nothing on a stream that cannot seek.
void PlayerAdaptor::Seek(qlonglong offset) {
  MprisService& service = service_;
  service.Defer([&service, offset] {
    if (service.Host().CanSeek()) service.Host().SeekBy(offset);
  });
}

// Only for the track playing now, and only to a place within it.
void PlayerAdaptor::SetPosition(const QDBusObjectPath& trackId, qlonglong position) {
  MprisService& service = service_;
  service.Defer([&service, track = trackId.path(), position] {
    MprisHost& host = service.Host();
    const std::int64_t length = host.TrackLengthUs();
    if (!host.CanSeek() || track != service.CurrentTrackId() || position < 0 ||
        (length > 0 && position > length))
      return;
    host.SeekTo(position);
  });
}

void PlayerAdaptor::OpenUri(const QString& uri, const QDBusMessage& message) {
  OpenUriResult result = ResolveOpenUri(uri.toStdString());
  if (!result.accepted) {
    message.setDelayedReply(true);
    service_.Reply(message.createErrorReply(QString::fromStdString(result.errorName),
                                            QString::fromUtf8(result.message)));
    return;
  }
  MprisService& service = service_;
  service.Defer([&service, path = std::move(result.path)] { service.Host().OpenFile(path); });
}

}  // namespace mpris
