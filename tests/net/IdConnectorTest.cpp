// Connecting by name as the client does: every address of the name, both families, IPv6
// first, a silent address left behind for the next one, lookups that end by the deadline or
// an abort, and failures that say why.
//
// Each row runs the client in a child process with a mount namespace of its own, where a
// private /etc/hosts, /etc/nsswitch.conf and /etc/resolv.conf are bind-mounted, so that names
// resolve the way the row says through the system's own resolver. The servers are loopback
// peers in the test process. Without root (or without namespaces) the rows are skipped.

#include "net/IdIOHandlerStack.h"
#include "net/IdTCPClient.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/NamedRow.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using testsupport::Family;
using testsupport::LoopbackPeer;
using testsupport::LoopbackServer;

// Who listens on the port the client connects to.
enum class Peers {
  ServerOn4,          // a server on 127.0.0.1
  ServerOn6,          // a server on ::1
  ServerOn4SilentOn6, // a server on 127.0.0.1, and on ::1 a listener that never answers
  Nobody,             // the port is held on 127.0.0.1 without listening: every connect refused
};

// How names resolve in the child.
enum class Names {
  HostsOnly,      // the private hosts file alone
  SilentResolver, // the hosts file, then a name server that never answers
};

struct ConnectCase : testsupport::NamedRow {
  Peers peers;
  const char* hosts; // the private /etc/hosts
  Names names;
  QString host;
  std::optional<TIdIPVersion> family;
  int32_t callTimeout; // ms; 0: none
  bool abortWhileResolving;
  QStringList statuses; // every status text, in order
  QString outcome;      // "connected <address> <greeting>" or "<class> <code> <message>"
};

// The address a name server that never answers listens on; port 53, as resolv.conf cannot
// name another.
constexpr const char* kSilentNameServer = "127.0.0.77";

// A UDP socket that takes the child's queries and never answers them.
class SilentNameServer {
public:
  SilentNameServer() : socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    ::inet_pton(AF_INET, kSilentNameServer, &address.sin_addr);
    bound_ =
        socket_ >= 0 && ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~SilentNameServer() { ::close(socket_); }
  Q_DISABLE_COPY(SilentNameServer)
  bool Bound() const { return bound_; }

private:
  int socket_;
  bool bound_ = false;
};

