#include "http/IdCookieManager.h"

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
    return host.endsWith(domain, Qt::CaseInsensitive);
  }
  return TextIsSame(host, domain);
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
  if (cookie->CookieDomain().isEmpty()) {
    cookie->SetCookieDomain(host);
  }
  if (!DomainMatches(host, cookie->CookieDomain()) || HasControlCharacter(cookie->CookieName()) ||
      HasControlCharacter(cookie->CookieValue())) {
    return;
  }
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
      if (!uri.Directory().startsWith(cookie->CookiePath()) ||
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
