// The desktop's proxy choice as a GNOME session gives it: each row sets GNOME's proxy settings
// in a private session bus and home, then runs a child that asks DesktopProxyRoutes for a few
// addresses and writes what it got. PAC files are served by a loopback server (which counts
// the fetches) or read from files. Every child must also end with status 0, a query stuck in a
// looping script included: ending the process must not trip over the PAC engine.

#include "app/DesktopProxy.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/NamedRow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using testsupport::LoopbackPeer;
using testsupport::LoopbackServer;

// What the parent tells the child.
constexpr char kAddressesVariable[] = "MARQUELO_TEST_PROXY_ADDRESSES"; // blank-separated
constexpr char kDeadlineVariable[] = "MARQUELO_TEST_PROXY_DEADLINE_MS";
constexpr char kCancelledVariable[] = "MARQUELO_TEST_PROXY_CANCELLED";
constexpr char kOutputVariable[] = "MARQUELO_TEST_PROXY_OUTPUT";
constexpr char kPrepareVariable[] = "MARQUELO_TEST_PROXY_PREPARE";

// How long a child may take in all: every query it makes returns within the query's own limit.
constexpr int kChildEndLimitMs = 60000;

// Not a test of its own: the child each row runs. It prepares the worker when asked, then
// writes one line per address, then one per route
// ("route <route> from <source>", without " from" when it has none) and per note ("note <note>").
TEST(DesktopProxyChild, DISABLED_Routes) {
  const QString output = qEnvironmentVariable(kOutputVariable);
  ASSERT_FALSE(output.isEmpty());
  int argc = 1;
  char name[] = "desktop-proxy-child";
  char* argv[] = {name, nullptr};
  const QCoreApplication application(argc, argv);
  TIdProxyQueryLimits limits;
  if (qEnvironmentVariableIsSet(kCancelledVariable)) {
    limits.abortHandle = eventfd(1, EFD_CLOEXEC);
  }
  if (qEnvironmentVariableIsSet(kPrepareVariable)) {
    PrepareDesktopProxy();
  }
  QString text;
  for (const QString& address :
       qEnvironmentVariable(kAddressesVariable).split(u' ', Qt::SkipEmptyParts)) {
    if (qEnvironmentVariableIsSet(kDeadlineVariable)) {
      limits.deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(qEnvironmentVariableIntValue(kDeadlineVariable));
    }
    const TIdProxyRoutes routes = DesktopProxyRoutes(TIdURI(address), limits);
    text += address + u'\n';
    for (const TIdProxyRoute& route : routes.routes) {
      text += QStringLiteral("route ") + route.Text() +
              (route.source.isEmpty() ? QString() : QStringLiteral(" from ") + route.source) +
              u'\n';
    }
    for (const QString& note : routes.notes) {
      text += QStringLiteral("note %1\n").arg(note);
    }
  }
  QFile file(output);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(text.toUtf8());
}

// Where a row's PAC file is.
enum class Pac {
  None,
  Served,  // by the loopback server
  File,    // a file:// URL
  Missing, // a file:// URL of no file
  Refused, // an http URL of a port where nothing listens
};

struct Setting {
  const char* schema;
  const char* key;
  const char* value; // GVariant text; "%PAC%" stands for the PAC file's URL
};

struct DesktopCase : testsupport::NamedRow {
  std::vector<Setting> settings;
  Pac pac;
  const char* script; // the PAC file's text
  const char* addresses;
  const char* expected; // the child's output; "%PAC%" stands for the PAC file's URL
  int deadlineMs = 0;   // 0: queries without a deadline of their own
  bool cancelled = false;
  // Changes to the session's environment: a null value removes the variable.
  std::vector<std::pair<const char*, const char*>> environment{};
};

const Setting kManual{"org.gnome.system.proxy", "mode", "'manual'"};
const Setting kAuto{"org.gnome.system.proxy", "mode", "'auto'"};
const Setting kPacUrl{"org.gnome.system.proxy", "autoconfig-url", "'%PAC%'"};
const Setting kHttpHost{"org.gnome.system.proxy.http", "host", "'127.0.0.1'"};
const Setting kHttpPort{"org.gnome.system.proxy.http", "port", "3128"};

constexpr char kInOrder[] = R"(function FindProxyForURL(url, host) {
  if (url == "https://example.test/")
    return "PROXY s.test:3";
  if (url.indexOf("https:") == 0)
    return "PROXY path-shown.test:9";
  return "PROXY a.test:1; PROXY b.test:2; DIRECT";
})";
constexpr char kLoops[] = "function FindProxyForURL(url, host) { for (;;) {} }";