int OpenDescriptors() {
  return int(
      QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

// What the child does: the private name files, then one client connect. Returns the line the
// parent compares, or "SKIP <why>".
QString RunClient(const ConnectCase& c, uint16_t port, const QString& files) {
  if (::unshare(CLONE_NEWNS) != 0 ||
      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return QStringLiteral("SKIP no private mount namespace here");
  }
  for (const char* name : {"hosts", "nsswitch.conf", "resolv.conf"}) {
    const QByteArray source = (files + u'/' + QLatin1String(name)).toLocal8Bit();
    const QByteArray target = QByteArray("/etc/") + name;
    if (::mount(source.constData(), target.constData(), nullptr, MS_BIND, nullptr) != 0) {
      return QStringLiteral("SKIP cannot bind-mount over %1").arg(QLatin1String(target));
    }
  }
  QStringList statuses;
  QString outcome;
  std::thread aborter;
  const int descriptorsBefore = OpenDescriptors();
  {
    TIdTCPClient client;
    auto* handler = new TIdIOHandlerStack(&client);
    client.SetIOHandler(handler);
    handler->OnStatus = [&](TIdComponent*, TIdStatus status, const QString& text) {
      statuses << text;
      if (status == hsResolving && c.abortWhileResolving) {
        aborter = std::thread([handler] { handler->Abort(); });
      }
    };
    client.SetHost(c.host);
    client.SetPort(port);
    client.SetIPVersion(c.family);
    if (c.callTimeout > 0) {
      client.SetCallDeadline(std::chrono::steady_clock::now() +
                             std::chrono::milliseconds(c.callTimeout));
    }
    try {
      client.Connect();
      handler->SetReadTimeout(10000);
      outcome = QStringLiteral("connected %1 %2")
                    .arg(handler->Binding()->RemoteIP(), handler->ReadLine());
    } catch (const EIdSocketError& e) {
      outcome =
          QStringLiteral("%1 %2 %3").arg(e.ClassName()).arg(e.SocketErrorCode()).arg(e.Message());
    } catch (const Exception& e) {
      outcome = QStringLiteral("%1 %2").arg(e.ClassName(), e.Message());
    }
    if (aborter.joinable()) {
      aborter.join();
    }
  }
  // A lookup the call left behind still holds the resolver's socket; every other descriptor
  // of the call must be gone. The lookup's thread may still be on its way out after handing
  // over its answer (rarely seen under AddressSanitizer with both cores busy), so the count
  // may take a moment to settle; a descriptor the call leaks never does.
  int left = OpenDescriptors() - descriptorsBefore;
  for (const auto settleBy = std::chrono::steady_clock::now() + 5s;
       left != 0 && std::chrono::steady_clock::now() < settleBy;
       left = OpenDescriptors() - descriptorsBefore) {
    std::this_thread::sleep_for(10ms);
  }
  if (c.names != Names::SilentResolver && left != 0) {
    outcome += QStringLiteral(" (%1 descriptors left open:").arg(left);
    const QDir open(QStringLiteral("/proc/self/fd"));
    for (const QString& entry : open.entryList(QDir::NoDotAndDotDot | QDir::System)) {
      outcome += u' ' + entry + u'=' + QFile::symLinkTarget(open.filePath(entry));
    }
    outcome += u')';
  }
  return statuses.join(u'|') + u'\n' + outcome;
}

// The variable that hands the child its row: "<row name>\n<port>\n<files directory>".
constexpr const char* kRowVariable = "MARQUELO_CONNECT_ROW";
// Where the child writes its line.
constexpr int kResultDescriptor = 3;

// Runs RunClient in a child and returns its line; bounded by a generous wait for the child.
// The child is this test program started afresh for that one row, never a bare fork of it: a
// fork copies whatever locks the servers' threads hold at that moment (the allocator's, say),
// and the child, which goes on to start threads and resolve names, would wait on them for ever.
QString InChild(const ConnectCase& c, uint16_t port, const QString& files) {
  char program[4096];
  const ssize_t length = ::readlink("/proc/self/exe", program, sizeof program - 1);
  if (length <= 0) {
    return QStringLiteral("cannot find this program");
  }
  program[length] = 0;
  std::vector<std::string> arguments{program, "--gtest_also_run_disabled_tests",
                                     "--gtest_filter=ConnectByNameChild.DISABLED_OneRow"};
  std::vector<std::string> environment{std::string(kRowVariable) + '=' + c.name + '\n' +
                                       std::to_string(port) + '\n' + files.toStdString()};
  for (char** entry = environ; *entry; ++entry) {
    if (!QByteArray(*entry).startsWith(QByteArray(kRowVariable) + '=')) {
      environment.emplace_back(*entry);
    }
  }
  const auto pointers = [](std::vector<std::string>& strings) {
    std::vector<char*> list;
    for (std::string& text : strings) {
      list.push_back(text.data());
    }
    list.push_back(nullptr);
    return list;
  };
  std::vector<char*> argv = pointers(arguments);
  std::vector<char*> envp = pointers(environment);

  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) {
    return QStringLiteral("no pipe");
  }
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, pipe[1], kResultDescriptor);
  ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = -1;
  const int spawned = ::posix_spawn(&child, program, &actions, nullptr, argv.data(), envp.data());
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(pipe[1]);
  if (spawned != 0) {
    ::close(pipe[0]);
    return QStringLiteral("cannot start the child: %1")
        .arg(QString::fromLocal8Bit(strerror(spawned)));
  }
  QByteArray line;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{pipe[0], POLLIN, 0};
    if (left.count() <= 0 || ::poll(&entry, 1, int(left.count())) <= 0) {
      ::kill(child, SIGKILL);
      line = "the child did not finish: " + line;
      break;
    }
    char buffer[4096];
    const ssize_t count = ::read(pipe[0], buffer, sizeof buffer);
    if (count <= 0) {
      break;
    }
    line.append(buffer, count);
  }
  ::close(pipe[0]);
  ::waitpid(child, nullptr, 0);
  return QString::fromUtf8(line);
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

