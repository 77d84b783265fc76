#pragma once

// The local demo service (tools/demo-service/serve) as a peer for end-to-end tests: nginx on a
// free port of 127.0.0.1 serving the generated photostream, set and group pages, the redirect
// that sets a cookie, and the slideshow player.
//
// The constructor runs the script in the foreground as a child process, with its site, logs
// and certificates in a private temporary directory, on the given http and https ports (free
// ones where a port is 0), and returns once the script has published the
// addresses it serves (it does that only after nginx has answered). It raises
// std::runtime_error, with the script's output in the message, when the script ends early or
// does not publish within 40 s. The destructor asks the script to stop (it stops nginx
// gracefully), waits up to 15 s, then kills it. The script also gets SIGTERM when the thread
// that started it ends, so a crashed test leaves no service behind.

#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

class DemoService {
public:
  explicit DemoService(int port = 0, int httpsPort = 0);
  ~DemoService();
  Q_DISABLE_COPY(DemoService)

  // A published value by its key: "photostream", "set", "group", "redirect", "player" (full
  // addresses), "host" ("127.0.0.1:<port>"), "port", the same with "https_" in front for the
  // https side, "dir", "ca" and "certificate" (the files of the demo's authority and of the
  // server certificate it signed). Empty for an unknown key.
  QString Value(const QString& key) const { return values_.value(key); }

  // The number of lines in the access log so far: one per request answered.
  qsizetype LogLineCount() const { return LogLines().size(); }
  // The first line of the access log from line `from` on (counting from 0) that contains
  // text, waiting up to 10 s for it (nginx logs a request just after answering it); empty when
  // none came. A line holds the scheme ("http " or "https " at its start), the request line in
  // double quotes, the status, and the request's
  // User-Agent and Cookie headers as ua="..." cookie="..." ("-" when absent).
  QString WaitForLogLine(const QString& text, qsizetype from = 0) const;

private:
  QStringList LogLines() const;
  QString ServiceDir() const;
  QString Output() const;

  QTemporaryDir dir_;
  QProcess process_;
  QMap<QString, QString> values_;
};

} // namespace testsupport