const DesktopCase kCases[] = {
    {{"ManualProxy"},
     {kManual,
      kHttpHost,
      kHttpPort,
      {"org.gnome.system.proxy.https", "host", "'127.0.0.2'"},
      {"org.gnome.system.proxy.https", "port", "3129"}},
     Pac::None,
     nullptr,
     "http://example.test/page https://example.test/secure",
     "http://example.test/page\n"
     "route proxy 127.0.0.1:3128 from desktop settings\n"
     "https://example.test/secure\n"
     "route proxy 127.0.0.2:3129 from desktop settings\n",
     0,
     false,
     {{kPrepareVariable, "1"}}},
    // The worker loads libproxy while the process ends.
    {{"PreparedThenEndedAtOnce"},
     {kAuto, kPacUrl},
     Pac::File,
     kInOrder,
     "",
     "",
     0,
     false,
     {{kPrepareVariable, "1"}}},
    {{"IgnoredHostGoesDirect"},
     {kManual, kHttpHost, kHttpPort, {"org.gnome.system.proxy", "ignore-hosts", "['127.0.0.0/8']"}},
     Pac::None,
     nullptr,
     "http://127.0.0.1:9/ http://example.test/",
     "http://127.0.0.1:9/\n"
     "route direct from desktop settings\n"
     "http://example.test/\n"
     "route proxy 127.0.0.1:3128 from desktop settings\n"},
    // Outside a desktop session libproxy would answer from the variables, whose rules the
    // environment's own choice keeps (HTTP_PROXY is never read; http_proxy is for http only).
    {{"NoDesktopSessionReadsNoVariables"},
     {kManual, kHttpHost, kHttpPort},
     Pac::None,
     nullptr,
     "http://example.test/ https://example.test/",
     "http://example.test/\n"
     "route direct\n"
     "https://example.test/\n"
     "route direct\n",
     0,
     false,
     {{"DESKTOP_SESSION", nullptr},
      {"HTTP_PROXY", "http://evil.test:1"},
      {"http_proxy", "http://evil.test:2"}}},
    {{"ManualProxyWithoutHost"},
     {kManual, {"org.gnome.system.proxy.http", "host", "''"}, kHttpPort},
     Pac::None,
     nullptr,
     "http://example.test/",
     "http://example.test/\n"
     "route direct from desktop settings\n"
     "note The desktop's manual proxy for http addresses has no host or port; going direct.\n"},
    {{"PacRoutesInOrderSecurePathHidden"},
     {kAuto, kPacUrl},
     Pac::Served,
     kInOrder,
     "http://example.test/one http://example.test/two?q=1 https://example.test/three?secret",
     "http://example.test/one\n"
     "route proxy a.test:1 from proxy auto-config %PAC%\n"
     "route proxy b.test:2 from proxy auto-config %PAC%\n"
     "route direct from proxy auto-config %PAC%\n"
     "http://example.test/two?q=1\n"
     "route proxy a.test:1 from proxy auto-config %PAC%\n"
     "route proxy b.test:2 from proxy auto-config %PAC%\n"
     "route direct from proxy auto-config %PAC%\n"
     "https://example.test/three?secret\n"
     "route proxy s.test:3 from proxy auto-config %PAC%\n"},
    {{"PacSocksAndBadEntriesPassedOver"},
     {kAuto, kPacUrl},
     Pac::File,
     R"(function FindProxyForURL(url, host) {
       return "SOCKS c.test:3; PROXY a.test:70000; PROXY user:secret@:5; PROXY b.test:2";
     })",
     "http://example.test/",
     "http://example.test/\n"
     "route proxy b.test:2 from proxy auto-config %PAC%\n"
     "note proxy auto-config %PAC% names the SOCKS proxy socks://c.test:3, which is not "
     "supported; passed over.\n"
     "note The proxy address in proxy auto-config %PAC% cannot be used: the port is not a number "
     "from 1 to 65535; passed over.\n"
     "note The proxy address in proxy auto-config %PAC% cannot be used: it names no host; passed "
     "over.\n"},
    {{"PacGarbageGoesDirect"},
     {kAuto, kPacUrl},
     Pac::File,
     R"(function FindProxyForURL(url, host) { return "TUNNEL x; 42"; })",
     "http://example.test/",
     "http://example.test/\n"
     "route direct from proxy auto-config %PAC%\n"
     "note proxy auto-config %PAC% gave no proxy: it says DIRECT, or it could not be fetched or "
     "run, or its answer could not be read; going direct.\n"},
    {{"PacSyntaxErrorGoesDirect"},
     {kAuto, kPacUrl},
     Pac::File,
     "function FindProxyForURL(url, host) { return \"PROXY a.test:1\"",
     "http://example.test/",
     "http://example.test/\n"
     "route direct from proxy auto-config %PAC%\n"
     "note proxy auto-config %PAC% gave no proxy that can be used; going direct.\n"},
    {{"PacThrowsGoesDirect"},
     {kAuto, kPacUrl},
     Pac::File,
     R"(function FindProxyForURL(url, host) { throw new Error("no proxy today"); })",
     "http://example.test/",
     "http://example.test/\n"
     "route direct from proxy auto-config %PAC%\n"
     "note proxy auto-config %PAC% gave no proxy: it says DIRECT, or it could not be fetched or "
     "run, or its answer could not be read; going direct.\n"},
    {{"PacNotServedGoesDirect"},
     {kAuto, kPacUrl},
     Pac::Refused,
     nullptr,
     "http://example.test/",
     "http://example.test/\n"
     "route direct from proxy auto-config %PAC%\n"
     "note proxy auto-config %PAC% gave no proxy: it says DIRECT, or it could not be fetched or "
     "run, or its answer could not be read; going direct.\n"},
    {{"PacFileMissingGoesDirect"},
     {kAuto, kPacUrl},
     Pac::Missing,
     nullptr,
     "http://example.test/",
     "http://example.test/\n"
     "route direct from proxy auto-config %PAC%\n"
     "note proxy auto-config %PAC% cannot be read; going direct.\n"},
    // The first query is stuck in the script for good; the second waits behind it. Each ends at
    // its own deadline, and the process still ends with the worker stuck. (The leak checker of
    // a sanitizer build cannot stop a thread that runs compiled script code, so it is off
    // there.)
    {{"PacLoopingEndsAtTheDeadline"},
     {kAuto, kPacUrl},
     Pac::File,
     kLoops,
     "http://example.test/one http://example.test/two",
     "http://example.test/one\n"
     "route direct from desktop settings\n"
     "note The desktop's proxy settings gave no answer before the call's time limit; going "
     "direct.\n"
     "http://example.test/two\n"
     "route direct from desktop settings\n"
     "note The desktop's proxy settings gave no answer before the call's time limit; going "
     "direct.\n",
     1000,
     false,
     {{"ASAN_OPTIONS", "detect_leaks=0"}}},
    {{"PacLoopingEndsAtCancel"},
     {kAuto, kPacUrl},
     Pac::File,
     kLoops,
     "http://example.test/",
     "http://example.test/\n"
     "route direct from desktop settings\n"
     "note The call was cancelled while the desktop's proxy settings were asked; going direct.\n",
     0,
     true,
     {{"ASAN_OPTIONS", "detect_leaks=0"}}},
};

