#include "http/IdCookie.h"

#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

#include <typeinfo>
#include <vector>

namespace {

constexpr double kSecond = 1.0 / 86400.0;

// A moment after every fixed future date used here.
TDateTime At2096() {
  return EncodeDateTime(2096, 1, 1).value_or(0);
}

// --- Reading a Set-cookie text --------------------------------------------------------------

struct ParseCase {
  const char* text;
  const char* name;
  const char* value;
  const char* path;
  const char* domain;
  bool secure;
  int64_t maxAge;
  TIdCookieStyle style;
  const char* version = "";
  const char* comment = "";
};

void PrintTo(const ParseCase& c, std::ostream* os) {
  *os << '"' << c.text << '"';
}

class CookieParsing : public testing::TestWithParam<ParseCase> {};

TEST_P(CookieParsing, FillsTheFields) {
  const ParseCase& c = GetParam();
  TIdCookieRFC2109 cookie;
  cookie.ParseCookieText(QString::fromUtf8(c.text));
  EXPECT_EQ(cookie.CookieName(), QString::fromUtf8(c.name));
  EXPECT_EQ(cookie.CookieValue(), QString::fromUtf8(c.value));
  EXPECT_EQ(cookie.CookiePath(), QString::fromUtf8(c.path));
  EXPECT_EQ(cookie.CookieDomain(), QString::fromUtf8(c.domain));
  EXPECT_EQ(cookie.SecureOnly(), c.secure);
  EXPECT_EQ(cookie.MaxAgeSeconds(), c.maxAge);
  EXPECT_EQ(cookie.CookieStyle(), c.style);
  EXPECT_EQ(cookie.VersionText(), QString::fromUtf8(c.version));
  EXPECT_EQ(cookie.CommentText(), QString::fromUtf8(c.comment));
  EXPECT_EQ(cookie.SourceText(), QString::fromUtf8(c.text));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CookieParsing,
    testing::Values(
        ParseCase{"SID=31d4; Path=/docs; Domain=.Example.com; Secure", "SID", "31d4", "/docs",
                  ".Example.com", true, -1, NetscapeStyle},
        ParseCase{"a=b", "a", "b", "/", "", false, -1, NetscapeStyle},
        // Only the first "=" splits the pair.
        ParseCase{"a=b=c", "a", "b=c", "/", "", false, -1, NetscapeStyle},
        ParseCase{"lonely", "", "", "/", "", false, -1, NetscapeStyle},
        // An empty header value equals the text a new cookie has read, so nothing is read at
        // all; the path is "/" all the same.
        ParseCase{"", "", "", "/", "", false, -1, RFC2109Style},
        ParseCase{"; path=/x", "", "", "/x", "", false, -1, NetscapeStyle},
        // Pieces are trimmed, names and values inside are not: "path " is not "path".
        ParseCase{"  x = y ;  path = /p ", "x ", " y", "/", "", false, -1, NetscapeStyle},
        ParseCase{"n=v; path=\"/quoted\"", "n", "v", "/quoted", "", false, -1, NetscapeStyle},
        ParseCase{"n=v; path=", "n", "v", "/", "", false, -1, NetscapeStyle},
        // Quotes around nothing leave nothing: the path is "/" as for an empty one.
        ParseCase{"n=v; path=\"\"", "n", "v", "/", "", false, -1, NetscapeStyle},
        ParseCase{"n=v; path=\"", "n", "v", "/", "", false, -1, NetscapeStyle},
        // A repeated attribute counts with its first value, whatever the case of its name.
        ParseCase{"n=v; path=/first; PATH=/second", "n", "v", "/first", "", false, -1,
                  NetscapeStyle},
        ParseCase{"n=v; secure=1", "n", "v", "/", "", false, -1, NetscapeStyle},
        ParseCase{"n=v;;SeCuRe;", "n", "v", "/", "", true, -1, NetscapeStyle},
        ParseCase{"n=v; max-age=abc", "n", "v", "/", "", false, -1, NetscapeStyle},
        ParseCase{"n=v; max-age=-5", "n", "v", "/", "", false, -5, NetscapeStyle},
        ParseCase{"n=v; max-age=2147483648", "n", "v", "/", "", false, -1, NetscapeStyle},
        ParseCase{"n=v; Version=1; Comment=Keep It", "n", "v", "/", "", false, -1, NetscapeStyle,
                  "1", "Keep It"},
        // With an expiry date the cookie keeps its own style; max-age then only reports.
        ParseCase{"n=v; expires=Sun, 06 Nov 2095 08:49:37 GMT", "n", "v", "/", "", false, -1,
                  RFC2109Style},
        ParseCase{"n=v; expires=Sun, 06 Nov 2095 08:49:37 GMT; max-age=10", "n", "v", "/", "",
                  false, 10, RFC2109Style}));

TEST(Cookie, KeepsTheExpiryTextAsGiven) {
  TIdCookieRFC2109 cookie;
  cookie.ParseCookieText("n=v; EXPIRES=sunday, 06-nov-95 08:49:37 gmt");
  EXPECT_EQ(cookie.ExpiresText(), "sunday, 06-nov-95 08:49:37 gmt");
}

TEST(Cookie, TheSameTextIsNotReadAgain) {
  TIdCookieRFC2109 cookie;
  cookie.ParseCookieText("a=b");
  cookie.SetCookieDomain("www.example.com");
  cookie.ParseCookieText("a=b");
  EXPECT_EQ(cookie.CookieDomain(), "www.example.com");
  cookie.ParseCookieText("a=c");
  EXPECT_EQ(cookie.CookieDomain(), "");
  EXPECT_EQ(cookie.CookieValue(), "c");
}

TEST(Cookie, MaxAgeBecomesAnExpiryInUtc) {
  for (const int maxAge : {0, 3600}) {
    SCOPED_TRACE(maxAge);
    TIdCookieRFC2109 cookie;
    const TDateTime before = UtcNow();
    cookie.ParseCookieText(QStringLiteral("n=v; max-age=%1").arg(maxAge));
    const TDateTime after = UtcNow();
    const QString earliest = FormatInternetDate(before + maxAge * kSecond);
    const QString latest = FormatInternetDate(after + maxAge * kSecond);
    EXPECT_TRUE(cookie.ExpiresText() == earliest || cookie.ExpiresText() == latest)
        << cookie.ExpiresText().toStdString();
    EXPECT_EQ(cookie.MaxAgeSeconds(), maxAge);
    EXPECT_EQ(cookie.CookieStyle(), NetscapeStyle);
  }
}

TEST(Cookie, AnExpiryDateGivesTheSecondsLeft) {
  TIdCookieRFC2109 cookie;
  cookie.SetExpiresText(FormatInternetDate(UtcNow() + 100 * kSecond));
  EXPECT_GE(cookie.MaxAgeSeconds(), 98);
  EXPECT_LE(cookie.MaxAgeSeconds(), 100);
  cookie.SetExpiresText("Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_LT(cookie.MaxAgeSeconds(), 0);
}

TEST(Cookie, ReadsTheExpiryAsAMomentInUtc) {
  const TDateTime moment = EncodeDateTime(2095, 11, 6, 8, 49, 37).value_or(0);
  for (const char* text : {"Sun, 06 Nov 2095 08:49:37 GMT", "Sun, 06 Nov 2095 10:49:37 +0200",
                           "Sunday, 06-Nov-2095 03:49:37 -0500"}) {
    TIdNetscapeCookie cookie;
    cookie.SetExpiresText(text);
    EXPECT_NEAR(cookie.ExpiresUtc(), moment, kSecond / 1000) << text;
    EXPECT_FALSE(cookie.IsExpiredAt(moment)) << text;
    EXPECT_TRUE(cookie.IsExpiredAt(moment + kSecond)) << text;
  }
}

TEST(NetscapeCookie, StoresTheExpiryWithoutReadingIt) {
  TIdNetscapeCookie cookie;
  cookie.ParseCookieText("n=v; expires=Sun, 06 Nov 2095 08:49:37 GMT; max-age=5; version=1");
  EXPECT_EQ(cookie.CookieStyle(), NetscapeStyle);
  EXPECT_EQ(cookie.ExpiresText(), "Sun, 06 Nov 2095 08:49:37 GMT");
  EXPECT_EQ(cookie.CookieTextForm(), "n=v; path=/; expires=Sun, 06 Nov 2095 08:49:37 GMT");
}

// --- Writing a cookie back ------------------------------------------------------------------

struct TextFormCase {
  const char* text;
  const char* form;
};

void PrintTo(const TextFormCase& c, std::ostream* os) {
  *os << '"' << c.text << '"';
}

class CookieTextForms : public testing::TestWithParam<TextFormCase> {};

TEST_P(CookieTextForms, WritesTheAttributesInOrder) {
  TIdCookieRFC2109 cookie;
  cookie.ParseCookieText(QString::fromUtf8(GetParam().text));
  EXPECT_EQ(cookie.CookieTextForm(), QString::fromUtf8(GetParam().form));
}

INSTANTIATE_TEST_SUITE_P(
    Cookies, CookieTextForms,
    testing::Values(TextFormCase{"a=b", "a=b; path=/"}, TextFormCase{"a=", "a=; path=/"},
                    TextFormCase{"a=b; Version=1; Comment=c; Secure; Domain=.x.com; Path=/p",
                                 "a=b; path=/p; domain=.x.com; secure; comment=c; version=1"},
                    TextFormCase{"a=b; max-age=-3", "a=b; path=/"},
                    // An RFC2109-style expiry date is not written back.
                    TextFormCase{"a=b; expires=Sun, 06 Nov 2095 08:49:37 GMT; max-age=7",
                                 "a=b; path=/"}));

TEST(CookieTextForm, MaxAgeGoesOutAsExpiry) {
  TIdCookieRFC2109 cookie;
  cookie.ParseCookieText("a=b; max-age=60");
  EXPECT_EQ(cookie.CookieTextForm(), "a=b; path=/; expires=" + cookie.ExpiresText());

  TIdCookieRFC2109 again;
  again.ParseCookieText(cookie.CookieTextForm());
  EXPECT_EQ(again.ExpiresText(), cookie.ExpiresText());
  EXPECT_EQ(again.NameValuePair(), "a=b");
}

// --- Taking another cookie's contents -------------------------------------------------------

TEST(CookieAssign, TakesEveryFieldIncludingTheExpiry) {
  TIdCookieRFC2109 stored;
  stored.ParseCookieText("a=1; path=/old; domain=.old.com; comment=old; version=0");
  TIdCookieRFC2109 newer;
  newer.ParseCookieText("A=2; expires=Sun, 06 Nov 2095 08:49:37 GMT; domain=.new.com; secure");

  stored.Assign(newer);
  EXPECT_EQ(stored.SourceText(), newer.SourceText());
  EXPECT_EQ(stored.NameValuePair(), "A=2");
  EXPECT_EQ(stored.ExpiresText(), "Sun, 06 Nov 2095 08:49:37 GMT");
  EXPECT_EQ(stored.CookieStyle(), RFC2109Style);
  EXPECT_EQ(stored.CookiePath(), "/");
  EXPECT_EQ(stored.CookieDomain(), ".new.com");
  EXPECT_TRUE(stored.SecureOnly());
  EXPECT_EQ(stored.MaxAgeSeconds(), -1);
  EXPECT_EQ(stored.CommentText(), "");
  EXPECT_EQ(stored.VersionText(), "");
  EXPECT_TRUE(stored.IsExpiredAt(At2096()));
}

TEST(CookieAssign, KeepsItsOwnKind) {
  TIdCookieRFC2965 richer;
  richer.ParseCookieText("a=1; Port=\"8080\"; Discard; CommentURL=http://x/; Max-Age=9");
  TIdCookieRFC2109 plain;
  plain.ParseCookieText("b=2; comment=plain");

  TIdCookieRFC2109 fromRicher;
  fromRicher.Assign(richer);
  EXPECT_EQ(typeid(fromRicher), typeid(TIdCookieRFC2109));
  EXPECT_EQ(fromRicher.NameValuePair(), "a=1");
  EXPECT_EQ(fromRicher.MaxAgeSeconds(), 9);

  richer.Assign(plain);
  EXPECT_EQ(richer.NameValuePair(), "b=2");
  EXPECT_EQ(richer.CommentText(), "plain");
  EXPECT_EQ(richer.CommentURL(), "");
  EXPECT_FALSE(richer.DiscardFlag());
  EXPECT_EQ(richer.PortNumbers(), std::vector<int32_t>{80});
  EXPECT_EQ(richer.CookieStyle(), NetscapeStyle);
}

// --- Set-cookie2 attributes -----------------------------------------------------------------

struct PortCase {
  const char* attributes;
  std::vector<int32_t> ports;
};

void PrintTo(const PortCase& c, std::ostream* os) {
  *os << '"' << c.attributes << '"';
}

class CookiePorts : public testing::TestWithParam<PortCase> {};

TEST_P(CookiePorts, ReadsThePortList) {
  TIdCookieRFC2965 cookie;
  cookie.ParseCookieText(QStringLiteral("n=v") + QString::fromUtf8(GetParam().attributes));
  EXPECT_EQ(cookie.PortNumbers(), GetParam().ports);
  EXPECT_EQ(cookie.CookieValue(), "v");
}

INSTANTIATE_TEST_SUITE_P(
    Lists, CookiePorts,
    testing::Values(PortCase{"", {80}}, PortCase{"; Port", {80}}, PortCase{"; Port=\"\"", {80}},
                    PortCase{"; port=\"80,8080\"", {80, 8080}},
                    PortCase{"; Port=\" 81 , 82 \"", {81, 82}},
                    // Items that are not numbers are skipped; the rest still count.
                    PortCase{"; Port=\"81,abc,82\"", {81, 82}}, PortCase{"; Port=\"abc\"", {80}},
                    PortCase{"; Port=8080", {}}, PortCase{"; Port=\"", {}}));

TEST(CookieRFC2965, ReadsCommentAddressAndDiscard) {
  TIdCookieRFC2965 cookie;
  cookie.ParseCookieText("n=v; commenturl=\"http://Example.com/Why\"; discard; Version=1");
  EXPECT_EQ(cookie.CommentURL(), "\"http://Example.com/Why\"");
  EXPECT_TRUE(cookie.DiscardFlag());
  EXPECT_EQ(cookie.VersionText(), "1");
  EXPECT_EQ(cookie.CookieStyle(), NetscapeStyle);

  TIdCookieRFC2965 dated;
  dated.ParseCookieText("n=v; expires=Sun, 06 Nov 2095 08:49:37 GMT");
  EXPECT_EQ(dated.CookieStyle(), RFC2965Style);
  EXPECT_FALSE(dated.DiscardFlag());
}

} // namespace
