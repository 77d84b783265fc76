// Create reading pages over real HTTP: nginx serving pages of every shape the scan meets,
// failing answers, and scripted loopback peers for what nginx will not do (stall, show the
// request as sent). The window is real; its client is the one FormCreate set up.

#include "http/IdHTTP.h"
#include "tests/e2e/EndToEndFixture.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/NamedRow.h"
#include "tests/support/NginxServer.h"
#include "tests/support/ScriptedHTTPServer.h"

#include <QCursor>
#include <QDir>
#include <QGuiApplication>

#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

namespace {

using testsupport::LoopbackPeer;
using testsupport::LoopbackServer;
using testsupport::NginxServer;

// nginx "return" rules for a chain of `count` redirects under /<name>/: /<name>/1 leads to
// /<name>/2 and so on, and the last one to /<name>/end.html.
QString RedirectChain(const QString& name, int count) {
  QString rules;
  for (int i = 1; i <= count; ++i) {
    const QString next = i == count ? QStringLiteral("end.html") : QString::number(i + 1);
    rules +=
        QStringLiteral("    location = /%1/%2 { return 302 /%1/%3; }\n").arg(name).arg(i).arg(next);
  }
  return rules;
}

// One nginx for the whole file: the pages below, a few failing paths, and two redirect chains
// on either side of the client's limit (its 15th redirect in a row is not followed).
class PageFetchTest : public testsupport::EndToEndFixture {
public:
  static NginxServer& Nginx() { return *nginx_; }
  static QString At(const QString& path) { return Nginx().BaseUrl() + path; }

protected:
  static void SetUpTestSuite() {
    try {
      nginx_ =
          std::make_unique<NginxServer>(QStringLiteral("    location = /broken { return 500; }\n"
                                                       "    location /utf8/ { charset utf-8; }\n") +
                                        RedirectChain(QStringLiteral("fourteen"), 14) +
                                        RedirectChain(QStringLiteral("fifteen"), 15));
      const QByteArray chainEnd = "<script>page_set = \"END\";</script>\n";
      nginx_->AddFile(QStringLiteral("fourteen/end.html"), chainEnd);
      nginx_->AddFile(QStringLiteral("fifteen/end.html"), chainEnd);
    } catch (const std::exception& failure) {
      startFailure_ = failure.what();
    }
  }
  static void TearDownTestSuite() { nginx_.reset(); }

