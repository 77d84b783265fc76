#include "http/IdCookieManager.h"

#include "tests/support/NamedRow.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSet>

#include <chrono>
#include <latch>
#include <thread>
#include <vector>

namespace {

constexpr const char* kPast = "Thu, 01 Jan 1970 00:00:00 GMT";

QString Header(TIdCookieManager& manager, const char* address, bool encrypted = false) {
  return manager.CookieHeaderFor(TIdURI(QString::fromUtf8(address)), encrypted);
}

// Every (domain key, name key, cookie) of the index, checked against the items: each indexed
// cookie is an item filed under its own domain and name, no name repeats within a domain, and
// nothing is stored outside the index.
void ExpectConsistent(TIdCookies& cookies) {
  const TIdCookieListLock lock(cookies, ReadAccess);
  QSet<const TIdCookieRFC2109*> items;
  for (qsizetype i = 0; i < cookies.Count(); ++i) {
    items.insert(cookies.Items(i));
  }
  EXPECT_EQ(items.size(), cookies.Count()) << "an item is held twice";

  qsizetype indexed = 0;
  const TIdCookieDomains& domains = lock.Domains();
  for (qsizetype d = 0; d < domains.Count(); ++d) {
    EXPECT_EQ(domains.IndexOf(domains.Text(d)), d) << "domain filed twice";
    const TIdDomainCookies& names = domains.Object(d);
    for (qsizetype n = 0; n < names.Count(); ++n) {
      const TIdCookieRFC2109* cookie = names.Object(n);
      ASSERT_TRUE(items.contains(cookie));
      EXPECT_TRUE(TextIsSame(domains.Text(d), cookie->CookieDomain()));
      EXPECT_TRUE(TextIsSame(names.Text(n), cookie->CookieName()));
      EXPECT_EQ(names.IndexOf(names.Text(n)), n) << "name filed twice";
      ++indexed;
    }
  }
  EXPECT_EQ(indexed, cookies.Count());
}

// --- The domain rule ------------------------------------------------------------------------

struct HostCase {
  const char* host;
  bool ipv4;
};

void PrintTo(const HostCase& c, std::ostream* os) {
  *os << '"' << c.host << '"';
}

class IPv4Hosts : public testing::TestWithParam<HostCase> {};

TEST_P(IPv4Hosts, AreFourDecimalFieldsUpTo255) {
  EXPECT_EQ(LooksLikeIPv4(QString::fromUtf8(GetParam().host)), GetParam().ipv4);
}

INSTANTIATE_TEST_SUITE_P(Texts, IPv4Hosts,
                         testing::Values(HostCase{"127.0.0.1", true}, HostCase{" 127.0.0.1 ", true},
                                         HostCase{"001.002.003.255", true},
                                         HostCase{"127.0.0.1.example.com", true},
                                         HostCase{"127.0.0.256", false}, HostCase{"127.0.0", false},
                                         HostCase{"127..0.1", false}, HostCase{"127.0.0.1a", false},
                                         HostCase{"+1.0.0.1", false}, HostCase{"::1", false},
                                         HostCase{"a.b.c.d", false}, HostCase{"", false}));

struct DomainCase {
  const char* host;
  const char* domain;
  bool matches;
};

void PrintTo(const DomainCase& c, std::ostream* os) {
  *os << '"' << c.host << "\" / \"" << c.domain << '"';
}

class DomainRule : public testing::TestWithParam<DomainCase> {};

TEST_P(DomainRule, DecidesWhichHostsACookieBelongsTo) {
  const DomainCase& c = GetParam();
  EXPECT_EQ(DomainMatches(QString::fromUtf8(c.host), QString::fromUtf8(c.domain)), c.matches);
}

INSTANTIATE_TEST_SUITE_P(Pairs, DomainRule,
                         testing::Values(DomainCase{"www.example.com", ".example.com", true},
                                         DomainCase{"WWW.Example.COM", ".eXample.com", true},
                                         DomainCase{"a.b.example.com", ".example.com", true},
                                         DomainCase{"example.com", ".example.com", true},
                                         DomainCase{"badexample.com", ".example.com", false},
                                         DomainCase{"www.example.com", "example.com", false},
                                         DomainCase{"Example.com", "example.COM", true},
                                         DomainCase{".example.com", ".example.com", false},
                                         DomainCase{"127.0.0.1", "127.0.0.1", true},
                                         DomainCase{"127.0.0.1", ".0.0.1", false},
                                         DomainCase{"127.0.0.1", "127.0.0.01", false},
                                         DomainCase{"127.0.0.1", "", false},
                                         DomainCase{"", "", true}));

// --- Taking cookies in and sending them back ------------------------------------------------

struct SetCookie {
  const char* text;
  const char* host;
  bool version2 = false;
};

struct Request {
  const char* address;
  const char* expected;
  bool encrypted = false;
};

struct StoreCase : testsupport::NamedRow {
  std::vector<SetCookie> received;
  std::vector<Request> requests;
  qsizetype stored;
};

class CookieStore : public testing::TestWithParam<StoreCase> {};

TEST_P(CookieStore, SendsBackWhatApplies) {
  const StoreCase& c = GetParam();
  TIdCookieManager manager;
  for (const SetCookie& set : c.received) {
    if (set.version2) {
      manager.AcceptSetCookie2(QString::fromUtf8(set.text), QString::fromUtf8(set.host));
    } else {
      manager.AcceptSetCookie(QString::fromUtf8(set.text), QString::fromUtf8(set.host));
    }
  }
  for (const Request& request : c.requests) {
    EXPECT_EQ(Header(manager, request.address, request.encrypted),
              QString::fromUtf8(request.expected))
        << request.address;
  }
  EXPECT_EQ(manager.CookieCollection().Count(), c.stored);
  ExpectConsistent(manager.CookieCollection());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CookieStore,
    testing::Values(
        StoreCase{"DottedDomainReachesEverySubdomain",
                  {{"a=1; domain=.Example.com", "www.example.com"}},
                  {{"http://IMG.example.com/", "a=1"},
                   {"http://a.b.example.com/x/y", "a=1"},
                   {"http://example.com/", "a=1"},
                   {"http://example.org/", ""}},
                  1},
        StoreCase{"UndottedParentDomainCoversItsSubdomains",
                  {{"a=1; domain=vantrel.test", "www.vantrel.test"}},
                  {{"http://www.vantrel.test/", "a=1"},
                   {"http://photos.vantrel.test/", "a=1"},
                   {"http://vantrel.test/", "a=1"},
                   {"http://othervantrel.test/", ""}},
                  1},
        StoreCase{"DomainOfTheHostItselfCoversTheHostsUnderIt",
                  {{"a=1; domain=Example.COM", "example.com"}},
                  {{"http://example.com/", "a=1"}, {"http://www.example.com/", "a=1"}},
                  1},
        StoreCase{"EmptyDomainIsTheHostsAlone",
                  {{"a=1; domain=", "www.example.com"}, {"b=2; domain=.", "www.example.com"}},
                  {{"http://www.example.com/", "a=1; b=2"}, {"http://img.www.example.com/", ""}},
                  2},
        StoreCase{"PublicSuffixDomainsAreRefused",
                  {{"a=1; domain=.com", "www.evil.com"},
                   {"b=2; domain=.co.uk", "www.evil.co.uk"},
                   {"c=3; domain=CO.UK", "www.evil.co.uk"},
                   {"d=4; domain=test", "www.evil.test"}},
                  {{"http://www.victim.com/", ""},
                   {"http://www.victim.co.uk/", ""},
                   {"http://www.evil.co.uk/", ""},
                   {"http://www.victim.test/", ""}},
                  0},
        StoreCase{"ASuffixHostKeepsItsOwnCookies",
                  {{"a=1; domain=localhost", "localhost"}},
                  {{"http://localhost/", "a=1"}, {"http://www.localhost/", ""}},
                  1},
        StoreCase{"DomainsOutsideTheHostAreRefused",
                  {{"a=1; domain=img.example.com", "www.example.com"},
                   {"b=2; domain=ample.com", "www.example.com"},
                   {"c=3; domain=127.0.0.1", "www.example.com"},
                   {"d=4; domain=www.example.com.evil", "www.example.com"}},
                  {{"http://img.example.com/", ""}, {"http://127.0.0.1/", ""}},
                  0},
        StoreCase{"NoDomainMeansTheSendingHost",
                  {{"a=1", "www.example.com"}},
                  {{"http://www.example.com/", "a=1"}, {"http://img.example.com/", ""}},
                  1},
        StoreCase{"IPv4HostsMatchExactly",
                  {{"a=1", "127.0.0.1"},
                   {"b=2; domain=.0.0.1", "127.0.0.1"},
                   {"c=3; domain=127.0.0.1", "127.0.0.1"}},
                  {{"http://127.0.0.1/", "a=1; c=3"}, {"http://127.0.0.2/", ""}},
                  2},
        StoreCase{"PathMatchesAtASlash",
                  {{"root=1; path=/", "h.test"},
                   {"docs=2; path=/docs", "h.test"},
                   {"page=3; path=/docs/page.html", "h.test"},
                   {"upper=4; path=/Docs", "h.test"},
                   {"deep=5; path=/docs/a/", "h.test"}},
                  {{"http://h.test/docs/page.html", "root=1; docs=2"},
                   {"http://h.test/docs/a/b/c.html?q=1", "root=1; docs=2; deep=5"},
                   {"http://h.test/docsets/", "root=1"},
                   {"http://h.test/docs/", "root=1; docs=2"},
                   {"http://h.test/", "root=1"}},
                  5},
        StoreCase{"SecureCookiesNeedAnEncryptedConnection",
                  {{"s=1; secure", "h.test"}, {"p=2", "h.test"}},
                  {{"http://h.test/", "p=2"}, {"https://h.test/", "s=1; p=2", true}},
                  2},
        StoreCase{"EmptyValuesAreKeptButNotSent",
                  {{"e=", "h.test"}, {"bare", "h.test"}, {"v=1", "h.test"}},
                  {{"http://h.test/", "v=1"}},
                  3},
        StoreCase{"ReplacementKeepsThePlace",
                  {{"a=1", "h.test"}, {"b=2", "h.test"}, {"a=3", "h.test"}},
                  {{"http://h.test/", "a=3; b=2"}},
                  2},
        StoreCase{"EmptyReplacementSilencesTheCookie",
                  {{"a=1", "h.test"}, {"b=2", "h.test"}, {"a=", "h.test"}},
                  {{"http://h.test/", "b=2"}},
                  2},
        StoreCase{"PathIsNotPartOfTheKey",
                  {{"a=1; path=/x", "h.test"}, {"a=2; path=/y", "h.test"}},
                  {{"http://h.test/y/", "a=2"}, {"http://h.test/x/", ""}},
                  1},
        StoreCase{"NameAndDomainCompareWithoutCase",
                  {{"SID=1; domain=.Example.com", "www.example.com"},
                   {"sid=2; domain=.example.COM", "www.example.com"}},
                  {{"http://www.example.com/", "sid=2"}},
                  1},
        StoreCase{"SetCookie2ReplacesInPlace",
                  {{"a=1", "h.test"}, {"b=2", "h.test"}, {"a=3; Port=\"80\"", "h.test", true}},
                  {{"http://h.test/", "a=3; b=2"}},
                  2},
        StoreCase{"NewestDomainFirstCookiesInStoredOrder",
                  {{"h1=1", "www.example.com"},
                   {"d1=2; domain=.example.com", "www.example.com"},
                   {"h2=3", "www.example.com"},
                   {"d2=4; domain=.example.com", "www.example.com"},
                   {"h1=5", "www.example.com"}},
                  {{"http://www.example.com/", "d1=2; d2=4; h1=5; h2=3"},
                   {"http://img.example.com/", "d1=2; d2=4"}},
                  4},
        StoreCase{"ControlCharactersAreRefused",
                  {{"a=b\x01"
                    "c",
                    "h.test"},
                   {"tab\tname=1", "h.test"},
                   {"del=x\x7f", "h.test"},
                   {"inject=a\r\nX-Evil: 1", "h.test"},
                   {"ok=1", "h.test"}},
                  {{"http://h.test/", "ok=1"}},
                  1}),
    testsupport::RowName());

// --- Expiry ---------------------------------------------------------------------------------

// Waits, for a second at most, until the local clock has passed the cookie's expiry: a cookie
// made with max-age 0 expires within the current second, not before it.
bool WaitUntilPast(TDateTime expiresUtc) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (UtcNow() <= expiresUtc) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::yield();
  }
  return true;
}

