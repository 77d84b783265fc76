// create_presses: presses Create in the real window, again and again, against a page server,
// and reports how long each press takes and what the program holds while it goes on.
//
//   create_presses ADDRESS [PRESSES] [CHECKPOINT [cold]]
//
// For each press it measures the time from the click to the code being in the code box (the
// page read on the reading thread, then the scan and the preview file), to the code box's next
// paint, and to the preview's browser reporting the player's page loaded; then the next press
// follows, as a user's would. Every tenth press is cancelled with Esc right after the click
// instead, and must leave the code box empty and show no message. Every CHECKPOINT presses (and
// after the first) it prints the resident memory and open file descriptors of the program, and
// the resident memory of the browser engine's processes.
// As the program does, it starts loading the preview module once the window is up, and the
// first press comes 3 s later, as a user's would after pasting an address; with "cold" it loads
// nothing before the first press. Needs an X display; bench/create_presses.sh provides one and
// a server.

#include "app/Application.h"
#include "app/FailureDisplay.h"
#include "app/SlideshowUnit.h"
#include "bench/ShownWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMultiMap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kPaintLimitMs = 5000;
constexpr int kCodeLimitMs = 60000;
constexpr int kCancelEvery = 10;
constexpr int kLoadLimitMs = 30000;
// From the window shown to the first press, when the module is preloaded.
constexpr int kFirstPressAfterMs = 3000;

// Resident memory of a process in KiB, from /proc; 0 when it has gone.
long ResidentKiB(const QString& pid) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) {
    return 0;
  }
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmRSS:")) {
      return line.mid(6).trimmed().split(' ').first().toLong();
    }
  }
  return 0;
}

qsizetype OpenDescriptors() {
  return QDir(QStringLiteral("/proc/self/fd"))
      .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
      .size();
}

// The processes started from this one, however deep: the browser engine's zygote, renderers
// and helpers.
QStringList DescendantProcesses() {
  QMultiMap<QString, QString> childrenOf;
  for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
      continue;
    }
    // pid (comm) state ppid ...; comm may hold spaces but ends at the last ")".
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() > 1) {
      childrenOf.insert(QString::fromLatin1(fields[1]), pid);
    }
  }
  QStringList found{QString::number(QCoreApplication::applicationPid())};
  for (qsizetype i = 0; i < found.size(); ++i) {
    found << childrenOf.values(found[i]);
  }
  return found.mid(1);
}

void PrintHoldings(int presses) {
  long children = 0;
  for (const QString& pid : DescendantProcesses()) {
    children += ResidentKiB(pid);
  }
  std::printf("after %4d presses: resident %6ld KiB, open descriptors %3lld, browser processes "
              "%6ld KiB\n",
              presses, ResidentKiB(QStringLiteral("self")),
              static_cast<long long>(OpenDescriptors()), children);
  std::fflush(stdout);
}

// Records when the watched widget was last painted.
class PaintWatch : public QObject {
public:
  explicit PaintWatch(QWidget* widget) { widget->installEventFilter(this); }
  bool painted = false;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      painted = true;
    }
    return QObject::eventFilter(watched, event);
  }
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The first press also makes the preview's browser, which costs more than the rest of the
// press; the presses after it are what a user gets from then on.
void PrintSummary(const char* what, const std::vector<double>& values) {
  std::printf("%s: median %.2f ms, worst %.2f ms (%zu presses; the first %.2f ms)\n", what,
              Median(values), *std::max_element(values.begin(), values.end()), values.size(),
              values.front());
  if (values.size() > 1) {
    const std::vector<double> later(values.begin() + 1, values.end());
    std::printf("%s after the first: median %.2f ms, worst %.2f ms, best %.2f ms\n", what,
                Median(later), *std::max_element(later.begin(), later.end()),
                *std::min_element(later.begin(), later.end()));
  }
}

