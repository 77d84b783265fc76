#include "http/IdCookieManager.h"

#include "http/IdPublicSuffix.h"
#include "net/IdGlobal.h"
#include "net/IdIPv4Text.h"

#include <algorithm>

namespace {

// Such a name or value would reach a request head as it stands and could break or extend it.
bool HasControlCharacter(QStringView text) {
  return std::any_of(text.begin(), text.end(),
                     [](QChar ch) { return ch.unicode() < 0x20 || ch.unicode() == 0x7F; });
}

} // namespace

bool LooksLikeIPv4(QStringView host) {
  return ReadIPv4(TrimView(host), TIdIPv4Form::DottedQuadThenAnything, TIdIPv4Digits::Decimal)
             .fault == TIdIPv4Fault::None;
}

bool DomainMatches(QStringView host, QStringView domain) {
  if (LooksLikeIPv4(host)) {
    return host == domain;
  }
  if (host.startsWith(u'.')) {
    return false;
  }
  if (domain.startsWith(u'.')) {
    // The leading dot makes the suffix test stop at a label boundary.
    return host.endsWith(domain, Qt::CaseInsensitive) || TextIsSame(host, domain.mid(1));
  }
  return TextIsSame(host, domain);
}

QString CookieDomainFor(QStringView host, QStringView domainAttribute) {
  if (host.isEmpty() || host.startsWith(u'.')) {
    return {};
  }
  QStringView named = domainAttribute;
  if (named.startsWith(u'.')) {
    named = named.mid(1);
  }
  if (named.isEmpty()) {
    return host.toString();
  }
  const QString domain = named.toString().toLower();
  if (LooksLikeIPv4(host) || host.contains(u':')) {
    // An address has no names under it.
    return TextIsSame(host, domain) ? host.toString() : QString();
  }
  const bool isHost = TextIsSame(host, domain);
  if (IsPublicSuffix(domain)) {
    // A host that is itself a suffix ("localhost") keeps its own cookies.
    return isHost ? host.toString() : QString();
  }
  if (!isHost && !host.endsWith(QString(u'.' + domain), Qt::CaseInsensitive)) {
    return {};
  }
  return u'.' + domain;
}

bool PathMatches(QStringView directory, QStringView path) {
  if (!directory.startsWith(path)) {
    return false;
  }
  return directory.size() == path.size() || path.endsWith(u'/') || directory[path.size()] == u'/';
}

TIdCookieManager::TIdCookieManager(QObject* owner, TOnManagerEvent onCreate)
    : QObject(owner), OnCreate(std::move(onCreate)) {
  if (OnCreate) {
    OnCreate(this, &cookies_);
  }
}

TIdCookieManager::~TIdCookieManager() {
  try {
    RemoveExpiredCookies();
  } catch (const EIdException&) {
    // The zone could not be read: the cookies go with the collection all the same.
  }
  if (OnDestroy) {
    OnDestroy(this, &cookies_);
  }
}

void TIdCookieManager::AcceptSetCookie(const QString& text, const QString& host) {
  TakeIn(std::make_unique<TIdCookieRFC2109>(), text, host);
}

void TIdCookieManager::AcceptSetCookie2(const QString& text, const QString& host) {
  TakeIn(std::make_unique<TIdCookieRFC2965>(), text, host);
}

void TIdCookieManager::TakeIn(std::unique_ptr<TIdCookieRFC2109> cookie, const QString& text,
                              const QString& host) {
  cookie->ParseCookieText(text);
  const QString domain = CookieDomainFor(host, cookie->CookieDomain());
  if (domain.isEmpty() || HasControlCharacter(cookie->CookieName()) ||
      HasControlCharacter(cookie->CookieValue())) {
    return;
  }
  cookie->SetCookieDomain(domain);
  if (OnNewCookie) {
    bool accept = true;
    OnNewCookie(this, cookie.get(), accept);
    if (!accept) {
      return;
    }
  }
  cookies_.StoreCookie(std::move(cookie));
}

QString TIdCookieManager::CookieHeaderFor(const TIdURI& uri, bool encrypted) {
  RemoveExpiredCookies();
  QString header;
  const TIdCookieListLock lock(cookies_, ReadAccess);
  const TIdCookieDomains& domains = lock.Domains();
  for (qsizetype domain = domains.Count() - 1; domain >= 0; --domain) {
    if (!DomainMatches(uri.HostPart(), domains.Text(domain))) {
      continue;
    }
    const TIdDomainCookies& names = domains.Object(domain);
    for (qsizetype i = 0; i < names.Count(); ++i) {
      const TIdCookieRFC2109* cookie = names.Object(i);
      if (!PathMatches(uri.Directory(), cookie->CookiePath()) ||
          (cookie->SecureOnly() && !encrypted) || cookie->CookieValue().isEmpty()) {
        continue;
      }
      if (!header.isEmpty()) {
        header += u"; ";
      }
      header += cookie->NameValuePair();
    }
  }
  return header;
}

void TIdCookieManager::RemoveExpiredCookies() {
  cookies_.RemoveExpiredCookies(UtcNow());
}
