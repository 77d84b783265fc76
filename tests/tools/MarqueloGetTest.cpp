// marquelo-get as a user runs it: the built program against nginx and scripted loopback peers,
// judged by its exit status and what it writes to standard output, standard error and files.

#include "tests/support/NamedRow.h"
#include "tests/support/NginxServer.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/ScriptedHTTPServer.h"
#include "tests/tools/RunMarqueloGet.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using namespace testsupport;

TEST(MarqueloGet, TellsItsVersionAndUsage) {
  const ProgramRun version = MarqueloGet({QStringLiteral("--version")});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, QByteArray("marquelo-get " MARQUELO_PROJECT_VERSION "\n"));
  const ProgramRun help = MarqueloGet({QStringLiteral("--help")});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(help.out.startsWith("Usage: marquelo-get [options] URL")) << help.out.data();
}

class BadUsage : public testing::TestWithParam<QStringList> {};

TEST_P(BadUsage, ExitsWith64AndSaysWhy) {
  ScriptedHTTPServer server(std::vector<Reply>{});
  QStringList arguments = GetParam();
  arguments.replaceInStrings(QStringLiteral("URL"), server.Url());
  const ProgramRun run = MarqueloGet(arguments);
  EXPECT_EQ(run.exitCode, 64);
  EXPECT_TRUE(run.err.startsWith("marquelo-get: ")) << run.err.data();
  EXPECT_TRUE(run.out.isEmpty());
  EXPECT_EQ(server.Connections(), 0);
}

INSTANTIATE_TEST_SUITE_P(Lines, BadUsage,
                         testing::Values(QStringList{}, QStringList{"--bogus", "URL"},
                                         QStringList{"URL", "-o"},
                                         QStringList{"--max-redirects", "many", "URL"},
                                         QStringList{"--read-timeout", "-5", "URL"},
                                         QStringList{"-H", "NoColon", "URL"},
                                         QStringList{"-H", ": no name", "URL"}, QStringList{"-v"}));

class MarqueloGetNginx : public testing::Test {
protected:
  static void SetUpTestSuite() {
    nginx_ = new testsupport::NginxServer(QStringLiteral(R"(
      add_header X-Connection $connection;
      location = /login { add_header Set-Cookie "session=abc; Path=/"; return 302 /a.txt; }
      location = /loop { return 302 /loop; }
    )"));
    nginx_->AddFile(QStringLiteral("a.txt"), "first body\n");
    nginx_->AddFile(QStringLiteral("dir/b.txt"), "second body\n");
    nginx_->AddFile(QStringLiteral("utf8.html"), "caf\xc3\xa9");
  }
  static void TearDownTestSuite() { delete nginx_; }
  static QString Url(const QString& path) { return nginx_->BaseUrl() + path; }

  static testsupport::NginxServer* nginx_;
};

testsupport::NginxServer* MarqueloGetNginx::nginx_ = nullptr;

TEST_F(MarqueloGetNginx, WritesHeadsAndBodiesInOrderOnOneConnection) {
  const ProgramRun run = MarqueloGet({"-i", Url("/dir/b.txt"), "../a.txt"});
  ASSERT_EQ(run.exitCode, 0) << run.err.data();
  const QList<QByteArray> parts = run.out.split('\n');
  ASSERT_GT(parts.size(), 2);
  EXPECT_EQ(parts[0], QByteArray("HTTP/1.1 200 OK"));
  const qsizetype firstBody = run.out.indexOf("\n\nsecond body\n");
  const qsizetype secondHead = run.out.indexOf("HTTP/1.1 200 OK", firstBody);
  EXPECT_GT(firstBody, 0);
  EXPECT_GT(secondHead, firstBody);
  EXPECT_TRUE(run.out.endsWith("\n\nfirst body\n"));
  // The server names its connection: the same one served both.
  const auto connectionAt = [&](qsizetype from) {
    const qsizetype at = run.out.indexOf("X-Connection: ", from) + 14;
    return run.out.mid(at, run.out.indexOf('\n', at) - at);
  };
  EXPECT_EQ(connectionAt(0), connectionAt(secondHead));
}

TEST_F(MarqueloGetNginx, WritesBodyBytesToAFileAndDecodesTextForTheTerminal) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("out"));
  const ProgramRun toFile = MarqueloGet({"-o", file, Url("/a.txt"), Url("/dir/b.txt")});
  EXPECT_EQ(toFile.exitCode, 0) << toFile.err.data();
  EXPECT_TRUE(toFile.out.isEmpty());
  QFile written(file);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(written.readAll(), QByteArray("first body\nsecond body\n"));

  // Without a character set the body is read byte for byte and written out again as UTF-8.
  const ProgramRun text = MarqueloGet({Url("/utf8.html")});
  EXPECT_EQ(text.out, QByteArray("caf\xc3\x83\xc2\xa9"));
}