// Serves one PAC file to every request and counts the requests.
LoopbackServer::Script ServingPac(const QByteArray& script) {
  return [script](LoopbackPeer& peer) {
    while (!peer.ReadRequestHead().isEmpty()) {
      peer.Send("HTTP/1.1 200 OK\r\nContent-Type: application/x-ns-proxy-autoconfig\r\n"
                "Content-Length: " +
                QByteArray::number(script.size()) + "\r\n\r\n" + script);
    }
  };
}

int RequestCount(const LoopbackServer& server) {
  int count = 0;
  for (int i = 0; i < server.ConnectionCount(); ++i) {
    count += int(server.Received(i).count("\r\n\r\n"));
  }
  return count;
}

// Why GNOME's proxy settings cannot be set up here, or nothing when they can.
QString MissingDesktop() {
  for (const char* program : {"dbus-run-session", "gsettings"}) {
    if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
      return QStringLiteral("%1 is not installed").arg(QLatin1String(program));
    }
  }
  QProcess keys;
  keys.start(QStringLiteral("gsettings"),
             {QStringLiteral("list-keys"), QStringLiteral("org.gnome.system.proxy")});
  if (!keys.waitForFinished(kChildEndLimitMs) || keys.exitCode() != 0) {
    return QStringLiteral("GNOME's proxy schema (gsettings-desktop-schemas) is not installed");
  }
  return {};
}

QString OwnProgram() {
  return QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
}

// The environment of a private GNOME session: its own home and runtime directories (the
// settings service is started by the session bus and writes where the bus's environment says),
// and none of the proxy variables that would take precedence over the desktop.
QProcessEnvironment SessionEnvironment(const QString& home) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                           "ALL_PROXY", "no_proxy", "NO_PROXY", "DBUS_SESSION_BUS_ADDRESS",
                           "GNOME_DESKTOP_SESSION_ID", "KDE_FULL_SESSION"}) {
    environment.remove(QString::fromLatin1(name));
  }
  environment.insert(QStringLiteral("HOME"), home);
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
  environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
  environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/run"));
  environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
  environment.insert(QStringLiteral("DESKTOP_SESSION"), QStringLiteral("gnome"));
  environment.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("dconf"));
  return environment;
}

