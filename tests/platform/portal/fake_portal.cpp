// A desktop portal's GlobalShortcuts for tests: prints a line per call, "ready" once it
// owns the name, and reads "activate ID [SESSION]" and "assign [ID,ID...]" from stdin.
// Options (see Behaviour): --refuse-session=CODE, --refuse-binding=CODE,
// --without-global-shortcuts, --without-registry (portals before 1.19), --reply-late
// (a reply after its Response), --session-handle-as-path, --assigned=ID,... (keys for
// these only, as before the user assigns them), --unassigned-listed (listed keyless).
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QDateTime>
#include <QSocketNotifier>
#include <cstdio>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>

// One entry of the shortcuts lists, a(sa{sv}).
struct ShortcutEntry {
  QString id;
  QVariantMap options;
};
Q_DECLARE_METATYPE(ShortcutEntry)

QDBusArgument& operator<<(QDBusArgument& argument, const ShortcutEntry& entry) {
  argument.beginStructure();
  argument << entry.id << entry.options;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, ShortcutEntry& entry) {
  argument.beginStructure();
  argument >> entry.id >> entry.options;
  argument.endStructure();
  return argument;
}

namespace {

constexpr char kService[] = "org.freedesktop.portal.Desktop";
constexpr char kPath[] = "/org/freedesktop/portal/desktop";
constexpr char kShortcuts[] = "org.freedesktop.portal.GlobalShortcuts";

void Say(const QString& line) {
  std::printf("%s\n", line.toUtf8().constData());
  std::fflush(stdout);
}

struct Behaviour {
  uint sessionResponse = 0, bindingResponse = 0;
  bool globalShortcuts = true, registry = true, replyLate = false, sessionHandleAsPath = false;
  std::optional<QStringList> assigned;  // the ids given keys; none: every id
  bool unassignedListed = false;
};

class FakePortal final : public QDBusVirtualObject {
 public:
  explicit FakePortal(Behaviour behaviour) : behaviour_(behaviour) {}

