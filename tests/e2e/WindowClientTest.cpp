// The window's HTTP client as a server sees it, and the window while it waits: scripted
// loopback peers that show the request as sent, answer, or never answer.

#include "app/PageClient.h"
#include "http/IdHTTP.h"
#include "tests/e2e/EndToEndFixture.h"
#include "tests/support/LoopbackServer.h"

#include <QCursor>
#include <QGuiApplication>

#include <stdexcept>
#include <zlib.h>

namespace {

using testsupport::LoopbackPeer;
using testsupport::LoopbackServer;
using namespace std::chrono_literals;

class WindowClientTest : public testsupport::EndToEndFixture {
protected:
  static QString AddressOf(const LoopbackServer& server, const char* path) {
    return QStringLiteral("http://127.0.0.1:%1%2")
        .arg(server.Port())
        .arg(QString::fromLatin1(path));
  }
};

// A script that answers the request with a page of body.
LoopbackServer::Script Answering(const QByteArray& status, const QByteArray& body) {
  return [status, body](LoopbackPeer& peer) {
    peer.ReadRequestHead();
    peer.Send("HTTP/1.1 " + status + "\r\nContent-Type: text/html\r\nContent-Length: " +
              QByteArray::number(body.size()) + "\r\n\r\n" + body);
  };
}

// The body compressed as a server's gzip filter sends it.
QByteArray Gzipped(const QByteArray& body) {
  z_stream stream{};
  deflateInit2(&stream, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  QByteArray out(qsizetype(deflateBound(&stream, uLong(body.size()))), Qt::Uninitialized);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
  stream.avail_in = uInt(body.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = uInt(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(qsizetype(stream.total_out));
  deflateEnd(&stream);
  return out;
}

// A server that sends its pages gzip-compressed whatever the request asks for.
LoopbackServer::Script AnsweringGzipped(const QByteArray& body) {
  const QByteArray coded = Gzipped(body);
  return [coded](LoopbackPeer& peer) {
    peer.ReadRequestHead();
    peer.Send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: gzip\r\n"
              "Content-Length: " +
              QByteArray::number(coded.size()) + "\r\n\r\n" + coded);
  };
}

const QByteArray OwnerPage = "<script>photostream_owner_nsid = \"A1\";</script>\n";

// What the cursor is over the program's windows right now.
Qt::CursorShape CurrentCursor() {
  const QCursor* cursor = QGuiApplication::overrideCursor();
  return cursor != nullptr ? cursor->shape() : Qt::ArrowCursor;
}

TEST_F(WindowClientTest, TheRequestGoesOutAsFormCreateSetItUp) {
  LoopbackServer server(Answering("200 OK", OwnerPage));
  TypeAddress(AddressOf(server, "/photos/someone/?page=2"));
  PressCreate();

  ASSERT_TRUE(server.WaitForConnections(1));
  EXPECT_EQ(server.Received(0),
            "GET /photos/someone/?page=2 HTTP/1.1\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "Cache-control: no-cache\r\n"
            "Pragma: no-cache\r\n"
            "Host: 127.0.0.1:" +
                QByteArray::number(server.Port()) +
                "\r\n"
                "Accept: */*\r\n"
                "Accept-Encoding: gzip, deflate, br, zstd, identity\r\n"
                "User-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n"
                "\r\n");
  EXPECT_EQ(Code(), ExpectedCode(QStringLiteral("user_id=A1")));
}

TEST_F(WindowClientTest, APageSentOnlyGzippedIsReadForItsIdentifiers) {
  LoopbackServer server(AnsweringGzipped(OwnerPage));
  TypeAddress(AddressOf(server, "/photos/someone/"));
  PressCreate();

  EXPECT_TRUE(messages_.Shown().empty()) << ShownTexts().join(u'\n').toStdString();
  EXPECT_EQ(Code(), ExpectedCode(QStringLiteral("user_id=A1")));
}

TEST_F(WindowClientTest, APageThatDecodesPastTheLimitEndsInTheMessage) {
  // A few hundred KiB on the wire, far more once decoded.
  LoopbackServer server(AnsweringGzipped(OwnerPage + QByteArray(kPageSizeLimit + 1, ' ')));
  TypeAddress(AddressOf(server, "/photos/someone/"));
  PressCreate();

  EXPECT_EQ(ShownTexts(), QStringList{CantRead});
  EXPECT_EQ(Code(), QString());
}

TEST_F(WindowClientTest, AConnectionTheServerClosedWhileIdleIsNotReused) {
  // Each answer allows keeping the connection, then the server closes it, as servers do with
  // idle connections between two presses of Create.
  LoopbackServer server(Answering("200 OK", OwnerPage));
  TypeAddress(AddressOf(server, "/photos/someone/"));
  PressCreate();
  ASSERT_TRUE(server.WaitForScripts(1));
  PressCreate();

  EXPECT_TRUE(messages_.Shown().empty()) << ShownTexts().join(u'\n').toStdString();
  EXPECT_EQ(Code(), ExpectedCode(QStringLiteral("user_id=A1")));
  EXPECT_EQ(server.ConnectionCount(), 2);
}

TEST_F(WindowClientTest, AConnectionThatDiesAsTheNextCreateUsesItIsMadeGood) {
  // The server keeps the first connection until the next request comes, minutes later, and
  // then drops it unanswered, as a server whose keep-alive ran out just then does.
  const LoopbackServer::Script answer = Answering("200 OK", OwnerPage);
  LoopbackServer server([&answer](LoopbackPeer& peer) {
    answer(peer);
    if (peer.Index() == 0 && !peer.ReadRequestHead().isEmpty()) {
      peer.Close();
    }
  });
  TypeAddress(AddressOf(server, "/photos/someone/"));
  PressCreate();
  PressCreate();

  EXPECT_TRUE(messages_.Shown().empty()) << ShownTexts().join(u'\n').toStdString();
  EXPECT_EQ(Code(), ExpectedCode(QStringLiteral("user_id=A1")));
  EXPECT_EQ(server.ConnectionCount(), 2);
}

TEST_F(WindowClientTest, EveryFetchIsBoundedFromTheStart) {
  EXPECT_EQ(form_.IdHTTP().ConnectTimeout(), 15000);
  EXPECT_EQ(form_.IdHTTP().ReadTimeout(), 30000);
}

TEST_F(WindowClientTest, AServerThatNeverAnswersEndsInTheMessage) {
  // The peer holds the request for longer than the test may take; only the client's read time
  // limit can end the wait.
  LoopbackServer server(
      [](LoopbackPeer& peer) {
        peer.ReadRequestHead();
        peer.WaitForRelease();
      },
      testsupport::Family::IPv4, 120s);
  form_.IdHTTP().SetReadTimeout(300);
  TypeAddress(AddressOf(server, "/photos/someone/"));
  PressCreate();

  EXPECT_EQ(ShownTexts(), QStringList{CantRead});
  EXPECT_EQ(Code(), QString());
  // The read timed out, which the server's accept need not have preceded on a busy machine.
  EXPECT_TRUE(server.WaitForConnections(1));
  EXPECT_EQ(server.ConnectionCount(), 1);
  EXPECT_EQ(server.FinishedCount(), 0); // the server never gave up: the client did
  server.Release();
}

TEST_F(WindowClientTest, AConnectNobodyAnswersEndsInTheMessage) {
  testsupport::NeverAcceptingListener listener;
  form_.IdHTTP().SetConnectTimeout(300);
  TypeAddress(QStringLiteral("http://127.0.0.1:%1/photos/someone/").arg(listener.Port()));
  PressCreate();
  EXPECT_EQ(ShownTexts(), QStringList{CantRead});
  EXPECT_EQ(Code(), QString());
}

TEST_F(WindowClientTest, TheWaitCursorShowsWhileThePageIsReadAndIsGoneForTheMessage) {
  QList<Qt::CursorShape> duringFetch;
  form_.IdHTTP().OnHeadersAvailable = [&duringFetch](TIdCustomHTTP*, TIdHeaderList&, bool&) {
    duringFetch << CurrentCursor();
  };
  QList<Qt::CursorShape> duringMessage;
  const MessagePresenter recorder =
      SetMessagePresenter([&duringMessage](QMessageBox::Icon, const QString&, const QString&,
                                           const QString&) { duringMessage << CurrentCursor(); });

  LoopbackServer page(Answering("200 OK", OwnerPage));
  TypeAddress(AddressOf(page, "/photos/someone/"));
  PressCreate();
  EXPECT_EQ(Code(), ExpectedCode(QStringLiteral("user_id=A1")));
  EXPECT_EQ(CurrentCursor(), Qt::ArrowCursor);

  LoopbackServer missing(Answering("404 Not Found", "<p>no such page</p>"));
  TypeAddress(AddressOf(missing, "/photos/nobody/"));
  PressCreate();
  SetMessagePresenter(recorder);

  EXPECT_EQ(duringFetch, (QList<Qt::CursorShape>{Qt::WaitCursor, Qt::WaitCursor}));
  EXPECT_EQ(duringMessage, QList<Qt::CursorShape>{Qt::ArrowCursor});
  EXPECT_EQ(CurrentCursor(), Qt::ArrowCursor);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(WindowClientTest, OnlyTheExactPlaceholderAndAnEmptyAddressAreNotRead) {
  // The service's own host must not be looked up from a test: the client's handler announces
  // the lookup first, and the test stops the fetch right there.
  QStringList lookups;
  form_.IdHTTP().IOHandler()->OnStatus = [&lookups](TIdComponent*, TIdStatus status,
                                                    const QString& text) {
    if (status == hsResolving) {
      lookups << text;
      throw std::runtime_error("stopped before the lookup");
    }
  };
  const QString otherCase = PlaceholderAddress.toUpper();
  const QString longer = PlaceholderAddress + QStringLiteral("photos/");
  for (const QString& address : {PlaceholderAddress, QString(), otherCase, longer}) {
    TypeAddress(address);
    PressCreate();
  }
  EXPECT_EQ(lookups,
            (QStringList{QStringLiteral("Resolving hostname %1.").arg(ServiceHost.toUpper()),
                         QStringLiteral("Resolving hostname %1.").arg(ServiceHost)}));
  EXPECT_EQ(ShownTexts(), (QStringList{CantRead, CantRead}));
}

} // namespace
