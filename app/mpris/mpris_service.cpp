#include "app/mpris/mpris_service.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QMetaObject>
#include <QObject>
#include <QStringList>

#include "app/mpris/player_adaptor.h"
#include "app/mpris/root_adaptor.h"
#include "app/mpris/track_metadata.h"

namespace mpris {
namespace {

constexpr char kPlayerInterface[] = "org.mpris.MediaPlayer2.Player";

QString StatusText(PlaybackState state) {
  switch (state) {
    case PlaybackState::kPlaying:
      return QStringLiteral("Playing");
    case PlaybackState::kPaused:
      return QStringLiteral("Paused");
    case PlaybackState::kStopped:
      break;
  }
  return QStringLiteral("Stopped");
}

std::string OneLine(const QString& text) {
  std::string line = text.simplified().toStdString();
  return line.empty() ? std::string("unknown error") : line;
}

}  // namespace

MprisService::MprisService(MprisHost* host)
    : host_(host),
      exported_(std::make_unique<QObject>()),
      root_(std::make_unique<RootAdaptor>(exported_.get(), *this)),
      player_(std::make_unique<PlayerAdaptor>(exported_.get(), *this)) {}

MprisService::~MprisService() {
  if (!started_) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.unregisterService(busName_);
  bus.unregisterObject(QString::fromLatin1(kObjectPath));
}

bool MprisService::Start() {
  if (started_) return true;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    failure_ = "tonaria: no D-Bus session bus, so media keys and desktop controls are off";
    return false;
  }
  const QString path = QString::fromLatin1(kObjectPath);
  if (!bus.registerObject(path, exported_.get(), QDBusConnection::ExportAdaptors)) {
    failure_ = "tonaria: could not publish the media controls on the session bus (" +
               OneLine(bus.lastError().message()) + "), so media keys and desktop controls are off";
    return false;
  }
  busName_ = QString::fromLatin1(kBusName);
  if (!bus.registerService(busName_)) {
    // Another copy of the program holds the name; desktop controls list both.
    busName_ =
        QStringLiteral("%1.instance%2").arg(busName_).arg(QCoreApplication::applicationPid());
    if (!bus.registerService(busName_)) {
      failure_ = "tonaria: could not take a name on the session bus (" +
                 OneLine(bus.lastError().message()) +
                 "), so media keys and desktop controls are off";
      bus.unregisterObject(path);
      busName_.clear();
      return false;
    }
  }
  started_ = true;
  seenState_ = host_->GetPlaybackState();
  seenPath_ = host_->CurrentFilePath();
  sentStatus_ = CurrentStatus();
  sentMetadata_ = CurrentMetadata();
  sentCanSeek_ = host_->CanSeek();
  return true;
}

QString MprisService::CurrentStatus() const { return StatusText(host_->GetPlaybackState()); }

QVariantMap MprisService::CurrentMetadata() const {
  TrackInfo track;
  track.path = AbsolutePath(host_->CurrentFilePath());
  track.name = host_->CurrentFileName();
  track.lengthUs = host_->TrackLengthUs();
  track.number = trackNumber_;
  return BuildMetadata(track);
}

QString MprisService::CurrentTrackId() const {
  return CurrentMetadata().value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path();
}

void MprisService::NotifyStateChanged() {
  const PlaybackState state = host_->GetPlaybackState();
  const std::u16string path = host_->CurrentFilePath();
  // A new file, or the same file started again, is a new track to the desktop.
  if (path != seenPath_ ||
      (seenState_ == PlaybackState::kStopped && state == PlaybackState::kPlaying)) {
    ++trackNumber_;
  }
  seenState_ = state;
  seenPath_ = path;
  if (!started_) return;

  QVariantMap changed;
  const QString status = CurrentStatus();
  if (status != sentStatus_) {
    changed.insert(QStringLiteral("PlaybackStatus"), status);
    sentStatus_ = status;
  }
  const QVariantMap metadata = CurrentMetadata();
  if (metadata != sentMetadata_) {
    changed.insert(QStringLiteral("Metadata"), metadata);
    sentMetadata_ = metadata;
  }
  const bool canSeek = host_->CanSeek();
  if (canSeek != sentCanSeek_) {
    changed.insert(QStringLiteral("CanSeek"), canSeek);
    sentCanSeek_ = canSeek;
  }
  if (changed.isEmpty()) return;

  QDBusMessage signal = QDBusMessage::createSignal(
      QString::fromLatin1(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
      QStringLiteral("PropertiesChanged"));
  signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList();
  QDBusConnection::sessionBus().send(signal);
}

void MprisService::NotifySeeked() {
  if (started_) Q_EMIT player_->Seeked(static_cast<qlonglong>(host_->PositionUs()));
}

void MprisService::Reply(const QDBusMessage& reply) { QDBusConnection::sessionBus().send(reply); }

void MprisService::Defer(std::function<void()> work) {
  QMetaObject::invokeMethod(exported_.get(), std::move(work), Qt::QueuedConnection);
}

}  // namespace mpris
