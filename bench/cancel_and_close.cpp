// cancel_and_close: how fast the window lets go of a page read from a server that never
// answers (a loopback peer that reads the request and holds it).
//
//   cancel_and_close [ROUNDS]
//
// Esc: the time from the key to the window being idle again (button reading "Create", fields
// taking input), and to the reading thread having ended. Close: the real window run as the
// program runs it, in a child process (the end-to-end tests' child program), closed while it
// reads; the time from the close to the child's exit, as the parent sees it. Median and worst of
// ROUNDS (20) each. Needs an X display.
//
// With MARQUELO_BENCH_STALLED_ADDRESS set to an address whose name the resolver never answers
// for (bench/connect_paths.sh sets one up), only Esc is measured, pressed while that name is
// being looked up: the time from the key to the window idle and to the reading thread ended.

#include "app/Application.h"
#include "app/FailureDisplay.h"
#include "app/SlideshowUnit.h"
#include "bench/ShownWindow.h"
#include "tests/support/LoopbackServer.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using namespace std::chrono_literals;

template <typename Condition> bool WaitUntil(Condition done, int limitMs) {
  QDeadlineTimer deadline(limitMs);
  while (!done() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  }
  return done();
}

void PrintSummary(const char* what, std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  std::printf("%s: median %.3f ms, worst %.3f ms (%zu rounds)\n", what, median, values.back(), n);
}

QString AddressOf(const testsupport::LoopbackServer& server) {
  return QStringLiteral("http://127.0.0.1:%1/photos/someone/").arg(server.Port());
}

testsupport::LoopbackServer::Script Holding() {
  return [](testsupport::LoopbackPeer& peer) {
    peer.ReadRequestHead();
    peer.ReadUntilClose();
  };
}

// Presses Create at address rounds times, waits each time until readUnderWay() says the read has
// got as far as the round measures, presses Esc, and prints the times to the window idle and
// to the reading thread ended under label. Non-zero when a round goes wrong.
template <typename UnderWay>
int MeasureEscRounds(int rounds, const QString& address, const char* label, UnderWay readUnderWay) {
  TSlideshowForm form;
  if (!ShowActive(form, "cancel_and_close")) {
    return 1;
  }
  auto* create = form.findChild<QPushButton*>(QStringLiteral("GenerateButton"));
  form.findChild<QLineEdit*>(QStringLiteral("URLEdit"))->setText(address);
  std::vector<double> toIdle;
  std::vector<double> toWorkerEnd;
  for (int round = 0; round < rounds; ++round) {
    QTest::mouseClick(create, Qt::LeftButton);
    if (!readUnderWay(round, create)) {
      std::fprintf(stderr, "cancel_and_close: round %d: the read did not get under way\n", round);
      return 1;
    }
    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(&form, Qt::Key_Escape);
    if (form.PageReading() || create->text() != QStringLiteral("Create")) {
      std::fprintf(stderr, "cancel_and_close: round %d: Esc did not cancel\n", round);
      return 1;
    }
    toIdle.push_back(clock.nsecsElapsed() / 1e6);
    WaitUntil([&] { return !form.ReaderRunning(); }, 30000);
    toWorkerEnd.push_back(clock.nsecsElapsed() / 1e6);
  }
  PrintSummary((QByteArray(label) + " to the window idle").constData(), toIdle);
  PrintSummary((QByteArray(label) + " to the reading thread ended").constData(), toWorkerEnd);
  return 0;
}

int MeasureEsc(int rounds) {
  testsupport::LoopbackServer server(Holding(), testsupport::Family::IPv4, 120s);
  return MeasureEscRounds(rounds, AddressOf(server), "Esc", [&server](int round, QPushButton*) {
    // The server holds the whole request: the read waits for the answer.
    return server.WaitForConnections(round + 1) &&
           WaitUntil([&] { return server.Received(round).contains("\r\n\r\n"); }, 10000);
  });
}

int MeasureEscDuringLookup(int rounds, const QString& address) {
  return MeasureEscRounds(rounds, address, "Esc during the lookup", [](int, QPushButton* create) {
    // The button reads "Cancel" once the read has gone on for a moment:
    // the lookup is under way.
    return WaitUntil([&] { return create->text() == QStringLiteral("Cancel"); }, 10000);
  });
}

int MeasureClose(int rounds) {
  testsupport::LoopbackServer server(Holding(), testsupport::Family::IPv4, 120s);
  std::vector<double> toExit;
  for (int round = 0; round < rounds; ++round) {
    // The end-to-end tests' child program: the real window, run as the program runs it,
    // closed once its read is under way.
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MARQUELO_TEST_CLOSE_ADDRESS"), AddressOf(server));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QStringLiteral(E2E_TESTS_PATH),
                {QStringLiteral("--gtest_also_run_disabled_tests"),
                 QStringLiteral("--gtest_filter=CloseDuringRead.DISABLED_ChildProgram")});
    QByteArray output;
    while (!output.contains("reading\n") && child.waitForReadyRead(60000)) {
      output += child.readAllStandardOutput();
    }
    if (!server.WaitForConnections(round + 1)) {
      std::fprintf(stderr, "cancel_and_close: round %d: the request did not arrive\n", round);
      child.kill();
      child.waitForFinished();
      return 1;
    }
    child.write("close\n");
    while (!output.contains("closing\n") && child.waitForReadyRead(60000)) {
      output += child.readAllStandardOutput();
    }
    QElapsedTimer clock;
    clock.start();
    if (!output.contains("closing\n") || !child.waitForFinished(30000)) {
      std::fprintf(stderr, "cancel_and_close: round %d: the child did not close\n", round);
      child.kill();
      child.waitForFinished();
      return 1;
    }
    toExit.push_back(clock.nsecsElapsed() / 1e6);
  }
  PrintSummary("close to the process gone", toExit);
  return 0;
}

int Run(const QStringList& arguments) {
  const int rounds = std::max(1, arguments.size() > 1 ? arguments[1].toInt() : 20);
  QuietRun run;
  const QString stalled = qEnvironmentVariable("MARQUELO_BENCH_STALLED_ADDRESS");
  const int status = stalled.isEmpty() ? MeasureEsc(rounds) | MeasureClose(rounds)
                                       : MeasureEscDuringLookup(rounds, stalled);
  std::printf("message boxes: %d\n", run.messages);
  return status == 0 && run.messages == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
  return RunWindowBenchmark(argc, argv, Run);
}