// Past the bounds the oldest cookie goes first: of the domain that is over its own bound, or of
// the whole store; a replaced cookie keeps its age.
TEST(CookieBounds, TheOldestGoesFirst) {
  TIdCookieManager manager;
  TIdCookies& cookies = manager.CookieCollection();
  for (int i = 0; i < kCookiesPerDomainLimit + 5; ++i) {
    manager.AcceptSetCookie(QStringLiteral("c%1=v").arg(i), "one.test");
  }
  manager.AcceptSetCookie("c5=again", "one.test");
  ASSERT_EQ(cookies.Count(), kCookiesPerDomainLimit);
  EXPECT_EQ(cookies.Items(0)->CookieName(), "c5");
  EXPECT_EQ(cookies.Items(0)->CookieValue(), "again");
  EXPECT_TRUE(Header(manager, "http://one.test/").startsWith("c5=again; c6=v"));

  const qsizetype domains = kCookieStoreLimit / kCookiesPerDomainLimit;
  for (qsizetype d = 1; d <= domains; ++d) {
    for (int i = 0; i < kCookiesPerDomainLimit; ++i) {
      manager.AcceptSetCookie(QStringLiteral("c%1=v").arg(i), QStringLiteral("d%1.test").arg(d));
    }
  }
  EXPECT_EQ(cookies.Count(), kCookieStoreLimit);
  EXPECT_EQ(Header(manager, "http://one.test/"), "");
  EXPECT_EQ(cookies.Items(0)->CookieDomain(), "d1.test");
  ExpectConsistent(cookies);
}