class DesktopProxyTest : public testing::TestWithParam<DesktopCase> {};

TEST_P(DesktopProxyTest, ChildGetsTheDesktopsRoutesAndEndsCleanly) {
  const DesktopCase& c = GetParam();
  const QString missing = MissingDesktop();
  if (!missing.isEmpty()) {
    GTEST_SKIP() << missing.toStdString();
  }
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral("run")));
  QFile::setPermissions(home.filePath(QStringLiteral("run")),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

  std::unique_ptr<LoopbackServer> server;
  std::unique_ptr<testsupport::RefusingPort> refusing;
  QString pacUrl;
  switch (c.pac) {
  case Pac::None:
    break;
  case Pac::Served:
    server = std::make_unique<LoopbackServer>(ServingPac(c.script));
    pacUrl = QStringLiteral("http://127.0.0.1:%1/proxy.pac").arg(server->Port());
    break;
  case Pac::File: {
    QFile file(home.filePath(QStringLiteral("proxy.pac")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(c.script);
    pacUrl = QStringLiteral("file://") + file.fileName();
    break;
  }
  case Pac::Missing:
    pacUrl = QStringLiteral("file://") + home.filePath(QStringLiteral("none.pac"));
    break;
  case Pac::Refused:
    refusing = std::make_unique<testsupport::RefusingPort>();
    pacUrl = QStringLiteral("http://127.0.0.1:%1/proxy.pac").arg(refusing->Port());
    break;
  }

  // The shell sets each setting (schema, key, value, ...) up to "--", then becomes the child.
  QStringList arguments{QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
                        QStringLiteral("while [ \"$1\" != -- ]; do gsettings set \"$1\" \"$2\" "
                                       "\"$3\" || exit 97; shift 3; done; shift; exec \"$@\""),
                        QStringLiteral("sh")};
  for (const Setting& setting : c.settings) {
    arguments << QString::fromLatin1(setting.schema) << QString::fromLatin1(setting.key)
              << QString::fromLatin1(setting.value).replace(QStringLiteral("%PAC%"), pacUrl);
  }
  arguments << QStringLiteral("--") << OwnProgram()
            << QStringLiteral("--gtest_also_run_disabled_tests")
            << QStringLiteral("--gtest_filter=DesktopProxyChild.DISABLED_Routes");

  QProcessEnvironment environment = SessionEnvironment(home.path());
  const QString output = home.filePath(QStringLiteral("routes.txt"));
  environment.insert(QString::fromLatin1(kOutputVariable), output);
  environment.insert(QString::fromLatin1(kAddressesVariable), QString::fromLatin1(c.addresses));
  if (c.deadlineMs > 0) {
    environment.insert(QString::fromLatin1(kDeadlineVariable), QString::number(c.deadlineMs));
  }
  if (c.cancelled) {
    environment.insert(QString::fromLatin1(kCancelledVariable), QStringLiteral("1"));
  }
  for (const auto& [name, value] : c.environment) {
    if (value == nullptr) {
      environment.remove(QString::fromLatin1(name));
    } else {
      environment.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    }
  }

  QProcess child;
  child.setProcessEnvironment(environment);
  child.setProcessChannelMode(QProcess::MergedChannels);
  child.start(QStringLiteral("dbus-run-session"), arguments);
  ASSERT_TRUE(child.waitForStarted());
  const bool ended = child.waitForFinished(kChildEndLimitMs);
  if (!ended) {
    child.kill();
    child.waitForFinished();
  }
  const std::string log = child.readAll().toStdString();
  ASSERT_TRUE(ended) << "the child did not end within " << kChildEndLimitMs << " ms\n" << log;
  EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << log;
  EXPECT_EQ(child.exitCode(), 0) << log;

  QFile routes(output);
  ASSERT_TRUE(routes.open(QIODevice::ReadOnly)) << log;
  EXPECT_EQ(QString::fromUtf8(routes.readAll()).toStdString(),
            QString::fromLatin1(c.expected).replace(QStringLiteral("%PAC%"), pacUrl).toStdString());
  if (server) {
    EXPECT_EQ(RequestCount(*server), 1) << "the PAC file is fetched once per process";
  }
}

INSTANTIATE_TEST_SUITE_P(Table, DesktopProxyTest, testing::ValuesIn(kCases),
                         testsupport::RowName());

} // namespace
