// Create against the local demo service: real nginx serving the generated vantrel pages, the
// real window under an X display, the real browser engine and clipboard.

#include "tests/e2e/DemoService.h"
#include "tests/e2e/EndToEndFixture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QSignalSpy>

#include <memory>
#include <ostream>
#include <string>

namespace {

using testsupport::DemoService;

// The identities the service's pages are written about (the table at the top of its script).
const QString OwnerId = QStringLiteral("48213907@N03");
const QString SetId = QStringLiteral("72157630418827561");
const QString GroupId = QStringLiteral("34981765@N20");
const QString SetPath = QStringLiteral("/photos/corrie/sets/72157630418827561/");

// One service for every test of a suite: drawing its pictures and starting nginx takes a
// second or two. A failed start fails each test with the reason.
class DemoServiceFixture : public testsupport::EndToEndFixture {
protected:
  static void SetUpTestSuite() {
    try {
      service_ = std::make_unique<DemoService>();
    } catch (const std::exception& failure) {
      startFailure_ = failure.what();
    }
  }
  static void TearDownTestSuite() { service_.reset(); }

  void SetUp() override { ASSERT_NE(service_, nullptr) << startFailure_; }

  static DemoService& Service() { return *service_; }

private:
  static inline std::unique_ptr<DemoService> service_;
  static inline std::string startFailure_;
};

class DemoServiceTest : public DemoServiceFixture {};

TEST_F(DemoServiceTest, ASetPageGivesItsCodePreviewAndClipboardText) {
  // On screen, so that the preview really renders; not made active, which parallel GUI tests
  // on one display would take from each other.
  form_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
  const qsizetype logged = Service().LogLineCount();
  TypeAddress(Service().Value(QStringLiteral("set")));
  PressCreate();

  const QString code = ExpectedCode(QStringLiteral("user_id=%1&set_id=%2").arg(OwnerId, SetId));
  EXPECT_EQ(Code(), code);
  EXPECT_TRUE(messages_.Shown().empty()) << ShownTexts().join(u'\n').toStdString();

  // The one request for the page went out as the window's client sends it.
  const QString request =
      Service().WaitForLogLine(QStringLiteral("\"GET %1 ").arg(SetPath), logged);
  EXPECT_TRUE(request.contains(QStringLiteral(" 200 "))) << request.toStdString();
  EXPECT_TRUE(
      request.contains(QStringLiteral("ua=\"Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\"")))
      << request.toStdString();

  EXPECT_EQ(ReadWholeFile(temp_.File(QStringLiteral("mqtemp.html"))),
            "<html><body style=\"margin:0;padding:0;\">" + code.toUtf8() + "</body></html>\r\n");
  QWidget* browser = form_.WebBrowser();
  ASSERT_NE(browser, nullptr);
  QSignalSpy loaded(browser, SIGNAL(loadFinished(bool)));
  ASSERT_TRUE(loaded.wait(30000));
  EXPECT_TRUE(loaded.first().first().toBool());
  EXPECT_EQ(browser->property("url").toUrl(),
            QUrl::fromLocalFile(temp_.File(QStringLiteral("mqtemp.html"))));

  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText(QStringLiteral("something else"));
  Press("CopyButton");
  EXPECT_EQ(clipboard->text(), code);
}

struct ServicePage {
  const char* name;
  const char* key; // the service's name for the page's address
  QString query;   // the player's query the page leads to
};

void PrintTo(const ServicePage& page, std::ostream* out) {
  *out << page.name;
}

class DemoServicePages : public DemoServiceFixture,
                         public testing::WithParamInterface<ServicePage> {};

TEST_P(DemoServicePages, LeadToThePlayerWithTheirIdentifiers) {
  TypeAddress(Service().Value(QString::fromLatin1(GetParam().key)));
  PressCreate();
  EXPECT_EQ(Code(), ExpectedCode(GetParam().query));
  EXPECT_TRUE(messages_.Shown().empty()) << ShownTexts().join(u'\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Service, DemoServicePages,
    testing::Values(ServicePage{"Photostream", "photostream", "user_id=" + OwnerId},
                    ServicePage{"Group", "group", "group_id=" + GroupId},
                    ServicePage{"RedirectToTheSet", "redirect",
                                QStringLiteral("user_id=%1&set_id=%2").arg(OwnerId, SetId)}),
    [](const testing::TestParamInfo<ServicePage>& info) { return std::string(info.param.name); });

TEST_F(DemoServiceTest, TheCookieOfARedirectGoesAlongToItsTarget) {
  const qsizetype logged = Service().LogLineCount();
  TypeAddress(Service().Value(QStringLiteral("redirect")));
  PressCreate();

  // A new window has a new client with an empty cookie store: the first request carries none.
  const QString redirect = Service().WaitForLogLine(QStringLiteral("\"GET /go/set "), logged);
  EXPECT_TRUE(redirect.contains(QStringLiteral(" 302 "))) << redirect.toStdString();
  EXPECT_TRUE(redirect.endsWith(QStringLiteral("cookie=\"-\""))) << redirect.toStdString();
  const QString target = Service().WaitForLogLine(QStringLiteral("\"GET %1 ").arg(SetPath), logged);
  EXPECT_TRUE(target.endsWith(QStringLiteral("cookie=\"vt_session=5e7a91c04d2b\"")))
      << target.toStdString();
}

} // namespace
