// Publishes the player to the desktop's media controls (media keys, sound menu,
// lock screen, playerctl) as org.mpris.MediaPlayer2.tonaria on the session bus.
// Window thread only: it is made, started, told of changes and destroyed there,
// and QtDBus delivers every call to it there.
#pragma once

#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/mpris/mpris_host.h"

class QDBusMessage;
class QObject;

namespace mpris {

class RootAdaptor;
class PlayerAdaptor;

inline constexpr char kBusName[] = "org.mpris.MediaPlayer2.tonaria";
inline constexpr char kObjectPath[] = "/org/mpris/MediaPlayer2";

class MprisService {
 public:
  // host is not owned and must outlive the service.
  explicit MprisService(MprisHost* host);
  MprisService(const MprisService&) = delete;
  MprisService& operator=(const MprisService&) = delete;
  ~MprisService();

  // Connects to the session bus and takes the bus name (a second running copy
  // takes "<name>.instance<pid>"). False when there is no session bus or no name
  // could be had; FailureMessage() is then the one line to print.
  bool Start();
  const std::string& FailureMessage() const { return failure_; }
  QString BusName() const { return busName_; }

  // The host calls this after every change of playback state, file or track
  // length, including a file ending by itself. Sends PropertiesChanged for
  // PlaybackStatus, Metadata and CanSeek where they differ from what was last sent.
  void NotifyStateChanged();
  // The host calls this once a seek has been carried out: sends Seeked with the
  // position now heard.
  void NotifySeeked();

  // For the adaptors.
  MprisHost& Host() const { return *host_; }
  QString CurrentStatus() const;
  QVariantMap CurrentMetadata() const;
  // The mpris:trackid of the current track (the no-track path before the first).
  QString CurrentTrackId() const;
  // Runs work on the window thread after the D-Bus call being handled has been
  // answered, so that a command which blocks (a modal dialog, a stop that waits
  // for the playback thread) never holds up the caller's reply.
  void Defer(std::function<void()> work);
  void Reply(const QDBusMessage& reply);

 private:
  MprisHost* host_;  // not owned
  // Declared parent first: the adaptors are its children and must go before it.
  std::unique_ptr<QObject> exported_;
  std::unique_ptr<RootAdaptor> root_;
  std::unique_ptr<PlayerAdaptor> player_;

  bool started_ = false;
  QString busName_;
  std::string failure_;

  // What the bus was last told, and what makes a new track id.
  QString sentStatus_;
  QVariantMap sentMetadata_;
  bool sentCanSeek_ = false;
  PlaybackState seenState_ = PlaybackState::kStopped;
  std::u16string seenPath_;
  std::uint64_t trackNumber_ = 0;
};

}  // namespace mpris
