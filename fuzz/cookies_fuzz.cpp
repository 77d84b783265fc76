// Cookies a server sets. Whatever arrives, the store keeps only cookies whose domain matches the
// host that set them, the "Cookie" header it builds never carries a control character (it goes
// into a request head as it stands), a plain connection gets a subset of what an encrypted one
// gets, and a stored cookie written back as attribute text reads back to the same cookie.
//
// Input: 8-bit text lines. The first is the host that answered, the second the directory of the
// request; each further line is one header value, "Set-cookie2" when it starts with "2 ",
// "Set-cookie" otherwise.

#include "fuzz/FuzzSupport.h"
#include "http/IdCookieManager.h"

#include <QStringList>

namespace {

bool HasControlCharacter(QStringView text) {
  for (QChar c : text) {
    if (c.unicode() < 32 || c.unicode() == 127) {
      return true;
    }
  }
  return false;
}

// Whether every entry of part appears in whole, in the same order.
bool IsOrderedSubset(const QStringList& part, const QStringList& whole) {
  qsizetype at = 0;
  for (const QString& entry : part) {
    while (at < whole.size() && whole[at] != entry) {
      ++at;
    }
    if (at == whole.size()) {
      return false;
    }
    ++at;
  }
  return true;
}

void CheckTextFormReadsBack(const TIdCookieRFC2109& cookie) {
  // A host taken as the domain is written as it stands: a ";" in it would start attributes.
  const QString& domain = cookie.CookieDomain();
  if (domain.contains(u';')) {
    return;
  }
  TIdCookieRFC2109 reread;
  reread.ParseCookieText(cookie.CookieTextForm());
  FUZZ_CHECK(reread.CookieName() == cookie.CookieName());
  FUZZ_CHECK(reread.CookieValue() == cookie.CookieValue());
  FUZZ_CHECK(reread.SecureOnly() == cookie.SecureOnly());
  // Attribute values lose blanks at their end.
  if (domain.isEmpty() || domain.back().unicode() > 32) {
    FUZZ_CHECK(reread.CookieDomain() == domain);
  }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  PinTimeZoneToUtc();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QStringList lines = Latin1Text(data, size).split(u'\n');
  if (lines.size() < 2) {
    return 0;
  }
  const QString& host = lines[0];

  TIdCookieManager manager;
  qsizetype offered = 0;
  for (qsizetype i = 2; i < lines.size(); ++i, ++offered) {
    if (lines[i].startsWith(u"2 ")) {
      manager.AcceptSetCookie2(lines[i].mid(2), host);
    } else {
      manager.AcceptSetCookie(lines[i], host);
    }
  }

  TIdCookies& store = manager.CookieCollection();
  FUZZ_CHECK(store.Count() <= offered);
  for (qsizetype i = 0; i < store.Count(); ++i) {
    const TIdCookieRFC2109& cookie = *store.Items(i);
    FUZZ_CHECK(DomainMatches(host, cookie.CookieDomain()));
    FUZZ_CHECK(!HasControlCharacter(cookie.CookieName()));
    FUZZ_CHECK(!HasControlCharacter(cookie.CookieValue()));
    FUZZ_CHECK(!cookie.CookiePath().isEmpty());
    CheckTextFormReadsBack(cookie);
  }

  TIdURI uri;
  uri.SetHostPart(host);
  uri.SetDirectory(lines[1]);
  // Encrypted first: a cookie may expire between the two calls, never come back. Each call
  // first drops what has expired, so the store is counted right after the call it served: an
  // expiry that falls between the calls (a max-age of 0 written as the coming second, rounded
  // up) takes a cookie the first header still holds.
  const QString encrypted = manager.CookieHeaderFor(uri, true);
  const qsizetype storedForEncrypted = store.Count();
  const QString plain = manager.CookieHeaderFor(uri, false);
  FUZZ_CHECK(!HasControlCharacter(plain));
  FUZZ_CHECK(!HasControlCharacter(encrypted));
  // Names and values hold no ";", so the header splits back into its cookies.
  const auto cookiesOf = [](const QString& header) {
    return header.isEmpty() ? QStringList() : header.split(QStringLiteral("; "));
  };
  FUZZ_CHECK(cookiesOf(encrypted).size() <= storedForEncrypted);
  FUZZ_CHECK(IsOrderedSubset(cookiesOf(plain), cookiesOf(encrypted)));
  return 0;
}