  void SetUp() override { ASSERT_NE(nginx_, nullptr) << startFailure_; }

private:
  static inline std::unique_ptr<NginxServer> nginx_;
  static inline std::string startFailure_;
};

struct PageCase : testsupport::NamedRow {
  QByteArray body;
  const char* query; // the player's query Create composes from the page
};

class PageShapes : public PageFetchTest, public testing::WithParamInterface<PageCase> {};

TEST_P(PageShapes, GiveTheIdentifiersOfTheirLines) {
  const QString path = QStringLiteral("/shapes/%1.html").arg(QString::fromLatin1(GetParam().name));
  Nginx().AddFile(path.sliced(1), GetParam().body);
  TypeAddress(At(path));
  PressCreate();
  EXPECT_EQ(Code(), ExpectedCode(QString::fromUtf8(GetParam().query)));
  EXPECT_TRUE(messages_.Shown().empty()) << ShownTexts().join(u'\n').toStdString();
}

// A marker whose value has no closing quote gives nothing on its line, so the value on the
// next line wins only when the page really breaks there.
const QByteArray OpenThenClosed = "page_set = \"S0#page_set = \"S1\";#";

QByteArray WithBreaks(QByteArray text, const QByteArray& lineBreak) {
  return text.replace('#', lineBreak);
}

// Every byte of a literal, NULs included.
template <size_t N> QByteArray Bytes(const char (&text)[N]) {
  return QByteArray(text, N - 1);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, PageShapes,
    testing::Values(
        PageCase{"CarriageReturnsOnly", WithBreaks(OpenThenClosed, "\r"), "set_id=S1"},
        PageCase{"LineFeedsOnly", WithBreaks(OpenThenClosed, "\n"), "set_id=S1"},
        PageCase{"CarriageReturnLineFeeds", WithBreaks(OpenThenClosed, "\r\n"), "set_id=S1"},
        PageCase{"LineFeedCarriageReturns", WithBreaks(OpenThenClosed, "\n\r"), "set_id=S1"},
        PageCase{"GroupAndSetOnOneLine",
                 "<script>global_group_nsid = \"G1\"; page_set = \"S1\";</script>\n",
                 "group_id=G1&set_id=S1"},
        PageCase{"NulHidesLaterMarkers",
                 Bytes("photostream_owner_nsid = \"A1\";\n<!-- \0 -->\npage_set = \"S1\";\n"),
                 "user_id=A1"},
        PageCase{"OtherSpacingOrCaseIsNoMarker",
                 "page_set=\"S1\";\npage_set  =  \"S2\";\nPAGE_SET = \"S3\";\n"
                 "Photostream_owner_nsid = \"A1\";\nglobal_group_nsid= \"G1\";\n",
                 ""},
        PageCase{"FirstValueOfEachWins",
                 "page_set = \"\";\nphotostream_owner_nsid = \"A1\";\npage_set = \"S1\";\n"
                 "photostream_owner_nsid = \"A2\";\npage_set = \"S2\";\n",
                 "user_id=A1&set_id=S1"}),
    testsupport::RowName());

TEST_F(PageFetchTest, AUtf8PageIsReadByItsCharacterSet) {
  // "Å1" in UTF-8; read byte by byte it would be three characters.
  Nginx().AddFile(QStringLiteral("utf8/page.html"), "page_set = \"\xc3\x85"
                                                    "1\";\n");
  TypeAddress(At(QStringLiteral("/utf8/page.html")));
  PressCreate();
  EXPECT_EQ(Code(), ExpectedCode(QStringLiteral("set_id=%C3%851")));
}

TEST_F(PageFetchTest, FourteenRedirectsInARowAreFollowed) {
  TypeAddress(At(QStringLiteral("/fourteen/1")));
  PressCreate();
  EXPECT_EQ(Code(), ExpectedCode(QStringLiteral("set_id=END")));
  EXPECT_TRUE(messages_.Shown().empty()) << ShownTexts().join(u'\n').toStdString();
}

struct FailureCase : testsupport::NamedRow {
  std::function<QString()> address;
  // The failure's own text, shown as the box's details.
  QString details;
};

class FailedReads : public PageFetchTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(FailedReads, ShowTheMessageOnceAndKeepTheCode) {
  QTest::keyClicks(Control<QLineEdit>("TagsEdit"), QStringLiteral("red"));
  PressCreate();
  const QString before = Code();
  ASSERT_EQ(before, ExpectedCode(QStringLiteral("tags=red")));
  const QStringList previews = QDir(temp_.Path()).entryList(QDir::Files);

  const QString address = GetParam().address();
  TypeAddress(QStringLiteral("  ") + address + QStringLiteral("\t"));
  PressCreate();

  ASSERT_EQ(messages_.Shown().size(), 1U);
  EXPECT_EQ(messages_.Shown()[0].text, CantRead);
  EXPECT_EQ(messages_.Shown()[0].details, GetParam().details);
  EXPECT_EQ(messages_.Shown()[0].title, QStringLiteral("Marquelo"));
  EXPECT_EQ(Code(), before);
  EXPECT_EQ(AddressField()->text(), address);
  EXPECT_EQ(QDir(temp_.Path()).entryList(QDir::Files), previews);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FailedReads,
    testing::Values(
        FailureCase{"ClosedPort",
                    [] {
                      // Nothing listens on a port that is held bound and never listened on.
                      static testsupport::RefusingPort closed;
                      return QStringLiteral("http://127.0.0.1:%1/photos/x/").arg(closed.Port());
                    },
                    QStringLiteral("Socket Error # 10061\r\nConnection refused.")},
        FailureCase{"NotFound", [] { return PageFetchTest::At(QStringLiteral("/missing.html")); },
                    QStringLiteral("HTTP/1.1 404 Not Found")},
        FailureCase{"ServerError", [] { return PageFetchTest::At(QStringLiteral("/broken")); },
                    QStringLiteral("HTTP/1.1 500 Internal Server Error")},
        FailureCase{"ControlBytesOfThePeerAreEscaped",
                    [] {
                      static testsupport::ScriptedHTTPServer server(
                          {testsupport::Reply{testsupport::Response(
                              "HTTP/1.1 502 \x1b[2J\rgone\x7f\xc2\x9b", "<p>x</p>")}});
                      return server.Url(QStringLiteral("/photos/x/"));
                    },
                    QStringLiteral("HTTP/1.1 502 \\x1b[2J\\rgone\\x7f\\x9b")},
        FailureCase{"FifteenRedirectsInARow",
                    [] { return PageFetchTest::At(QStringLiteral("/fifteen/1")); },
                    QStringLiteral("The page redirected too many times.")}),
    testsupport::RowName());

} // namespace
