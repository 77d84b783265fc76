#pragma once

// Runs the built marquelo-get as a user would and collects what it leaves: exit status,
// standard output and standard error. It runs without the proxy variables of the environment
// the tests run in, so that a developer's proxy never stands between a test and its peers;
// a test that wants a proxy names the variables itself.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <gtest/gtest.h>

#include <utility>

namespace testsupport {

struct ProgramRun {
  int exitCode = -1; // -1 when the program crashed or did not finish within 30 s
  QByteArray out;
  QByteArray err;
};

// Runs program (which may start marquelo-get itself, MARQUELO_GET_PATH) with arguments and
// blocks until it ends, for at most 30 s (then it is killed and the test fails).
inline ProgramRun RunProgram(const QString& program, const QStringList& arguments,
                             const QList<std::pair<QString, QString>>& variables = {}) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                           "no_proxy", "NO_PROXY"}) {
    environment.remove(QString::fromLatin1(name));
  }
  for (const auto& [name, value] : variables) {
    environment.insert(name, value);
  }
  QProcess process;
  process.setProcessEnvironment(environment);
  process.start(program, arguments);
  ProgramRun run;
  if (!process.waitForFinished(30000)) {
    process.kill();
    process.waitForFinished(5000);
    ADD_FAILURE() << program.toStdString() << " did not finish";
    return run;
  }
  run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.out = process.readAllStandardOutput();
  run.err = process.readAllStandardError();
  return run;
}

// marquelo-get itself, run as RunProgram runs a program.
inline ProgramRun MarqueloGet(const QStringList& arguments,
                              const QList<std::pair<QString, QString>>& variables = {}) {
  return RunProgram(QStringLiteral(MARQUELO_GET_PATH), arguments, variables);
}

} // namespace testsupport
