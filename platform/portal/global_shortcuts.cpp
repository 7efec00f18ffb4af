#include "platform/portal/global_shortcuts.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QList>
#include <utility>

namespace platform::portal {

// One entry of BindShortcuts' a(sa{sv}): the id and its description and trigger.
struct PortalShortcut {
  QString id;
  QVariantMap options;
};

}  // namespace platform::portal

Q_DECLARE_METATYPE(platform::portal::PortalShortcut)

namespace platform::portal {

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
  argument.beginStructure();
  argument << shortcut.id << shortcut.options;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
  argument.beginStructure();
  argument >> shortcut.id >> shortcut.options;
  argument.endStructure();
  return argument;
}

namespace {

constexpr char kRequestInterface[] = "org.freedesktop.portal.Request";
constexpr char kSessionInterface[] = "org.freedesktop.portal.Session";
constexpr char kRegistryInterface[] = "org.freedesktop.host.portal.Registry";
constexpr char kNoPortal[] = "no desktop portal on the session bus";

// What a failed call means for the caller: a missing portal or interface is
// something to work around; anything else is the portal's own failure.
std::pair<Outcome, std::string> Failure(const QDBusError& error) {
  switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::Disconnected:
      return {Outcome::kUnavailable, kNoPortal};
    case QDBusError::UnknownMethod:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownObject:
      return {Outcome::kUnavailable, "the desktop portal has no global shortcuts"};
    default:
      return {Outcome::kFailed,
              "the desktop portal failed: " + error.message().simplified().toStdString()};
  }
}

// The portal's session handle comes as a string, or from some portals as a path.
QString PathOf(const QVariant& value) {
  if (value.userType() == qMetaTypeId<QDBusObjectPath>()) {
    return value.value<QDBusObjectPath>().path();
  }
  return value.toString();
}

}  // namespace

GlobalShortcuts::GlobalShortcuts(QDBusConnection bus, QString appId, ActivatedHandler onActivated,
                                 FinishedHandler onFinished)
    : bus_(std::move(bus)),
      appId_(std::move(appId)),
      onActivated_(std::move(onActivated)),
      onFinished_(std::move(onFinished)) {
  qDBusRegisterMetaType<PortalShortcut>();
  qDBusRegisterMetaType<QList<PortalShortcut>>();
}

GlobalShortcuts::~GlobalShortcuts() { CloseSession(); }

void GlobalShortcuts::Bind(std::vector<Shortcut> shortcuts) {
  if (step_ != Step::kIdle) return;
  shortcuts_ = std::move(shortcuts);
  if (!bus_.isConnected()) {
    Finish(Outcome::kUnavailable, "no session bus");
    return;
  }
  // One subscription each for the whole session: the Responses of every Request
  // (told apart by their path) and the activations.
  bus_.connect(kPortalService, QString(), kRequestInterface, QStringLiteral("Response"), this,
               SLOT(OnResponse(uint, QVariantMap, QDBusMessage)));
  bus_.connect(kPortalService, kPortalPath, kGlobalShortcutsInterface, QStringLiteral("Activated"),
               this, SLOT(OnActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
  bus_.connect(kPortalService, kPortalPath, kGlobalShortcutsInterface,
               QStringLiteral("ShortcutsChanged"), this, SLOT(OnShortcutsChanged(QDBusMessage)));
  // Newer portals learn a program's id from this call; older ones do not know it.
  step_ = Step::kRegistering;
  QDBusMessage call = QDBusMessage::createMethodCall(
      kPortalService, kPortalPath, kRegistryInterface, QStringLiteral("Register"));
  call << appId_ << QVariantMap();
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);  // this owns it
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
    done->deleteLater();
    if (done->isError() && done->error().type() == QDBusError::ServiceUnknown) {
      Finish(Outcome::kUnavailable, kNoPortal);
      return;
    }
    CreateSession();
  });
}

void GlobalShortcuts::CreateSession() {
  step_ = Step::kCreatingSession;
  Request(QStringLiteral("CreateSession"), {},
          {{QStringLiteral("session_handle_token"), QStringLiteral("tonaria_session")}});
}

void GlobalShortcuts::BindShortcuts() {
  step_ = Step::kBinding;
  QList<PortalShortcut> list;
  for (const Shortcut& shortcut : shortcuts_) {
    list.push_back({shortcut.id,
                    {{QStringLiteral("description"), shortcut.description},
                     {QStringLiteral("preferred_trigger"), shortcut.preferredTrigger}}});
  }
  Request(
      QStringLiteral("BindShortcuts"),
      {QVariant::fromValue(QDBusObjectPath(sessionPath_)), QVariant::fromValue(list), QString()},
      {});
}

