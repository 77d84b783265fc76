#include "tests/support/SquidServer.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <pwd.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kSquid = "/usr/sbin/squid";
constexpr const char* kBasicHelper = "/usr/lib/squid/basic_ncsa_auth";

void WriteFile(const QString& path, const QByteArray& content) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(content) != content.size()) {
    throw std::runtime_error("squid fixture: cannot write " + path.toStdString());
  }
}

// An htpasswd line for user, the password hashed by the openssl command line.
QByteArray PasswordLine(const QString& username, const QString& password) {
  QProcess openssl;
  openssl.start(QStringLiteral("openssl"),
                {QStringLiteral("passwd"), QStringLiteral("-apr1"), QStringLiteral("-stdin")});
  openssl.write(password.toUtf8() + '\n');
  openssl.closeWriteChannel();
  if (!openssl.waitForFinished(10000) || openssl.exitCode() != 0) {
    throw std::runtime_error("squid fixture: openssl passwd failed");
  }
  return username.toUtf8() + ':' + openssl.readAllStandardOutput().trimmed() + '\n';
}

QString Config(const QString& dir, uint16_t port, const SquidServer::Options& options) {
  QStringList connectPorts;
  for (const uint16_t p : options.connectPorts) {
    connectPorts << QString::number(p);
  }
  // A port nobody uses keeps the list valid when the test allows no CONNECT at all.
  if (connectPorts.isEmpty()) {
    connectPorts << QStringLiteral("1");
  }
  QString config = QStringLiteral(R"(http_port 127.0.0.1:%2
pid_filename %1/squid.pid
cache_log %1/cache.log
access_log stdio:%1/access.log
coredump_dir %1
netdb_filename none
pinger_enable off
cache deny all
cache_mem 0 MB
shutdown_lifetime 0 seconds
acl SSL_ports port %3
acl CONNECT method CONNECT
http_access deny CONNECT !SSL_ports
)")
                       .arg(dir)
                       .arg(port)
                       .arg(connectPorts.join(u' '));
  if (::geteuid() == 0) {
    config += QStringLiteral("cache_effective_user nobody\n");
  }
  if (options.username.isEmpty()) {
    config += QStringLiteral("http_access allow localhost\n");
  } else {
    config += QStringLiteral(R"(auth_param basic program %2 %1/passwd
auth_param basic realm marquelo-test
acl authenticated proxy_auth REQUIRED
http_access allow localhost authenticated
)")
                  .arg(dir, QString::fromLatin1(kBasicHelper));
  }
  return config + QStringLiteral("http_access deny all\n");
}

// As root squid works as nobody, who must be able to write its logs and read the passwords.
void HandToNobody(const QString& dir) {
  if (::geteuid() != 0) {
    return;
  }
  const passwd* nobody = ::getpwnam("nobody");
  if (!nobody) {
    throw std::runtime_error("squid fixture: running as root, but there is no user nobody");
  }
  for (const char* name : {"", "/passwd", "/access.log", "/cache.log"}) {
    const QByteArray path = dir.toLocal8Bit() + name;
    if (::access(path.constData(), F_OK) == 0 &&
        ::chown(path.constData(), nobody->pw_uid, nobody->pw_gid) != 0) {
      throw std::runtime_error("squid fixture: cannot hand " + path.toStdString() + " to nobody");
    }
  }
}

} // namespace

bool SquidServer::Available() {
  return ::access(kSquid, X_OK) == 0 && ::access(kBasicHelper, X_OK) == 0;
}

SquidServer::SquidServer(const Options& options) {
  if (!Available()) {
    throw std::runtime_error("squid fixture: squid is not installed (scripts/bootstrap)");
  }
  if (!dir_.isValid()) {
    throw std::runtime_error("squid fixture: no temporary directory");
  }
  if (!options.username.isEmpty()) {
    WriteFile(dir_.filePath(QStringLiteral("passwd")),
              PasswordLine(options.username, options.password));
  }
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (StartOnFreePort(options)) {
      return;
    }
  }
  throw std::runtime_error("squid fixture: no free port after 5 attempts:\n" +
                           CacheLog().toStdString());
}

SquidServer::~SquidServer() {
  child_.reset();
}

bool SquidServer::StartOnFreePort(const Options& options) {
  port_ = PickFreeLoopbackPort("squid fixture");
  const QString configPath = dir_.filePath(QStringLiteral("squid.conf"));
  WriteFile(configPath, Config(dir_.path(), port_, options).toUtf8());
  WriteFile(dir_.filePath(QStringLiteral("cache.log")), {});
  WriteFile(dir_.filePath(QStringLiteral("access.log")), {});
  HandToNobody(dir_.path());

  child_ = std::make_unique<ChildServer>(
      kSquid, std::vector<std::string>{"squid", "-N", "-f", configPath.toStdString()});
  return AwaitAccepting(child_, port_, 30s, "squid fixture: squid", [this] { return CacheLog(); });
}

QString SquidServer::ProxyUrl(const QString& username, const QString& password) const {
  const QString credentials = username.isEmpty() ? QString() : username + u':' + password + u'@';
  return QStringLiteral("http://") + credentials + QStringLiteral("127.0.0.1:") +
         QString::number(port_);
}

QString SquidServer::AccessLog() const {
  QFile log(dir_.filePath(QStringLiteral("access.log")));
  return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

bool SquidServer::WaitForAccessLog(const QString& text, std::chrono::milliseconds limit) const {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (AccessLog().contains(text)) {
      return true;
    }
    if (Clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(10ms);
  }
}

QString SquidServer::CacheLog() const {
  QFile log(dir_.filePath(QStringLiteral("cache.log")));
  return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

} // namespace testsupport
