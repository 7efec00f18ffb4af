// The desktop portal's global shortcuts against a fake portal on a private bus:
// what is bound, what an activation delivers, and each way it can fail.
#include "platform/portal/global_shortcuts.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include "tests/support/audio_fixtures.h"
#include "tests/support/child_process.h"
#include "tests/support/playback_doubles.h"

namespace {

using mpris_testing::ChildProcess;
using mpris_testing::StartPrivateBus;
using platform::portal::GlobalShortcuts;
using platform::portal::Outcome;
using testing_support::kBound;

constexpr auto kBoundMs = std::chrono::duration_cast<std::chrono::milliseconds>(kBound);

// Runs the event loop until holds() is true, within the bound.
bool PumpUntil(const std::function<bool()>& holds) {
  QTimer tick;  // wakes the loop now and then, so the bound is kept
  tick.start(20);
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  while (!holds()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

class PortalShortcuts : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "portal_test";
    static char* argv[] = {name, nullptr};
    application_ = std::make_unique<QCoreApplication>(argc, argv);
    if (!testing_support::HaveTool("dbus-daemon")) return;
    bus_ = StartPrivateBus(&address_, kBoundMs);
  }

  static void TearDownTestSuite() {
    bus_.reset();
    application_.reset();
  }

  void SetUp() override {
    if (!bus_) GTEST_SKIP() << "needs dbus-daemon (scripts/install-deps.sh)";
  }

  void TearDown() override {
    client_.reset();
    if (portal_) portal_->CloseInput();
    if (portal_) portal_->Wait(kBoundMs);
    QDBusConnection::disconnectFromBus(connectionName_);
  }

  // Ends what the last binding left and starts the fake portal with these options (null:
  // no portal on the bus), waiting until it serves.
  void StartPortal(const char* option, const char* another = "") {
    TearDown();
    portal_.reset();
    outcome_.reset();
    assignmentsSeen_ = 0;
    said_ = 0;
    if (option == nullptr) return;
    portal_ = std::make_unique<ChildProcess>();
    ASSERT_TRUE(
        portal_->Start({FAKE_PORTAL, option, another}, {{"DBUS_SESSION_BUS_ADDRESS", address_}}));
    ASSERT_NE(portal_->WaitForLine("ready", 0, kBoundMs), std::string::npos) << portal_->Err();
  }

  // Binds two shortcuts from a connection of its own; the outcome, once it comes.
  std::optional<Outcome> Bind() {
    connectionName_ = QStringLiteral("client%1").arg(++connections_);
    QDBusConnection bus =
        QDBusConnection::connectToBus(QString::fromStdString(address_), connectionName_);
    client_ = std::make_unique<GlobalShortcuts>(
        bus, QStringLiteral("org.example.Player"),
        [this](const QString& id) { activated_.push_back(id.toStdString()); },
        [this](Outcome outcome, const std::string& detail) {
          outcome_ = outcome;
          detail_ = detail;
        });
    client_->SetAssignmentHandler([this] { ++assignmentsSeen_; });
    client_->Bind({{"play", "Play", "CTRL+1"}, {"stop", "Stop", "CTRL+3"}});
    PumpUntil([this] { return outcome_.has_value(); });
    return outcome_;
  }

  // Waits until the fake portal has printed a line holding text (after the last one found).
  bool PortalSaid(const std::string& text) {
    return PumpUntil([&] {
      const std::size_t end = portal_->WaitForLine(text, said_, std::chrono::milliseconds(0));
      if (end == std::string::npos) return false;
      said_ = end;
      return true;
    });
  }

  static inline std::unique_ptr<QCoreApplication> application_;
  static inline std::unique_ptr<ChildProcess> bus_;
  static inline std::string address_;
  static inline int connections_ = 0;

  std::unique_ptr<ChildProcess> portal_;
  std::unique_ptr<GlobalShortcuts> client_;
  QString connectionName_;
  std::optional<Outcome> outcome_;
  std::string detail_;
  std::vector<std::string> activated_;
  int assignmentsSeen_ = 0;
  std::size_t said_ = 0;
};

// A reply after its Response, a session handle as an object path, no host Registry
// (portals before 1.19; Debian 12 has 1.16).
class PortalKinds : public PortalShortcuts, public ::testing::WithParamInterface<const char*> {};

TEST_P(PortalKinds, BindEachShortcutWithItsTriggerAndPassOnItsActivations) {
  StartPortal(GetParam());
  ASSERT_EQ(Bind(), Outcome::kBound) << detail_ << "\nportal: " << portal_->Out();
  ASSERT_TRUE(PortalSaid("register org.example.Player"));
  ASSERT_TRUE(PortalSaid("create-session "));
  const std::string& out = portal_->Out();
  const std::size_t at = out.find("create-session ") + 15;
  const std::string session = out.substr(at, out.find('\n', at) - at);
  ASSERT_TRUE(PortalSaid("bind " + session + " play CTRL+1 Play"));
  ASSERT_TRUE(PortalSaid("bind " + session + " stop CTRL+3 Stop"));

  portal_->WriteLine("activate stop /org/freedesktop/portal/desktop/session/another/client");
  portal_->WriteLine("activate play");
  ASSERT_TRUE(PumpUntil([this] { return !activated_.empty(); }));
  EXPECT_EQ(activated_, std::vector<std::string>{"play"}) << "another session's shortcut was taken";
  EXPECT_TRUE(client_->Unassigned().empty());

  client_.reset();
  EXPECT_TRUE(PortalSaid("close " + session)) << "the session outlived the shortcuts";
}

INSTANTIATE_TEST_SUITE_P(Portals, PortalKinds,
                         ::testing::Values("", "--reply-late", "--session-handle-as-path",
                                           "--without-registry"));

TEST_F(PortalShortcuts, SaysWhyWhenThereAreNoShortcuts) {
  struct Row {
    const char* portal;  // its option; null: no portal on the bus
    Outcome outcome;
    const char* detail;
    bool sessionClosed;
  };
  const Row rows[] = {
      {.portal = nullptr,
       .outcome = Outcome::kUnavailable,
       .detail = "no desktop portal",
       .sessionClosed = false},
      {.portal = "--without-global-shortcuts",
       .outcome = Outcome::kUnavailable,
       .detail = "has no global shortcuts",
       .sessionClosed = false},
      {.portal = "--refuse-session=2",
       .outcome = Outcome::kFailed,
       .detail = "refused a session",
       .sessionClosed = false},
      {.portal = "--refuse-session=1",
       .outcome = Outcome::kDenied,
       .detail = "declined",
       .sessionClosed = false},
      {.portal = "--refuse-binding=1",
       .outcome = Outcome::kDenied,
       .detail = "declined",
       .sessionClosed = true},
      {.portal = "--refuse-binding=2",
       .outcome = Outcome::kFailed,
       .detail = "refused the shortcuts",
       .sessionClosed = true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.portal != nullptr ? row.portal : "no portal");
    StartPortal(row.portal);
    EXPECT_EQ(Bind(), row.outcome);
    EXPECT_NE(detail_.find(row.detail), std::string::npos) << detail_;
    if (row.sessionClosed) {
      EXPECT_TRUE(PortalSaid("close "));
    }
  }
}

// A desktop may take the shortcuts with success and give keys to none or only some of
// them until the user assigns them: that is not bound, and the session stays open.
TEST_F(PortalShortcuts, ShortcutsTheDesktopGaveNoKeyAreNotBound) {
  struct Row {
    const char* option;
    const char* another;
    Outcome outcome;
    std::vector<QString> unassigned;
  };
  const Row rows[] = {
      {.option = "--assigned=",
       .another = "",
       .outcome = Outcome::kUnassigned,
       .unassigned = {"play", "stop"}},
      {.option = "--assigned=stop",
       .another = "",
       .outcome = Outcome::kUnassigned,
       .unassigned = {"play"}},
      {.option = "--assigned=play",
       .another = "--unassigned-listed",
       .outcome = Outcome::kUnassigned,
       .unassigned = {"stop"}},
      {.option = "--assigned=",
       .another = "--unassigned-listed",
       .outcome = Outcome::kUnassigned,
       .unassigned = {"play", "stop"}},
      {.option = "--assigned=play,stop",
       .another = "--unassigned-listed",
       .outcome = Outcome::kBound,
       .unassigned = {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.option) + " " + row.another);
    StartPortal(row.option, row.another);
    ASSERT_EQ(Bind(), row.outcome) << detail_ << "\nportal: " << portal_->Out();
    EXPECT_EQ(client_->Unassigned(), row.unassigned);
    for (const QString& id : row.unassigned) {
      EXPECT_NE(detail_.find(id.toStdString()), std::string::npos) << detail_;
    }
    // The session is kept: activations still come through it.
    portal_->WriteLine("activate stop");
    ASSERT_TRUE(PumpUntil([this] { return !activated_.empty(); }));
    EXPECT_EQ(activated_, std::vector<std::string>{"stop"});
    activated_.clear();
    EXPECT_EQ(portal_->Out().find("close "), std::string::npos) << portal_->Out();
  }
}

TEST_F(PortalShortcuts, FollowsTheKeysTheUserAssignsLater) {
  StartPortal("--assigned=");
  ASSERT_EQ(Bind(), Outcome::kUnassigned) << detail_;
  struct Step {
    const char* command;
    std::vector<QString> unassigned;
  };
  const Step steps[] = {
      {"assign stop", {"play"}},
      {"assign play,stop", {}},
      {"assign play", {"stop"}},
  };
  int seen = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.command);
    portal_->WriteLine(step.command);
    ASSERT_TRUE(PumpUntil([&] { return assignmentsSeen_ > seen; })) << portal_->Out();
    seen = assignmentsSeen_;
    EXPECT_EQ(client_->Unassigned(), step.unassigned);
  }
  portal_->WriteLine("activate play");
  ASSERT_TRUE(PumpUntil([this] { return !activated_.empty(); }));
  EXPECT_EQ(activated_, std::vector<std::string>{"play"});
  EXPECT_EQ(assignmentsSeen_, 3) << "told of a change that changed nothing";
}

}  // namespace
