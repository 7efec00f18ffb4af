// org.mpris.MediaPlayer2.Player: the File menu's Play, Pause and Stop, opening a
// file, seeking in it, and the playback state. One file at a time, fixed rate and
// volume.
#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QVariantMap>

namespace mpris {

class MprisService;

class PlayerAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
  Q_PROPERTY(double Rate READ Rate)
  Q_PROPERTY(QVariantMap Metadata READ Metadata)
  Q_PROPERTY(double Volume READ Volume)
  Q_PROPERTY(qlonglong Position READ Position)
  Q_PROPERTY(double MinimumRate READ MinimumRate)
  Q_PROPERTY(double MaximumRate READ MaximumRate)
  Q_PROPERTY(bool CanGoNext READ CanGoNext)
  Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
  Q_PROPERTY(bool CanPlay READ CanPlay)
  Q_PROPERTY(bool CanPause READ CanPause)
  Q_PROPERTY(bool CanSeek READ CanSeek)
  Q_PROPERTY(bool CanControl READ CanControl)

 public:
  PlayerAdaptor(QObject* exported, MprisService& service);

  QString PlaybackStatus() const;
  double Rate() const { return 1.0; }
  QVariantMap Metadata() const;
  double Volume() const { return 1.0; }
  qlonglong Position() const;
  double MinimumRate() const { return 1.0; }
  double MaximumRate() const { return 1.0; }
  bool CanGoNext() const { return false; }
  bool CanGoPrevious() const { return false; }
  bool CanPlay() const { return true; }
  bool CanPause() const { return true; }
  bool CanSeek() const;
  bool CanControl() const { return true; }

 public Q_SLOTS:
  void Next();
  void Previous();
  void Pause();
  void PlayPause();
  void Stop();
  void Play();
  void Seek(qlonglong offset);
  void SetPosition(const QDBusObjectPath& trackId, qlonglong position);
  // The message parameter is QtDBus's, for answering with an error; callers see
  // OpenUri(s).
  void OpenUri(const QString& uri, const QDBusMessage& message);

 Q_SIGNALS:
  void Seeked(qlonglong position);

 private:
  void Command(std::uint32_t commandId);

  MprisService& service_;
};

}  // namespace mpris
