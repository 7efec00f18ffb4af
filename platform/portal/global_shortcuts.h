// System-wide shortcuts through the desktop portal's GlobalShortcuts interface:
// one session, its shortcuts bound once, each activation passed on. Every call
// is asynchronous (the desktop may ask the user first). A desktop may take the
// shortcuts without giving them keys until the user assigns some in its settings;
// which ids have keys is followed through the portal's ShortcutsChanged. Made,
// used and destroyed on one thread that runs a Qt event loop; callbacks come on
// that thread.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QDBusMessage;
class QDBusObjectPath;

namespace platform::portal {

inline constexpr char kPortalService[] = "org.freedesktop.portal.Desktop";
inline constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
inline constexpr char kGlobalShortcutsInterface[] = "org.freedesktop.portal.GlobalShortcuts";

struct Shortcut {
  QString id;                // stable: the desktop keeps the user's choice under it
  QString description;       // what the user is shown
  QString preferredTrigger;  // in the shortcuts notation of the desktop, e.g. "CTRL+1"
};

enum class Outcome {
  kBound,        // the desktop took the shortcuts and gave each a key
  kUnassigned,   // the session is open, but some or all shortcuts have no key yet
  kUnavailable,  // no portal on the bus, or one without global shortcuts
  kDenied,       // the user declined
  kFailed,       // the portal answered with an error or refused the session
};

class GlobalShortcuts final : public QObject {
  Q_OBJECT

 public:
  using ActivatedHandler = std::function<void(const QString& id)>;
  // Called once per Bind; detail is a few words on why, for anything but kBound.
  using FinishedHandler = std::function<void(Outcome outcome, const std::string& detail)>;
  // After kUnassigned or kBound, each time the desktop changes which ids have keys.
  using AssignmentHandler = std::function<void()>;

  // appId names the program to the desktop (its desktop entry's name).
  GlobalShortcuts(QDBusConnection bus, QString appId, ActivatedHandler onActivated,
                  FinishedHandler onFinished);
  GlobalShortcuts(const GlobalShortcuts&) = delete;
  GlobalShortcuts& operator=(const GlobalShortcuts&) = delete;
  ~GlobalShortcuts() override;  // closes the session: the shortcuts go with it

  // Registers the program, creates a session and binds the shortcuts. Once only.
  void Bind(std::vector<Shortcut> shortcuts);
  void SetAssignmentHandler(AssignmentHandler onAssignment) {
    onAssignment_ = std::move(onAssignment);
  }

  // The ids of Bind's shortcuts that have no key now, in Bind's order.
  std::vector<QString> Unassigned() const;

 private slots:
  void OnResponse(uint response, const QVariantMap& results, const QDBusMessage& message);
  void OnActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                   const QVariantMap& options);
  void OnShortcutsChanged(const QDBusMessage& message);

 private:
  enum class Step { kIdle, kRegistering, kCreatingSession, kBinding, kDone };

  void CreateSession();
  void BindShortcuts();
  // Calls a portal method whose answer comes as a Request's Response signal.
  void Request(const QString& method, const QList<QVariant>& arguments, QVariantMap options);
  void CloseSession();
  void Finish(Outcome outcome, const std::string& detail);
  // Takes the ids that have keys from a portal's a(sa{sv}) list.
  void TakeAssigned(const QVariant& list);

  QDBusConnection bus_;
  QString appId_;
  ActivatedHandler onActivated_;
  FinishedHandler onFinished_;
  AssignmentHandler onAssignment_;
  std::vector<Shortcut> shortcuts_;
  Step step_ = Step::kIdle;
  QString requestPath_;  // the Request whose Response is awaited; empty when none
  QString sessionPath_;  // once the portal made the session
  int tokens_ = 0;
  QStringList assigned_;  // the ids the desktop last said have keys
};

}  // namespace platform::portal
