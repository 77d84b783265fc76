#include "tests/support/NginxServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

namespace {

using namespace std::chrono_literals;

constexpr const char* kNginx = "/usr/sbin/nginx";

QString TlsDirectives(const NginxTls& tls) {
  if (tls.Certificate.isEmpty()) {
    return {};
  }
  QString directives = QStringLiteral("    ssl_certificate %1;\n    ssl_certificate_key %2;\n")
                           .arg(tls.Certificate, tls.Key);
  if (!tls.Protocols.isEmpty()) {
    directives += QStringLiteral("    ssl_protocols %1;\n").arg(tls.Protocols);
  }
  if (!tls.Ciphers.isEmpty()) {
    directives += QStringLiteral("    ssl_ciphers %1;\n").arg(tls.Ciphers);
  }
  return directives;
}

QString Config(const QString& dir, uint16_t port, const QString& serverDirectives,
               const NginxTls& tls) {
  QString user;
  if (::geteuid() == 0) {
    user = QStringLiteral("user nobody nogroup;\n");
  }
  return user + QStringLiteral(R"(worker_processes 1;
pid %1/nginx.pid;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path %1/temp/body;
  proxy_temp_path %1/temp/proxy;
  fastcgi_temp_path %1/temp/fastcgi;
  uwsgi_temp_path %1/temp/uwsgi;
  scgi_temp_path %1/temp/scgi;
  types { text/html html; text/plain txt; image/jpeg jpg; }
  default_type application/octet-stream;
  sendfile on;
  keepalive_timeout 65;
  server {
    listen 127.0.0.1:%2%3;
    server_name localhost;
    root %1/www;
%4%5
  }
}
)")
                    .arg(dir)
                    .arg(port)
                    .arg(tls.Certificate.isEmpty() ? QString() : QStringLiteral(" ssl"))
                    .arg(TlsDirectives(tls), serverDirectives);
}

} // namespace

bool NginxServer::Available() {
  return ::access(kNginx, X_OK) == 0;
}

NginxServer::NginxServer(const QString& serverDirectives, const NginxTls& tls) : tls_(tls) {
  if (!Available()) {
    throw std::runtime_error("nginx fixture: nginx is not installed (scripts/bootstrap)");
  }
  if (!dir_.isValid()) {
    throw std::runtime_error("nginx fixture: no temporary directory");
  }
  // The workers run as nobody when we are root: they must be able to enter the root.
  OpenToEveryone(dir_.path());
  QDir(dir_.path()).mkpath(QStringLiteral("www"));
  QDir(dir_.path()).mkpath(QStringLiteral("temp"));
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (StartOnFreePort(serverDirectives)) {
      return;
    }
  }
  throw std::runtime_error("nginx fixture: no free port after 5 attempts:\n" +
                           ErrorLog().toStdString());
}

// The child stops before the directory it works in goes.
NginxServer::~NginxServer() = default;

bool NginxServer::StartOnFreePort(const QString& serverDirectives) {
  port_ = PickFreeLoopbackPort("nginx fixture");
  const QString configPath = dir_.filePath(QStringLiteral("nginx.conf"));
  QFile config(configPath);
  if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      config.write(Config(dir_.path(), port_, serverDirectives, tls_).toUtf8()) < 0) {
    throw std::runtime_error("nginx fixture: cannot write the configuration");
  }
  config.close();
  QFile::remove(dir_.filePath(QStringLiteral("error.log")));

  child_ = std::make_unique<ChildServer>(
      kNginx, std::vector<std::string>{"nginx", "-p", dir_.path().toStdString() + "/", "-c",
                                       configPath.toStdString(), "-e",
                                       dir_.filePath(QStringLiteral("error.log")).toStdString(),
                                       "-g", "daemon off;"});
  return AwaitAccepting(child_, port_, 10s, "nginx fixture: nginx", [this] { return ErrorLog(); });
}

QString NginxServer::ErrorLog() const {
  QFile log(dir_.filePath(QStringLiteral("error.log")));
  return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

QString NginxServer::BaseUrl() const {
  const QString scheme =
      tls_.Certificate.isEmpty() ? QStringLiteral("http") : QStringLiteral("https");
  return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port_);
}

QString NginxServer::Root() const {
  return dir_.filePath(QStringLiteral("www"));
}

QString NginxServer::AddFile(const QString& relativePath, const QByteArray& content) {
  const QString path = QDir(Root()).filePath(relativePath);
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(content) != content.size()) {
    throw std::runtime_error("nginx fixture: cannot write " + path.toStdString());
  }
  return path;
}

QString NginxServer::AddPatternFile(const QString& relativePath, qint64 size) {
  const QString path = AddFile(relativePath, {});
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    throw std::runtime_error("nginx fixture: cannot write " + path.toStdString());
  }
  QByteArray block(1 << 20, Qt::Uninitialized);
  for (qsizetype i = 0; i < block.size(); ++i) {
    block[i] = char('a' + i % 23);
  }
  for (qint64 left = size; left > 0;) {
    const qint64 n = std::min<qint64>(left, block.size());
    if (file.write(block.constData(), n) != n) {
      throw std::runtime_error("nginx fixture: cannot write " + path.toStdString());
    }
    left -= n;
  }
  return path;
}

} // namespace testsupport