void GlobalShortcuts::Request(const QString& method, const QList<QVariant>& arguments,
                              QVariantMap options) {
  // The Request's path is known before asking (every portal with global shortcuts
  // takes handle_token), so its Response is recognised even when it overtakes the
  // reply to the call.
  const QString token = QStringLiteral("tonaria%1").arg(++tokens_);
  options.insert(QStringLiteral("handle_token"), token);
  const QString sender = bus_.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
  const QString path =
      QStringLiteral("%1/request/%2/%3").arg(QLatin1String(kPortalPath), sender, token);
  requestPath_ = path;

  QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath,
                                                     kGlobalShortcutsInterface, method);
  call.setArguments(QList<QVariant>(arguments) << options);
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);  // this owns it
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, path](QDBusPendingCallWatcher* done) {
            done->deleteLater();
            // Only a failed call matters, and only while its Request is the one awaited.
            if (!done->isError() || path != requestPath_) return;
            const auto [outcome, detail] = Failure(done->error());
            Finish(outcome, detail);
          });
}

void GlobalShortcuts::CloseSession() {
  if (sessionPath_.isEmpty()) return;
  // No reply is awaited: the portal also ends a session whose client has gone.
  bus_.send(QDBusMessage::createMethodCall(kPortalService, sessionPath_, kSessionInterface,
                                           QStringLiteral("Close")));
  sessionPath_.clear();
}

void GlobalShortcuts::OnResponse(uint response, const QVariantMap& results,
                                 const QDBusMessage& message) {
  if (requestPath_.isEmpty() || message.path() != requestPath_) return;
  requestPath_.clear();
  // 0: done; 1: the user declined; anything else: the portal gave up.
  if (step_ == Step::kCreatingSession) {
    if (response == 0) sessionPath_ = PathOf(results.value(QStringLiteral("session_handle")));
    if (response == 1) {
      Finish(Outcome::kDenied, "the global shortcuts session was declined");
    } else if (sessionPath_.isEmpty()) {
      Finish(Outcome::kFailed, "the desktop portal refused a session");
    } else {
      BindShortcuts();
    }
  } else if (step_ == Step::kBinding) {
    if (response == 0) {
      // Success says only that the desktop took the shortcuts: the list it answers
      // with holds those that have keys (a desktop may give none until the user
      // assigns them). A session without keys stays open for when that happens.
      TakeAssigned(results.value(QStringLiteral("shortcuts")));
      const std::vector<QString> missing = Unassigned();
      if (missing.empty()) {
        Finish(Outcome::kBound, {});
      } else {
        std::string ids;
        for (const QString& id : missing) ids += (ids.empty() ? "" : ", ") + id.toStdString();
        Finish(Outcome::kUnassigned, "the desktop has assigned no keys to: " + ids);
      }
    } else if (response == 1) {
      Finish(Outcome::kDenied, "the shortcuts were declined");
    } else {
      Finish(Outcome::kFailed, "the desktop portal refused the shortcuts");
    }
  }
}

void GlobalShortcuts::OnActivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                                  const QVariantMap&) {
  if (step_ == Step::kDone && !sessionPath_.isEmpty() && session.path() == sessionPath_) {
    onActivated_(id);
  }
}

void GlobalShortcuts::OnShortcutsChanged(const QDBusMessage& message) {
  const QList<QVariant> arguments = message.arguments();
  if (step_ != Step::kDone || sessionPath_.isEmpty() || arguments.size() < 2 ||
      PathOf(arguments.at(0)) != sessionPath_) {
    return;
  }
  const QStringList before = assigned_;
  TakeAssigned(arguments.at(1));
  if (assigned_ != before && onAssignment_) onAssignment_();
}

std::vector<QString> GlobalShortcuts::Unassigned() const {
  std::vector<QString> missing;
  for (const Shortcut& shortcut : shortcuts_) {
    if (!assigned_.contains(shortcut.id)) missing.push_back(shortcut.id);
  }
  return missing;
}

void GlobalShortcuts::TakeAssigned(const QVariant& list) {
  assigned_.clear();
  // No list, or not one of shortcuts: nothing is known to have a key.
  if (list.userType() != qMetaTypeId<QDBusArgument>() ||
      list.value<QDBusArgument>().currentSignature() != QLatin1String("a(sa{sv})")) {
    return;
  }
  for (const PortalShortcut& shortcut : qdbus_cast<QList<PortalShortcut>>(list)) {
    // Some desktops list a shortcut the user has not given a key, with an empty trigger.
    const QVariant trigger = shortcut.options.value(QStringLiteral("trigger_description"));
    if (trigger.isValid() && trigger.toString().isEmpty()) continue;
    assigned_.append(shortcut.id);
  }
  assigned_.sort();
}

void GlobalShortcuts::Finish(Outcome outcome, const std::string& detail) {
  step_ = Step::kDone;
  requestPath_.clear();
  if (outcome != Outcome::kBound && outcome != Outcome::kUnassigned) CloseSession();
  onFinished_(outcome, detail);  // last: the handler may destroy this object
}

}  // namespace platform::portal
