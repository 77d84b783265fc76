#include "tests/e2e/DemoService.h"

#include "tests/support/ChildServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <csignal>
#include <stdexcept>
#include <sys/prctl.h>

namespace testsupport {

namespace {

constexpr int kStartLimitMs = 40000;
constexpr int kStopLimitMs = 15000;
constexpr int kLogLimitMs = 10000;
// How long one look at the script waits before looking for its addresses again.
constexpr int kPollMs = 50;

QString ReadText(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

DemoService::DemoService(int port, int httpsPort) {
  if (!dir_.isValid()) {
    throw std::runtime_error("demo service: no temporary directory");
  }
  // Started by root, nginx serves as an unprivileged user, who must be able to get to the site.
  testsupport::OpenToEveryone(dir_.path());
  process_.setProgram(QStringLiteral(MARQUELO_SOURCE_DIR "/tools/demo-service/serve"));
  // The script refuses a directory it did not make, so it gets a fresh one inside ours.
  QStringList arguments{QStringLiteral("--dir"), ServiceDir()};
  if (port != 0) {
    arguments << QStringLiteral("--port") << QString::number(port);
  }
  if (httpsPort != 0) {
    arguments << QStringLiteral("--https-port") << QString::number(httpsPort);
  }
  process_.setArguments(arguments);
  process_.setProcessChannelMode(QProcess::MergedChannels);
  process_.setStandardOutputFile(dir_.filePath(QStringLiteral("serve.log")));
  process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
  process_.start();
  if (!process_.waitForStarted(kStartLimitMs)) {
    throw std::runtime_error("demo service: the script did not start: " +
                             process_.errorString().toStdString());
  }

  const QString addresses = ServiceDir() + QStringLiteral("/run/addresses");
  const QDeadlineTimer deadline(kStartLimitMs);
  // The script writes the file under another name and renames it, so it is whole once seen.
  while (!QFile::exists(addresses)) {
    if (process_.waitForFinished(kPollMs) || process_.state() == QProcess::NotRunning) {
      throw std::runtime_error("demo service: the script ended early:\n" + Output().toStdString());
    }
    if (deadline.hasExpired()) {
      throw std::runtime_error("demo service: no addresses within 40 s:\n" +
                               Output().toStdString());
    }
  }
  for (const QString& line : ReadText(addresses).split(u'\n', Qt::SkipEmptyParts)) {
    const qsizetype equals = line.indexOf(u'=');
    if (equals > 0) {
      values_.insert(line.first(equals), line.sliced(equals + 1));
    }
  }
}

DemoService::~DemoService() {
  if (process_.state() == QProcess::NotRunning) {
    return;
  }
  process_.terminate();
  if (!process_.waitForFinished(kStopLimitMs)) {
    process_.kill();
    process_.waitForFinished(kStopLimitMs);
  }
}

QString DemoService::WaitForLogLine(const QString& text, qsizetype from) const {
  const QDeadlineTimer deadline(kLogLimitMs);
  for (;;) {
    const QStringList lines = LogLines();
    for (qsizetype i = from; i < lines.size(); ++i) {
      if (lines[i].contains(text)) {
        return lines[i];
      }
    }
    if (deadline.hasExpired()) {
      return {};
    }
    QThread::msleep(kPollMs);
  }
}

QStringList DemoService::LogLines() const {
  return ReadText(ServiceDir() + QStringLiteral("/logs/access.log"))
      .split(u'\n', Qt::SkipEmptyParts);
}

QString DemoService::ServiceDir() const {
  return dir_.filePath(QStringLiteral("service"));
}

QString DemoService::Output() const {
  return ReadText(dir_.filePath(QStringLiteral("serve.log")));
}

} // namespace testsupport