TEST_F(MarqueloGetNginx, ListsTheCookiesOfARedirect) {
  const ProgramRun run = MarqueloGet({"--cookies", "-o", "/dev/null", Url("/login")});
  EXPECT_EQ(run.exitCode, 0) << run.err.data();
  EXPECT_EQ(run.err, QByteArray("session=abc; path=/; domain=127.0.0.1\n"));
}

struct FailureCase : testsupport::NamedRow {
  // "NGINX" stands for the server's base address, "TLS-NGINX" for the same with https.
  QStringList arguments;
  int exitCode;
  QByteArray err;
};

class MarqueloGetFailures : public MarqueloGetNginx,
                            public testing::WithParamInterface<FailureCase> {};

TEST_P(MarqueloGetFailures, StopAtTheFirstWithTheFailureAndItsStatus) {
  QStringList arguments = GetParam().arguments;
  QString https = nginx_->BaseUrl();
  https.replace(QStringLiteral("http:"), QStringLiteral("https:"));
  arguments.replaceInStrings(QStringLiteral("TLS-NGINX"), https);
  arguments.replaceInStrings(QStringLiteral("NGINX"), nginx_->BaseUrl());
  const ProgramRun run = MarqueloGet(arguments);
  EXPECT_EQ(run.exitCode, GetParam().exitCode);
  EXPECT_EQ(run.err, GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MarqueloGetFailures,
    testing::Values(FailureCase{"NotFound",
                                {"NGINX/missing", "NGINX/a.txt"},
                                1,
                                "EIdHTTPProtocolException: HTTP/1.1 404 Not Found [404]\n"},
                    FailureCase{"RedirectNotFollowed",
                                {"--no-follow", "NGINX/login"},
                                1,
                                "EIdHTTPProtocolException: HTTP/1.1 302 Moved Temporarily [302]\n"},
                    FailureCase{"UnknownHost",
                                {"http://marquelo-get.invalid/"},
                                2,
                                "EIdSocketError: Socket Error # 11001\nHost not found.\n"},
                    FailureCase{"HttpsToAPlainServer",
                                {"TLS-NGINX/a.txt"},
                                2,
                                "EIdSSLProtocolReplyError: TLS handshake with 127.0.0.1 failed: "
                                "the server answered in plain HTTP, not TLS\n"},
                    FailureCase{"UnwritableOutput",
                                {"-o", "/nonexistent-dir/out", "NGINX/a.txt"},
                                2,
                                "EIdFileOpenFailed: Cannot open file \"/nonexistent-dir/out\".\n"}),
    testsupport::RowName());

TEST_F(MarqueloGetNginx, TheRedirectLimitIsNoFailure) {
  const ProgramRun run = MarqueloGet({"--max-redirects", "3", "-v", Url("/loop")});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.out.isEmpty());
  EXPECT_EQ(run.err.count("> GET /loop HTTP/1.1\n"), 3) << run.err.data();
  EXPECT_EQ(run.err.count("* Redirect "), 2);
}