TEST(CookieExpiry, MaxAgeZeroGoesAtTheNextSweep) {
  TIdCookieManager manager;
  manager.AcceptSetCookie("gone=1; max-age=0", "h.test");
  ASSERT_EQ(manager.CookieCollection().Count(), 1);
  ASSERT_TRUE(WaitUntilPast(manager.CookieCollection().Items(0)->ExpiresUtc()));
  manager.RemoveExpiredCookies();
  EXPECT_EQ(manager.CookieCollection().Count(), 0);
  EXPECT_EQ(Header(manager, "http://h.test/"), "");
}

TEST(CookieExpiry, NegativeMaxAgeNeverExpires) {
  TIdCookieManager manager;
  manager.AcceptSetCookie("stay=1; max-age=-1", "h.test");
  EXPECT_EQ(manager.CookieCollection().Items(0)->ExpiresText(), "");
  manager.CookieCollection().RemoveExpiredCookies(UtcNow() + 36500);
  EXPECT_EQ(Header(manager, "http://h.test/"), "stay=1");
}

TEST(CookieExpiry, PastDatesAreStoredThenSwept) {
  TIdCookieManager manager;
  manager.AcceptSetCookie(QStringLiteral("old=1; expires=%1").arg(kPast), "h.test");
  manager.AcceptSetCookie("bad=1; expires=whenever", "h.test");
  manager.AcceptSetCookie("new=1; expires=Sun, 06 Nov 2095 08:49:37 GMT", "h.test");
  EXPECT_EQ(manager.CookieCollection().Count(), 3);
  EXPECT_EQ(Header(manager, "http://h.test/"), "new=1");
  EXPECT_EQ(manager.CookieCollection().Count(), 1);
  ExpectConsistent(manager.CookieCollection());
}