  QString introspect(const QString&) const override { return {}; }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
    const QString member = message.member();
    const QString interface = message.interface();
    if (heldReply_.type() != QDBusMessage::InvalidMessage) bus.send(std::exchange(heldReply_, {}));
    if (interface == QLatin1String("org.freedesktop.host.portal.Registry") &&
        member == "Register") {
      Say("register " + message.arguments().value(0).toString());
      bus.send(behaviour_.registry ? message.createReply()
                                   : message.createErrorReply(QDBusError::UnknownMethod,
                                                              "no such interface: " + interface));
    } else if (interface == QLatin1String(kShortcuts) && behaviour_.globalShortcuts &&
               member == "CreateSession") {
      const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().value(0));
      session_ = ObjectPath(message, "session", options.value("session_handle_token").toString());
      sessionOwner_ = message.service();
      Say("create-session " + session_);
      const QVariant handle = behaviour_.sessionHandleAsPath
                                  ? QVariant::fromValue(QDBusObjectPath(session_))
                                  : QVariant(session_);
      Respond(message, bus, behaviour_.sessionResponse, {{"session_handle", handle}});
    } else if (interface == QLatin1String(kShortcuts) && behaviour_.globalShortcuts &&
               member == "BindShortcuts") {
      const QString session = message.arguments().value(0).value<QDBusObjectPath>().path();
      const QDBusArgument list = message.arguments().value(1).value<QDBusArgument>();
      list.beginArray();
      bound_.clear();
      while (!list.atEnd()) {
        ShortcutEntry entry;
        list >> entry;
        Say(QStringLiteral("bind %1 %2 %3 %4")
                .arg(session, entry.id, entry.options.value("preferred_trigger").toString(),
                     entry.options.value("description").toString()));
        bound_.push_back(entry);
      }
      list.endArray();
      const QStringList keyed = behaviour_.assigned.value_or(AllIds());
      Respond(message, bus, behaviour_.bindingResponse,
              {{"shortcuts", QVariant::fromValue(Listed(keyed))}});
    } else if (interface == QLatin1String("org.freedesktop.portal.Session") && member == "Close") {
      Say("close " + message.path());
      bus.send(message.createReply());
    } else {
      bus.send(message.createErrorReply(QDBusError::UnknownMethod, "no such method: " + member));
    }
    return true;
  }

  // The user gave keys to these ids (and took them from the others).
  void Assign(const QStringList& ids) {
    QDBusMessage signal =
        QDBusMessage::createTargetedSignal(sessionOwner_, kPath, kShortcuts, "ShortcutsChanged");
    signal << QVariant::fromValue(QDBusObjectPath(session_)) << QVariant::fromValue(Listed(ids));
    QDBusConnection::sessionBus().send(signal);
    Say("assigned " + ids.join(','));
  }

  void Activate(const QString& id, const QString& session) {
    QDBusMessage signal =
        QDBusMessage::createTargetedSignal(sessionOwner_, kPath, kShortcuts, "Activated");
    signal << QVariant::fromValue(QDBusObjectPath(session.isEmpty() ? session_ : session)) << id
           << qulonglong(QDateTime::currentMSecsSinceEpoch()) << QVariantMap();
    QDBusConnection::sessionBus().send(signal);
  }

 private:
  QStringList AllIds() const {
    QStringList ids;
    for (const ShortcutEntry& entry : bound_) ids << entry.id;
    return ids;
  }

  // The bound shortcuts as a desktop lists them: those in `keyed` with their key.
  QList<ShortcutEntry> Listed(const QStringList& keyed) const {
    QList<ShortcutEntry> list;
    for (const ShortcutEntry& entry : bound_) {
      const bool hasKey = keyed.contains(entry.id);
      if (!hasKey && !behaviour_.unassignedListed) continue;
      list.push_back(
          {entry.id,
           {{"description", entry.options.value("description")},
            {"trigger_description",
             hasKey ? entry.options.value("preferred_trigger").toString() : QString()}}});
    }
    return list;
  }

  // The path a portal gives a Request or Session: the caller's name and its token.
  static QString ObjectPath(const QDBusMessage& call, const QString& kind, const QString& token) {
    QString sender = call.service().mid(1).replace('.', '_');
    return QStringLiteral("%1/%2/%3/%4").arg(kPath, kind, sender, token);
  }

  // Replies with the Request's path and answers on it as the desktop would.
  void Respond(const QDBusMessage& call, const QDBusConnection& bus, uint code,
               const QVariantMap& results) {
    const QVariantMap options = qdbus_cast<QVariantMap>(call.arguments().constLast());
    const QString request = ObjectPath(call, "request", options.value("handle_token").toString());
    const QDBusMessage reply = call.createReply(QVariant::fromValue(QDBusObjectPath(request)));
    QDBusMessage response = QDBusMessage::createTargetedSignal(
        call.service(), request, "org.freedesktop.portal.Request", "Response");
    response << code << results;
    if (behaviour_.replyLate) {
      heldReply_ = reply;
    } else {
      bus.send(reply);
    }
    bus.send(response);
  }

  Behaviour behaviour_;
  QDBusMessage heldReply_;  // --reply-late: sent before the answer to the next call
  QString session_, sessionOwner_;
  QList<ShortcutEntry> bound_;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  qDBusRegisterMetaType<ShortcutEntry>();
  qDBusRegisterMetaType<QList<ShortcutEntry>>();
  Behaviour behaviour;
  for (const QString& argument : application.arguments().mid(1)) {
    const QString value = argument.section('=', 1);
    if (argument.startsWith("--refuse-session=")) behaviour.sessionResponse = value.toUInt();
    if (argument.startsWith("--refuse-binding=")) behaviour.bindingResponse = value.toUInt();
    if (argument == "--without-global-shortcuts") behaviour.globalShortcuts = false;
    if (argument == "--without-registry") behaviour.registry = false;
    if (argument == "--reply-late") behaviour.replyLate = true;
    if (argument == "--session-handle-as-path") behaviour.sessionHandleAsPath = true;
    if (argument.startsWith("--assigned="))
      behaviour.assigned = value.split(',', Qt::SkipEmptyParts);
    if (argument == "--unassigned-listed") behaviour.unassignedListed = true;
  }
  FakePortal portal(behaviour);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.registerVirtualObject(kPath, &portal, QDBusConnection::SubPath) ||
      !bus.registerService(kService)) {
    std::fprintf(stderr, "fake_portal: cannot serve %s on the session bus\n", kService);
    return 1;
  }
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  std::string pending;
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[256];
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) return QCoreApplication::quit();  // the test closed our input
    pending.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;
         pending.erase(0, end + 1)) {
      const QStringList words = QString::fromStdString(pending.substr(0, end)).split(' ');
      if (words.value(0) == "activate") portal.Activate(words.value(1), words.value(2));
      if (words.value(0) == "assign") portal.Assign(words.value(1).split(',', Qt::SkipEmptyParts));
    }
  });
  Say("ready");
  return QCoreApplication::exec();
}
