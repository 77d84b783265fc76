// Create against the local demo service: real nginx serving the generated vantrel pages, the
// real window under an X display, the real browser engine and clipboard.

#include "tests/e2e/DemoService.h"
#include "app/BuildConfig.h"
#include "app/DemoCertificate.h"
#include "app/EmbedCode.h"
#include "tests/e2e/EndToEndFixture.h"
#include "tests/support/NamedRow.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QWebEnginePage>
#include <QWebEngineProfile>

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

// The port of a compiled-in host ("127.0.0.1:PORT"); 0 when it names none.
int PortOf(const QString& host) {
  return std::max(QUrl(QStringLiteral("http://") + host).port(), 0);
}

// Sets an environment variable for the fixture's lifetime, then puts back what was there.
class ScopedVariable {
public:
  ScopedVariable(const char* name, const QString& value)
      : name_(name), saved_(qgetenv(name)), hadValue_(qEnvironmentVariableIsSet(name)) {
    qputenv(name, QFile::encodeName(value));
  }
  ~ScopedVariable() {
    if (hadValue_) {
      qputenv(name_, saved_);
    } else {
      qunsetenv(name_);
    }
  }
  Q_DISABLE_COPY(ScopedVariable)

private:
  const char* name_;
  QByteArray saved_;
  bool hadValue_;
};

// One service for every test of a suite: drawing its pictures, making its certificates and
// starting nginx take a second or two. A failed start fails each test with the reason. A demo
// build compiles the service's ports in, so its service must listen on those; a normal build's
// takes free ones. Either way the run is set up as scripts/run sets up a demo run: the page
// fetch trusts the demo's authority instead of the system's, and the demo's certificate is
// named for the preview, which only a demo build may accept.
class DemoServiceFixture : public testsupport::EndToEndFixture {
protected:
  static void SetUpTestSuite() {
    try {
      service_ = MARQUELO_DEMO
                     ? std::make_unique<DemoService>(PortOf(ServiceHost), PortOf(SecureServiceHost))
                     : std::make_unique<DemoService>();
      trustedAuthority_ =
          std::make_unique<ScopedVariable>("SSL_CERT_FILE", service_->Value(QStringLiteral("ca")));
      namedCertificate_ = std::make_unique<ScopedVariable>(
          kDemoCertificateVariable, service_->Value(QStringLiteral("certificate")));
    } catch (const std::exception& failure) {
      startFailure_ = failure.what();
    }
  }
  static void TearDownTestSuite() {
    namedCertificate_.reset();
    trustedAuthority_.reset();
    service_.reset();
  }

  void SetUp() override { ASSERT_NE(service_, nullptr) << startFailure_; }

  static DemoService& Service() { return *service_; }

  // Types the address the service gives for key and presses Create; the service's log length
  // from before, for WaitForLogLine to look past.
  qsizetype CreateForPage(const QString& key) {
    const qsizetype logged = Service().LogLineCount();
    TypeAddress(Service().Value(key));
    PressCreate();
    return logged;
  }

private:
  static inline std::unique_ptr<DemoService> service_;
  static inline std::unique_ptr<ScopedVariable> trustedAuthority_;
  static inline std::unique_ptr<ScopedVariable> namedCertificate_;
  static inline std::string startFailure_;
};

class DemoServiceTest : public DemoServiceFixture {};

