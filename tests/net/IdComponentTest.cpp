#include "net/IdComponent.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// Every progress event of a component, in order, as text.
struct WorkLog {
  std::vector<std::string> events;

  void Attach(TIdComponent& component) {
    component.OnWorkBegin = [this](TIdComponent*, TWorkMode mode, int64_t max) {
      events.push_back("begin " + std::to_string(mode) + " " + std::to_string(max));
    };
    component.OnWork = [this](TIdComponent*, TWorkMode mode, int64_t count) {
      events.push_back("work " + std::to_string(mode) + " " + std::to_string(count));
    };
    component.OnWorkEnd = [this](TIdComponent*, TWorkMode mode) {
      events.push_back("end " + std::to_string(mode));
    };
  }
};

// A component whose progress events are logged from its first one on.
class LoggedComponentWork : public testing::Test {
protected:
  LoggedComponentWork() { log_.Attach(component_); }

  TIdComponent component_;
  WorkLog log_;
};

TEST_F(LoggedComponentWork, NestedWorkOfOneDirectionBeginsAndEndsOnce) {
  component_.StartWork(wmRead, 100);
  component_.AdvanceWork(wmRead, 10);
  component_.StartWork(wmRead, 5); // an inner read: only deepens the nesting
  component_.AdvanceWork(wmRead, 5);
  component_.FinishWork(wmRead);
  component_.AdvanceWork(wmRead, 1);
  component_.FinishWork(wmRead);
  EXPECT_EQ(log_.events, (std::vector<std::string>{"begin 0 100", "work 0 10", "work 0 15",
                                                   "work 0 16", "end 0"}));
  EXPECT_EQ(component_.WorkLevel(wmRead), 0);
  EXPECT_EQ(component_.WorkMaximum(wmRead), 100);
}

TEST_F(LoggedComponentWork, DirectionsAreCountedApart) {
  component_.StartWork(wmRead, 0);
  component_.StartWork(wmWrite, 7);
  component_.AdvanceWork(wmWrite, 7);
  component_.AdvanceWork(wmRead, 3);
  component_.FinishWork(wmWrite);
  component_.FinishWork(wmRead);
  EXPECT_EQ(log_.events, (std::vector<std::string>{"begin 0 0", "begin 1 7", "work 1 7", "work 0 3",
                                                   "end 1", "end 0"}));
}

TEST_F(LoggedComponentWork, AdvanceOutsideWorkAndUnbalancedFinishChangeNothing) {
  component_.AdvanceWork(wmRead, 50);
  component_.FinishWork(wmRead);
  EXPECT_TRUE(log_.events.empty());
  EXPECT_EQ(component_.WorkPosition(wmRead), 0);
  // A stray finish must not leave the counter below zero: the next work still begins.
  component_.StartWork(wmRead, 1);
  EXPECT_EQ(log_.events, std::vector<std::string>{"begin 0 1"});
}

TEST(TIdComponentWork, ForwardedWorkReportsWithTheTargetAsSender) {
  TIdComponent handler;
  TIdComponent connection;
  WorkLog handlerLog;
  handlerLog.Attach(handler);
  std::vector<TIdComponent*> senders;
  connection.OnWorkBegin = [&](TIdComponent* s, TWorkMode, int64_t) {
    senders.push_back(s);
  };
  connection.OnWork = [&](TIdComponent* s, TWorkMode, int64_t) {
    senders.push_back(s);
  };
  connection.OnWorkEnd = [&](TIdComponent* s, TWorkMode) {
    senders.push_back(s);
  };
  handler.SetWorkForwardTo(&connection);
  handler.StartWork(wmWrite, 4);
  handler.AdvanceWork(wmWrite, 4);
  handler.FinishWork(wmWrite);
  EXPECT_TRUE(handlerLog.events.empty());
  EXPECT_EQ(senders, (std::vector<TIdComponent*>{&connection, &connection, &connection}));
  EXPECT_EQ(connection.WorkPosition(wmWrite), 4);
}

TEST(TIdComponentWork, ForwardingStopsWhenTheTargetIsDestroyed) {
  TIdComponent handler;
  auto connection = std::make_unique<TIdComponent>();
  handler.SetWorkForwardTo(connection.get());
  connection.reset();
  EXPECT_EQ(handler.WorkForwardTo(), nullptr);
  WorkLog log;
  log.Attach(handler);
  handler.StartWork(wmRead, 2);
  EXPECT_EQ(log.events, std::vector<std::string>{"begin 0 2"});
}

struct StatusCase {
  TIdStatus status;
  QStringList arguments;
  QString text;
};

class StatusTextTest : public testing::TestWithParam<StatusCase> {};

TEST_P(StatusTextTest, FormatsTheStatusWithItsArgument) {
  const StatusCase& c = GetParam();
  TIdComponent component;
  std::vector<std::pair<TIdStatus, QString>> seen;
  component.OnStatus = [&](TIdComponent* sender, TIdStatus status, const QString& text) {
    EXPECT_EQ(sender, &component);
    seen.emplace_back(status, text);
  };
  component.ReportStatus(c.status, c.arguments);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, c.status);
  EXPECT_EQ(seen[0].second, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusTextTest,
    testing::Values(
        StatusCase{hsResolving, {"example.invalid"}, "Resolving hostname example.invalid."},
        StatusCase{hsConnecting, {"127.0.0.1"}, "Connecting to 127.0.0.1."},
        StatusCase{hsConnected, {}, "Connected."},
        StatusCase{hsDisconnecting, {}, "Disconnecting."},
        StatusCase{hsDisconnected, {}, "Disconnected."},
        StatusCase{hsStatusText, {"50% done"}, "50% done"}, StatusCase{hsStatusText, {}, ""}));

TEST(TIdComponentStack, HoldsTheStackForItsLifetime) {
  const int32_t before = StackUsageCount();
  {
    TIdComponent outer;
    new TIdComponent(&outer); // freed by its owner
    EXPECT_EQ(StackUsageCount(), before + 2);
    EXPECT_NE(GStack(), nullptr);
  }
  EXPECT_EQ(StackUsageCount(), before);
}

} // namespace