class ConnectByName : public testing::TestWithParam<ConnectCase> {};

TEST_P(ConnectByName, TriesTheAddressesAndSaysWhyItFailed) {
  const ConnectCase& c = GetParam();
  if (::geteuid() != 0) {
    GTEST_SKIP() << "private name files need root (a mount namespace)";
  }
  if (c.peers != Peers::ServerOn4 && c.peers != Peers::Nobody && !LoopbackServer::HasIPv6()) {
    GTEST_SKIP() << "no ::1 on this machine";
  }
  QTemporaryDir files;
  ASSERT_TRUE(files.isValid());
  const bool silent = c.names == Names::SilentResolver;
  ASSERT_TRUE(WriteFile(files.filePath("hosts"), c.hosts));
  ASSERT_TRUE(
      WriteFile(files.filePath("nsswitch.conf"), silent ? "hosts: files dns\n" : "hosts: files\n"));
  ASSERT_TRUE(WriteFile(files.filePath("resolv.conf"), QByteArray("nameserver ") +
                                                           kSilentNameServer +
                                                           "\noptions timeout:30 attempts:1\n"));
  std::optional<SilentNameServer> nameServer;
  if (silent) {
    nameServer.emplace();
    if (!nameServer->Bound()) {
      GTEST_SKIP() << "cannot listen on " << kSilentNameServer << ":53";
    }
  }

  const auto greet = [](LoopbackPeer& peer) {
    peer.Send("hello\n");
    peer.ReadUntilClose();
  };
  std::optional<LoopbackServer> server;
  std::optional<testsupport::NeverAcceptingListener> silentOn6;
  std::optional<testsupport::RefusingPort> refusing;
  uint16_t port = 0;
  switch (c.peers) {
  case Peers::ServerOn4:
  case Peers::ServerOn4SilentOn6:
    server.emplace(greet);
    port = server->Port();
    if (c.peers == Peers::ServerOn4SilentOn6) {
      silentOn6.emplace(Family::IPv6, port);
    }
    break;
  case Peers::ServerOn6:
    server.emplace(greet, Family::IPv6);
    port = server->Port();
    break;
  case Peers::Nobody:
    refusing.emplace();
    port = refusing->Port();
    break;
  }

  const QString result = InChild(c, port, files.path());
  if (result.startsWith(u"SKIP ")) {
    GTEST_SKIP() << result.mid(5).toStdString();
  }
  const QString expected = c.statuses.join(u'|') + u'\n' + c.outcome;
  EXPECT_EQ(result.toStdString(), expected.toStdString());
}

const QString kLoopback6 = QStringLiteral("0:0:0:0:0:0:0:1");

// The handler's statuses: resolving the name (unless it is a literal), then each attempt.
QStringList Steps(std::initializer_list<QString> addresses, bool resolving = true) {
  QStringList steps;
  if (resolving) {
    steps << QStringLiteral("Resolving hostname site.test.");
  }
  for (const QString& address : addresses) {
    steps << QStringLiteral("Connecting to %1.").arg(address);
  }
  return steps;
}