TEST(CookieExpiry, AReplacementBringsItsExpiry) {
  TIdCookieManager manager;
  const QString inAnHour = FormatInternetDate(UtcNow() + 1.0 / 24);
  manager.AcceptSetCookie("a=1", "h.test");
  manager.AcceptSetCookie("b=2", "h.test");
  manager.AcceptSetCookie(QStringLiteral("a=3; expires=%1").arg(inAnHour), "h.test");
  EXPECT_EQ(manager.CookieCollection().Items(0)->ExpiresText(), inAnHour);
  EXPECT_EQ(Header(manager, "http://h.test/"), "a=3; b=2");
  manager.CookieCollection().RemoveExpiredCookies(UtcNow() + 2.0 / 24);
  EXPECT_EQ(Header(manager, "http://h.test/"), "b=2");
}

TEST(CookieExpiry, AReplacementInThePastDeletesTheCookie) {
  TIdCookieManager manager;
  manager.AcceptSetCookie("session=abc; path=/", "h.test");
  manager.AcceptSetCookie(QStringLiteral("session=; path=/; expires=%1").arg(kPast), "h.test");
  EXPECT_EQ(Header(manager, "http://h.test/"), "");
  EXPECT_EQ(manager.CookieCollection().Count(), 0);
}

// --- Events ---------------------------------------------------------------------------------

