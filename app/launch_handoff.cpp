#include "app/launch_handoff.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QMetaObject>
#include <memory>

namespace app {
namespace {

// How long a later launch waits for the running program to take its file; the
// program answers at once, before it plays anything.
constexpr int kHandOverTimeoutMs = 5000;

class LaunchObject final : public QDBusVirtualObject {
 public:
  explicit LaunchObject(HandedFileHandler opened) : opened_(std::move(opened)) {}

  QString introspect(const QString&) const override {
    return QStringLiteral(
               "<interface name=\"%1\"><method name=\"Open\">"
               "<arg name=\"path\" type=\"s\" direction=\"in\"/></method></interface>")
        .arg(QLatin1String(kLaunchInterface));
  }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
    if (message.interface() != QLatin1String(kLaunchInterface) ||
        message.member() != QLatin1String("Open") || message.signature() != QLatin1String("s")) {
      return false;  // QtDBus answers with the error
    }
    bus.send(message.createReply());
    // After the answer: playing a file may wait on a playback thread or show a box.
    const std::u16string path = message.arguments().at(0).toString().toStdU16String();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [opened = opened_, path] { opened(path); },
        Qt::QueuedConnection);
    return true;
  }

 private:
  HandedFileHandler opened_;
};

std::unique_ptr<LaunchObject> launchObject;  // while this process serves the name
bool holdsName = false;

bool TakeName(QDBusConnection& bus, const HandedFileHandler& opened) {
  // The object first: a launch that sees the name taken may call it at once.
  launchObject = std::make_unique<LaunchObject>(opened);
  if (!bus.registerVirtualObject(QLatin1String(kLaunchObjectPath), launchObject.get())) {
    launchObject.reset();
    return false;
  }
  holdsName = bus.registerService(QLatin1String(kLaunchBusName));
  if (!holdsName) {
    bus.unregisterObject(QLatin1String(kLaunchObjectPath));
    launchObject.reset();
  }
  return holdsName;
}

bool HandOver(QDBusConnection& bus, const std::string& path) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      QLatin1String(kLaunchBusName), QLatin1String(kLaunchObjectPath),
      QLatin1String(kLaunchInterface), QStringLiteral("Open"));
  call << QString::fromStdString(path);
  return bus.call(call, QDBus::Block, kHandOverTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

}  // namespace

LaunchRole ClaimOrHandOver(const std::string& path, HandedFileHandler opened) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return LaunchRole::kOnItsOwn;
  if (TakeName(bus, opened)) return LaunchRole::kFirst;
  if (HandOver(bus, path)) return LaunchRole::kHandedOver;
  // The holder may have ended meanwhile: then this launch is the first after all.
  return TakeName(bus, opened) ? LaunchRole::kFirst : LaunchRole::kOnItsOwn;
}

void ReleaseLaunchName() {
  if (!holdsName) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.unregisterService(QLatin1String(kLaunchBusName));
  bus.unregisterObject(QLatin1String(kLaunchObjectPath));
  launchObject.reset();
  holdsName = false;
}

}  // namespace app