int Run(const QStringList& arguments) {
  if (arguments.size() < 2) {
    std::fprintf(stderr, "usage: create_presses ADDRESS [PRESSES] [CHECKPOINT [cold]]\n");
    return 64;
  }
  const QString address = arguments[1];
  const int presses = std::max(1, arguments.size() > 2 ? arguments[2].toInt() : 20);
  const int checkpoint = arguments.size() > 3 ? arguments[3].toInt() : 0;
  const bool cold = arguments.size() > 4 && arguments[4] == QStringLiteral("cold");

  QuietRun run;

  TSlideshowForm form;
  if (!ShowActive(form, "create_presses")) {
    return 1;
  }
  if (!cold) {
    PrepareFirstPreview();
    QTest::qWait(kFirstPressAfterMs);
  }
  auto* create = form.findChild<QPushButton*>(QStringLiteral("GenerateButton"));
  auto* memo = form.findChild<QPlainTextEdit*>(QStringLiteral("HTMLMemo"));
  form.findChild<QLineEdit*>(QStringLiteral("URLEdit"))->setText(address);
  PaintWatch paints(memo->viewport());

  std::vector<double> toCode;
  std::vector<double> toPaint;
  std::vector<double> toLoaded;
  int cancelled = 0;
  for (int press = 1; press <= presses; ++press) {
    memo->clear();
    QCoreApplication::processEvents();
    paints.painted = false;
    if (press % kCancelEvery == 0) {
      QTest::mouseClick(create, Qt::LeftButton);
      QTest::keyClick(&form, Qt::Key_Escape);
      QElapsedTimer settle;
      settle.start();
      while (form.ReaderRunning() && settle.elapsed() < kCodeLimitMs) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
      }
      if (form.PageReading() || !memo->toPlainText().isEmpty()) {
        std::fprintf(stderr, "create_presses: press %d was not cancelled\n", press);
        return 1;
      }
      ++cancelled;
      if (checkpoint > 0 && press % checkpoint == 0) {
        PrintHoldings(press);
      }
      continue;
    }
    // The browser exists from the first preview on; its load ends after the click returns.
    std::unique_ptr<QSignalSpy> loaded;
    if (form.WebBrowser() != nullptr) {
      loaded = std::make_unique<QSignalSpy>(form.WebBrowser(), SIGNAL(loadFinished(bool)));
    }
    QElapsedTimer clock;
    // Taken when the code is set, not when the loop below next looks: the event loop turn that
    // brings the code may also repaint the window (the engine's compositing included) first.
    qint64 codeNs = -1;
    const QMetaObject::Connection codeSet =
        QObject::connect(memo, &QPlainTextEdit::textChanged, [&] {
          if (codeNs < 0 && !memo->toPlainText().isEmpty()) {
            codeNs = clock.nsecsElapsed();
          }
        });
    clock.start();
    QTest::mouseClick(create, Qt::LeftButton);
    while (memo->toPlainText().isEmpty() && form.PageReading() && clock.elapsed() < kCodeLimitMs) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    QObject::disconnect(codeSet);
    if (codeNs < 0) {
      codeNs = clock.nsecsElapsed();
    }
    if (!loaded) {
      loaded = std::make_unique<QSignalSpy>(form.WebBrowser(), SIGNAL(loadFinished(bool)));
    }
    if (memo->toPlainText().isEmpty()) {
      std::fprintf(stderr, "create_presses: press %d gave no code\n", press);
      return 1;
    }
    while (!paints.painted && clock.elapsed() < kPaintLimitMs) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    toCode.push_back(codeNs / 1e6);
    toPaint.push_back(clock.nsecsElapsed() / 1e6);

    if (loaded->isEmpty() && !loaded->wait(kLoadLimitMs)) {
      std::fprintf(stderr, "create_presses: press %d: the preview did not load\n", press);
    } else {
      toLoaded.push_back(clock.nsecsElapsed() / 1e6);
    }
    if (press == 1 || (checkpoint > 0 && press % checkpoint == 0)) {
      PrintHoldings(press);
    }
  }
  std::printf("code: %s\n", qPrintable(memo->toPlainText()));
  PrintSummary("click to code in the box", toCode);
  PrintSummary("click to code painted", toPaint);
  if (!toLoaded.empty()) {
    PrintSummary("click to preview loaded", toLoaded);
  }
  std::printf("cancelled presses: %d\n", cancelled);
  std::printf("message boxes: %d\n", run.messages);
  return run.messages == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
  return RunWindowBenchmark(argc, argv, Run);
}
