#pragma once

// The cookie manager: takes in the cookies of each response and writes the "Cookie" header of
// each request. Cookies live in memory for the run only.

#include "http/IdCookie.h"
#include "http/IdURI.h"

#include <QObject>
#include <QString>
#include <QStringView>
#include <functional>

class TIdCookieManager;

// The manager and its collection, at creation and at destruction.
using TOnManagerEvent = std::function<void(TIdCookieManager* sender, TIdCookies* cookieCollection)>;
// A cookie that passed the domain check, before it is stored; setting accept to false (it is
// true on entry) discards it. The cookie is not yet in the collection and is owned by the
// manager.
using TOnNewCookieEvent =
    std::function<void(TIdCookieManager* sender, TIdCookieRFC2109* cookie, bool& accept)>;

// Whether host is an IPv4 dotted text: after trimming, its first four "."-separated fields are
// decimal numbers from 0 to 255; anything after the fourth field is not looked at.
bool LooksLikeIPv4(QStringView host);

// Whether a stored cookie's domain covers host. A domain with a leading "." (a cookie the server
// gave a Domain attribute) covers the host equal to the rest and every host under it; any other
// domain (a cookie for its host only) covers the host equal to it. An IPv4 host matches only
// the exact same text; a host starting with "." matches nothing. Names compare without regard
// to case.
bool DomainMatches(QStringView host, QStringView domain);

// The domain a cookie from host is filed under, given its Domain attribute (as the server wrote
// it); empty when host may not set it. Without the attribute (or with an empty one) the cookie
// is host's alone: host. Otherwise one leading "." is ignored and the name lower-cased; it must
// be host or a name host lies under, and must not be a public suffix ("com", "co.uk") unless
// it is host itself, which again makes the cookie host's alone. An accepted attribute gives
// "." and the name: the cookie covers that name and every host under it. A host that is an
// address only takes an attribute naming that same address, as a cookie of its own.
QString CookieDomainFor(QStringView host, QStringView domainAttribute);

// Whether a cookie for path goes with a request for directory: the same text, or directory
// continues path at a "/" ("/photos" covers "/photos/" and "/photos/x/", not "/photosbomb/").
// Case counts.
bool PathMatches(QStringView directory, QStringView path);

class TIdCookieManager : public QObject {
public:
  // An empty store. owner (may be null) destroys the manager with itself. onCreate, when
  // given, becomes OnCreate and is called once the collection exists.
  explicit TIdCookieManager(QObject* owner = nullptr, TOnManagerEvent onCreate = {});
  // Removes expired cookies, calls OnDestroy, then destroys every cookie. OnDestroy must not
  // raise.
  ~TIdCookieManager() override;

  // Takes in the value of one "Set-cookie" header received from host: parses it, files it
  // under the domain CookieDomainFor gives, and stores it unless host may not set that domain,
  // its name or value holds a control character (codes below 32, or 127), or OnNewCookie
  // refuses it. Refusals are silent. Raises only what the date helpers raise when the
  // system's time zone cannot be read. Blocks while another thread holds the store's lock.
  void AcceptSetCookie(const QString& text, const QString& host);
  // The same for the value of one "Set-cookie2" header.
  void AcceptSetCookie2(const QString& text, const QString& host);

  // The value of the "Cookie" header for a request to uri (its HostPart and Directory count)
  // over an encrypted connection or not; empty when no cookie applies. A cookie goes out when
  // its domain covers the host (DomainMatches) and its path the directory (PathMatches). Removes
  // expired cookies first. Cookies go out domain by domain, the most recently added domain first,
  // and within a domain in the order they were first stored. Cookies with an empty value are never
  // sent, secure ones only when encrypted is true. Raises like RemoveExpiredCookies. Blocks
  // while another thread holds the store's lock.
  QString CookieHeaderFor(const TIdURI& uri, bool encrypted);

  // Destroys every cookie whose expiry has passed. Raises EIdFailedToRetreiveTimeZoneInfo when
  // the system's time zone cannot be read.
  void RemoveExpiredCookies();

  // The collection; lives as long as the manager.
  TIdCookies& CookieCollection() { return cookies_; }

  // Events, each called on the thread that caused it, with this manager as sender.
  TOnManagerEvent OnCreate;
  TOnNewCookieEvent OnNewCookie;
  TOnManagerEvent OnDestroy;

private:
  void TakeIn(std::unique_ptr<TIdCookieRFC2109> cookie, const QString& text, const QString& host);

  TIdCookies cookies_;
};