TEST(CookieManagerEvents, ReportCreationNewCookiesAndDestruction) {
  QObject owner;
  std::vector<QString> calls;
  TIdCookies* created = nullptr;
  auto* manager = new TIdCookieManager(&owner, [&](TIdCookieManager* sender, TIdCookies* cookies) {
    created = cookies;
    calls.push_back("create " + QString::number(sender->CookieCollection().Count()));
  });
  EXPECT_EQ(created, &manager->CookieCollection());
  EXPECT_EQ(manager->parent(), &owner);

  manager->OnNewCookie = [&](TIdCookieManager* sender, TIdCookieRFC2109* cookie, bool& accept) {
    EXPECT_EQ(sender, manager);
    EXPECT_TRUE(accept);
    calls.push_back("new " + cookie->NameValuePair() + " " + cookie->CookieDomain());
    accept = cookie->CookieName() != "refused";
  };
  manager->OnDestroy = [&](TIdCookieManager* sender, TIdCookies* cookies) {
    EXPECT_EQ(sender, manager);
    calls.push_back("destroy " + QString::number(cookies->Count()));
  };

  manager->AcceptSetCookie("kept=1", "h.test");
  manager->AcceptSetCookie("refused=1", "h.test");
  manager->AcceptSetCookie("foreign=1; domain=other.test", "h.test");
  manager->AcceptSetCookie("bad=a\x01"
                           "b",
                           "h.test");
  manager->AcceptSetCookie2(QStringLiteral("expired=1; expires=%1").arg(kPast), "h.test");
  EXPECT_EQ(Header(*manager, "http://h.test/"), "kept=1");
  manager->AcceptSetCookie2(QStringLiteral("expired=1; expires=%1").arg(kPast), "h.test");

  delete manager;
  const std::vector<QString> expected = {"create 0",
                                         "new kept=1 h.test",
                                         "new refused=1 h.test",
                                         "new expired=1 h.test",
                                         "new expired=1 h.test",
                                         "destroy 1"};
  EXPECT_EQ(calls, expected);
}

