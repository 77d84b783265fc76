#pragma once

// A real HTTP server for end-to-end tests and benchmarks: nginx, started as a child process in
// the foreground on a free port of 127.0.0.1, serving a temporary document root.
//
// The constructor writes a configuration (pid file, error log and every temporary path inside a
// private temporary directory; access log off), starts nginx and returns once it accepts
// connections; it raises std::runtime_error, with nginx's error log in the message, when nginx
// is missing, exits early or does not accept within 10 s. The destructor stops nginx (SIGTERM,
// then SIGKILL after 10 s) and removes the directory. nginx also ends when the thread that
// started it ends, so a crashed test leaves no server behind.
//
//   testsupport::NginxServer nginx;
//   nginx.AddFile("page.html", "<p>hi</p>");
//   ... GET http://127.0.0.1:<nginx.Port()>/page.html ...

#include "tests/support/ChildServer.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>

namespace testsupport {

// TLS for the fixture's port: a PEM certificate chain and its key, and optionally the
// ssl_protocols and ssl_ciphers values (empty: nginx's defaults).
struct NginxTls {
  QString Certificate;
  QString Key;
  QString Protocols;
  QString Ciphers;
};

class NginxServer {
public:
  // `serverDirectives` are added inside the server block (locations, return rules, headers).
  // With `tls`, the port speaks https instead of http.
  explicit NginxServer(const QString& serverDirectives = {}, const NginxTls& tls = {});
  ~NginxServer();
  Q_DISABLE_COPY(NginxServer)

  // Whether an nginx binary is installed where the fixture looks for it.
  static bool Available();

  uint16_t Port() const { return port_; }
  // "http://127.0.0.1:<port>" (https with TLS) without a trailing slash.
  QString BaseUrl() const;
  // The document root.
  QString Root() const;
  // Writes `content` to `relativePath` under the root (folders are made as needed) and returns
  // the file's full path. Raises std::runtime_error when the file cannot be written.
  QString AddFile(const QString& relativePath, const QByteArray& content);
  // Makes a file of `size` bytes of a repeating pattern, written in large blocks.
  QString AddPatternFile(const QString& relativePath, qint64 size);

private:
  bool StartOnFreePort(const QString& serverDirectives);
  QString ErrorLog() const;

  QTemporaryDir dir_;
  NginxTls tls_;
  std::unique_ptr<ChildServer> child_;
  uint16_t port_ = 0;
};

} // namespace testsupport