TEST_F(DemoServiceTest, ASetPageGivesItsCodePreviewAndClipboardText) {
  // On screen, so that the preview really renders; not made active, which parallel GUI tests
  // on one display would take from each other.
  form_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
  const qsizetype logged = CreateForPage(QStringLiteral("set"));

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

TEST_F(DemoServiceTest, AFittingCodeNamesTheSetItShows) {
  QTest::mouseClick(Control<QCheckBox>("FitNarrowCheckBox"), Qt::LeftButton);
  CreateForPage(QStringLiteral("set"));
  EXPECT_EQ(Code(),
            FittingEmbedCode(SlideshowBaseAddress +
                                 QStringLiteral("user_id=%1&set_id=%2").arg(OwnerId, SetId),
                             500, 500, QStringLiteral("vantrel slideshow of set ") + SetId));
  EXPECT_TRUE(messages_.Shown().empty()) << ShownTexts().join(u'\n').toStdString();
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
  CreateForPage(QString::fromLatin1(GetParam().key));
  EXPECT_EQ(Code(), ExpectedCode(GetParam().query));
  EXPECT_TRUE(messages_.Shown().empty()) << ShownTexts().join(u'\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Service, DemoServicePages,
    testing::Values(ServicePage{"Photostream", "photostream", "user_id=" + OwnerId},
                    ServicePage{"Group", "group", "group_id=" + GroupId},
                    ServicePage{"RedirectToTheSet", "redirect",
                                QStringLiteral("user_id=%1&set_id=%2").arg(OwnerId, SetId)}),
    testsupport::RowName());

TEST_F(DemoServiceTest, TheCookieOfARedirectGoesAlongToItsTarget) {
  const qsizetype logged = CreateForPage(QStringLiteral("redirect"));

  // A new window has a new client with an empty cookie store: the first request carries none.
  const QString redirect = Service().WaitForLogLine(QStringLiteral("\"GET /go/set "), logged);
  EXPECT_TRUE(redirect.contains(QStringLiteral(" 302 "))) << redirect.toStdString();
  EXPECT_TRUE(redirect.endsWith(QStringLiteral("cookie=\"-\""))) << redirect.toStdString();
  const QString target = Service().WaitForLogLine(QStringLiteral("\"GET %1 ").arg(SetPath), logged);
  EXPECT_TRUE(target.endsWith(QStringLiteral("cookie=\"vt_session=5e7a91c04d2b\"")))
      << target.toStdString();
}

// Whether the real engine, in a private profile of its own (so that no decision taken by
// another test is remembered), loads the https player when the preview's certificate answer
// is given the file named certificateFile.
bool EngineLoadsThePlayerNaming(const QString& player, const QString& certificateFile) {
  const ScopedVariable named(kDemoCertificateVariable, certificateFile);
  QWebEngineProfile profile;
  auto page = std::make_unique<QWebEnginePage>(&profile);
  QObject::connect(page.get(), &QWebEnginePage::certificateError, &AnswerCertificateError);
  QSignalSpy loaded(page.get(), &QWebEnginePage::loadFinished);
  page->load(QUrl(player));
  EXPECT_TRUE(loaded.wait(30000));
  return !loaded.isEmpty() && loaded.first().first().toBool();
}

TEST_F(DemoServiceTest, OnlyADemoBuildAcceptsTheDemoCertificateAndNoOther) {
  const QString player = Service().Value(QStringLiteral("https_player"));
  // The authority's own certificate is not the one the server presents.
  EXPECT_FALSE(EngineLoadsThePlayerNaming(player, Service().Value(QStringLiteral("ca"))));
  EXPECT_FALSE(EngineLoadsThePlayerNaming(player, QString()));
  EXPECT_EQ(EngineLoadsThePlayerNaming(player, Service().Value(QStringLiteral("certificate"))),
            MARQUELO_DEMO == 1);
}

TEST_F(DemoServiceTest, AnHttpsSetPageLeadsToTheHttpsPlayerThatThePreviewPlays) {
  form_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
  const qsizetype logged = CreateForPage(QStringLiteral("https_set"));

  const QString query = QStringLiteral("user_id=%1&set_id=%2").arg(OwnerId, SetId);
  EXPECT_EQ(Code(), ExpectedCode(query, SecureSlideshowBaseAddress));
  EXPECT_TRUE(Code().contains(QStringLiteral("src=\"https://"))) << Code().toStdString();
  EXPECT_TRUE(messages_.Shown().empty()) << ShownTexts().join(u'\n').toStdString();
  const QString request =
      Service().WaitForLogLine(QStringLiteral("\"GET %1 ").arg(SetPath), logged);
  EXPECT_TRUE(request.startsWith(QStringLiteral("https ")) && request.contains(u" 200 "))
      << request.toStdString();

  QWidget* browser = form_.WebBrowser();
  ASSERT_NE(browser, nullptr);
  QSignalSpy loaded(browser, SIGNAL(loadFinished(bool)));
  ASSERT_TRUE(loaded.wait(30000));
  EXPECT_TRUE(loaded.first().first().toBool());
  // Only a demo build's player lives at the service: the engine fetched it over https, which
  // it does only once it has accepted the server's certificate.
  if (MARQUELO_DEMO) {
    const QString player = Service().WaitForLogLine(
        QStringLiteral("\"GET /slideShow/index.gne?%1 ").arg(query), logged);
    EXPECT_TRUE(player.startsWith(QStringLiteral("https ")) && player.contains(u" 200 "))
        << player.toStdString();
  }
}

} // namespace