TEST(CookieManagerEvents, TheOwnerDestroysTheManager) {
  bool destroyed = false;
  {
    QObject owner;
    auto* manager = new TIdCookieManager(&owner);
    manager->OnDestroy = [&](TIdCookieManager*, TIdCookies*) {
      destroyed = true;
    };
  }
  EXPECT_TRUE(destroyed);
}

// --- Locking --------------------------------------------------------------------------------

TEST(CookieLocking, AWriterMayComeBackIn) {
  TIdCookieManager manager;
  manager.AcceptSetCookie(QStringLiteral("old=1; expires=%1").arg(kPast), "h.test");
  const TIdCookieListLock lock(manager.CookieCollection(), WriteAccess);
  manager.AcceptSetCookie("a=1", "h.test");
  EXPECT_EQ(Header(manager, "http://h.test/"), "a=1");
  EXPECT_EQ(lock.Domains().Object(0).Count(), 1);
}

// Several threads take cookies in, replace each other's, let some expire and build headers at
// once. Afterwards the index and the items agree and every thread's last word on its own
// cookies is what is stored.
TEST(CookieConcurrency, ManyThreadsOneStore) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 300;
  constexpr int kNamesPerThread = 8;
  TIdCookieManager manager;
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  std::vector<int> malformedHeaders(kThreads, 0);
  // What a header may hold: an expired cookie stored after the sweep of that call may show.
  static const QRegularExpression kPair(
      QStringLiteral("^(t[0-9]n[0-9]=[0-9]+|shared=[0-9]|brief[0-9]=x)$"));
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int round = 0; round < kRounds; ++round) {
        const QString name = QStringLiteral("t%1n%2").arg(t).arg(round % kNamesPerThread);
        // Each name moves between the host and its parent domain every cycle of names.
        const bool parent = (round / kNamesPerThread) % 2 == 1;
        const QString domain = parent ? QStringLiteral("; domain=.example.com") : QString();
        manager.AcceptSetCookie(QStringLiteral("%1=%2%3").arg(name).arg(round).arg(domain),
                                "www.example.com");
        manager.AcceptSetCookie(QStringLiteral("shared=%1").arg(t), "www.example.com");
        manager.AcceptSetCookie2(QStringLiteral("brief%1=x; expires=%2").arg(t).arg(kPast),
                                 "www.example.com");
        const QString header =
            manager.CookieHeaderFor(TIdURI(u"http://www.example.com/a/"), round % 3 == 0);
        for (const QString& pair : header.split(QStringLiteral("; "))) {
          if (!kPair.match(pair).hasMatch()) {
            ++malformedHeaders[t];
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }

  EXPECT_EQ(malformedHeaders, std::vector<int>(kThreads, 0));
  ExpectConsistent(manager.CookieCollection());

  // Each name was last stored in one domain and, a cycle before, in the other: both cookies
  // are there, each with the thread's last value for it.
  const QString header = Header(manager, "http://www.example.com/");
  const QStringList pairs = header.split(QStringLiteral("; "));
  for (int t = 0; t < kThreads; ++t) {
    for (int n = 0; n < kNamesPerThread; ++n) {
      const int last = n + kNamesPerThread * ((kRounds - 1 - n) / kNamesPerThread);
      const QString name = QStringLiteral("t%1n%2=").arg(t).arg(n);
      EXPECT_TRUE(pairs.contains(name + QString::number(last))) << name.toStdString();
      EXPECT_TRUE(pairs.contains(name + QString::number(last - kNamesPerThread)))
          << name.toStdString();
    }
  }
  EXPECT_EQ(pairs.filter(QStringLiteral("shared=")).size(), 1);
  EXPECT_EQ(manager.CookieCollection().Count(), 2 * kThreads * kNamesPerThread + 1);
}

} // namespace