const ConnectCase kRows[] = {
    ConnectCase{"FirstAddressRefusesTheNextAnswers",
                Peers::ServerOn4,
                "::1 site.test\n127.0.0.1 site.test\n",
                Names::HostsOnly,
                "site.test",
                {},
                0,
                false,
                Steps({kLoopback6, "127.0.0.1"}),
                "connected 127.0.0.1 hello"},
    ConnectCase{"OnlyAnIPv6Address",
                Peers::ServerOn6,
                "::1 site.test\n",
                Names::HostsOnly,
                "site.test",
                {},
                0,
                false,
                Steps({kLoopback6}),
                "connected " + kLoopback6 + " hello"},
    ConnectCase{"LocalhostServedOnIPv6Only",
                Peers::ServerOn6,
                "127.0.0.1 localhost\n::1 localhost\n",
                Names::HostsOnly,
                "localhost",
                {},
                0,
                false,
                {"Resolving hostname localhost.", "Connecting to " + kLoopback6 + "."},
                "connected " + kLoopback6 + " hello"},
    // The IPv6 attempt gets no answer at all; the IPv4 one starts after the delay and wins.
    ConnectCase{"SilentIPv6LosesToIPv4",
                Peers::ServerOn4SilentOn6,
                "::1 site.test\n127.0.0.1 site.test\n",
                Names::HostsOnly,
                "site.test",
                {},
                0,
                false,
                Steps({kLoopback6, "127.0.0.1"}),
                "connected 127.0.0.1 hello"},
    ConnectCase{"BracketedIPv6LiteralWithoutLookup",
                Peers::ServerOn6,
                "",
                Names::HostsOnly,
                "[::1]",
                {},
                0,
                false,
                Steps({kLoopback6}, false),
                "connected " + kLoopback6 + " hello"},
    ConnectCase{"EveryAddressRefuses",
                Peers::Nobody,
                "::1 site.test\n127.0.0.1 site.test\n127.0.0.2 site.test\n",
                Names::HostsOnly,
                "site.test",
                {},
                0,
                false,
                Steps({kLoopback6, "127.0.0.1", "127.0.0.2"}),
                "EIdSocketError 10061 Socket Error # 10061\r\nConnection refused. (all 3 "
                "addresses of site.test failed; the last was 127.0.0.2)"},
    ConnectCase{"AnIPVersionSetKeepsToThatFamily", Peers::ServerOn6,
                "::1 site.test\n127.0.0.1 site.test\n", Names::HostsOnly, "site.test", Id_IPv4, 0,
                false, Steps({"127.0.0.1"}),
                "EIdSocketError 10061 Socket Error # 10061\r\nConnection refused."},
    ConnectCase{"UnknownName",
                Peers::ServerOn4,
                "127.0.0.1 other.test\n",
                Names::HostsOnly,
                "site.test",
                {},
                0,
                false,
                Steps({}),
                "EIdSocketError 11001 Socket Error # 11001\r\nHost not found."},
    ConnectCase{"NameLongerThanAnyName",
                Peers::ServerOn4,
                "",
                Names::SilentResolver,
                QString(250, u'a') + ".test",
                {},
                0,
                false,
                {},
                "EIdSocketError 11001 Socket Error # 11001\r\nHost not found."},
    // The resolver would read the name up to the NUL, and find the server there.
    ConnectCase{"NameWithANul",
                Peers::ServerOn4,
                "127.0.0.1 site.test\n",
                Names::HostsOnly,
                QStringLiteral("site.test") + QChar(0) + QStringLiteral(".evil"),
                {},
                0,
                false,
                {},
                "EIdSocketError 11001 Socket Error # 11001\r\nHost not found."},
    ConnectCase{"ResolverNeverAnswersUntilTheDeadline",
                Peers::ServerOn4,
                "",
                Names::SilentResolver,
                "site.test",
                {},
                300,
                false,
                Steps({}),
                "EIdLookupTimeout Name lookup timed out."},
    ConnectCase{"AbortWhileTheResolverSaysNothing",
                Peers::ServerOn4,
                "",
                Names::SilentResolver,
                "site.test",
                {},
                0,
                true,
                Steps({}),
                "EIdSocketError 10053 Socket Error # 10053\r\nSoftware caused connection "
                "abort."}};

INSTANTIATE_TEST_SUITE_P(Table, ConnectByName, testing::ValuesIn(kRows), testsupport::RowName());

// Not a test of its own: the child each row of the table runs (see InChild).
TEST(ConnectByNameChild, DISABLED_OneRow) {
  const QStringList given = qEnvironmentVariable(kRowVariable).split(u'\n');
  ASSERT_EQ(given.size(), 3);
  const auto row = std::find_if(std::begin(kRows), std::end(kRows), [&](const ConnectCase& c) {
    return given[0] == QLatin1String(c.name);
  });
  ASSERT_NE(row, std::end(kRows));
  const QByteArray line = RunClient(*row, given[1].toUShort(), given[2]).toUtf8();
  ASSERT_EQ(::write(kResultDescriptor, line.constData(), size_t(line.size())), line.size());
  ::close(kResultDescriptor);
}

} // namespace