TEST(MarqueloGet, ARefusedConnectionStopsTheRun) {
  ScriptedHTTPServer later({Reply{Response("HTTP/1.1 200 OK", "x")}});
  const QString refused = QStringLiteral("http://127.0.0.1:1/");
  const ProgramRun run = MarqueloGet({refused, later.Url()});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, QByteArray("EIdSocketError: Socket Error # 10061\nConnection refused.\n"));
  EXPECT_EQ(later.Connections(), 0);
}

TEST(MarqueloGet, SendsTheWindowsRequestWithWhatTheCommandLineAdds) {
  ScriptedHTTPServer server(
      {Reply{Response("HTTP/1.1 401 Unauthorized", {}, "WWW-Authenticate: Basic realm=\"r\"\r\n")},
       Reply{Response("HTTP/1.1 200 OK", "welcome")}});
  const ProgramRun run =
      MarqueloGet({"--http1.0", "-H", "X-Trace: 7", "-u", "ann:pw", server.Url("/p")});
  EXPECT_EQ(run.exitCode, 0) << run.err.data();
  EXPECT_EQ(run.out, QByteArray("welcome"));
  EXPECT_EQ(server.RequestLine(0), QByteArray("GET /p HTTP/1.0"));
  EXPECT_EQ(server.Header(0, "User-Agent"),
            QByteArray("Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)"));
  EXPECT_EQ(server.Header(0, "Accept"), QByteArray("*/*"));
  EXPECT_EQ(server.Header(0, "Pragma"), QByteArray("no-cache"));
  EXPECT_EQ(server.Header(0, "X-Trace"), QByteArray("7"));
  EXPECT_EQ(server.Header(1, "Authorization"), QByteArray("Basic YW5uOnB3"));
}

// Whatever a server sends that reaches the terminal (a status line, a header, a redirect
// target) arrives with its control characters written as escapes: no byte of it may move the
// cursor, set the window title or ring the bell.
TEST(MarqueloGet, WritesAPeersControlCharactersAsEscapes) {
  ScriptedHTTPServer server(
      {Reply{Response("HTTP/1.1 200 OK", "ok", "X-Title: \x1b]2;owned\x07\r\n")},
       Reply{Response("HTTP/1.1 302 Found", {}, "Location: /next\x1b[31m\r\n")},
       Reply{Response("HTTP/1.1 500 \x1b[2J\x7f\xc2\x9b"
                      "1m")}});
  const ProgramRun run = MarqueloGet({"-v", "-i", server.Url("/a"), server.Url("/b")});
  EXPECT_EQ(run.exitCode, 1) << run.err.data();
  EXPECT_TRUE(run.out.contains("X-Title: \\x1b]2;owned\\x07\n")) << run.out.data();
  EXPECT_TRUE(run.err.contains("* Redirect 1 to /next\\x1b[31m\n")) << run.err.data();
  EXPECT_TRUE(run.err.contains("HTTP/1.1 500 \\x1b[2J\\x7f\\x9b1m [500]\n")) << run.err.data();
  for (const QByteArray& text : {run.out, run.err}) {
    const QString decoded = QString::fromUtf8(text);
    for (const QChar c : decoded) {
      const char16_t u = c.unicode();
      EXPECT_TRUE(u == u'\n' || (u >= 0x20 && u != 0x7f && (u < 0x80 || u >= 0xa0)))
          << "control character " << int(u) << " in " << text.data();
    }
  }
}

TEST(MarqueloGet, GivesUpOnAServerThatDripsItsAnswerAtTheCallLimit) {
  using namespace std::chrono_literals;
  testsupport::LoopbackServer server([](testsupport::LoopbackPeer& peer) {
    if (!peer.ReadRequestHead().isEmpty()) {
      peer.SendSlowly("HTTP/1.1 200 OK\r\nX-Drip: " + QByteArray(10000, 'a'), 1, 100ms);
    }
  });
  const ProgramRun run = MarqueloGet({"--read-timeout", "1000", "--max-time", "600",
                                      QStringLiteral("http://127.0.0.1:%1/").arg(server.Port())});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, QByteArray("EIdCallTimeout: Call timed out.\n"));
}

} // namespace
