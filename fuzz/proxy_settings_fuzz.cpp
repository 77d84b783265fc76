// Proxy addresses and no-proxy lists as a user's environment gives them. Reading an address
// either raises EIdProxyAddressInvalid with a message that repeats nothing of the address, or
// gives a host that cannot carry anything but a name or an address and a port in range, and
// an address written from those parts (credentials encoded) reads back to the same parts.
// Matching never fails, "*" matches every host, and each name on a list matches itself in any
// letter case and every name under it.
//
// Input: UTF-8 text. Its first line is the proxy address; the rest is a no-proxy list, whose
// entries also serve as hosts to match.

#include "fuzz/FuzzSupport.h"
#include "http/IdProxySettings.h"
#include "net/IdGlobal.h"
#include "net/IdIPAddress.h"

#include <QUrl>

namespace {

const QString kSource = QStringLiteral("http_proxy");

void CheckHost(const QString& host) {
  FUZZ_CHECK(!host.isEmpty());
  for (const QChar c : host) {
    FUZZ_CHECK(c.unicode() > 32 && c.unicode() != 127 && c != u'@' && c != u'/' && c != u'[' &&
               c != u']' && c != u'"' && c != u'\\');
  }
  if (host.contains(u':')) {
    const auto address = TIdIPAddress::MakeAddressObject(host);
    FUZZ_CHECK(address && address->AddrType() == Id_IPv6);
  }
}

void CheckAddress(const QString& text) {
  TIdProxyAddress address;
  try {
    address = TIdProxyAddress::Parse(text, kSource);
  } catch (const EIdProxyAddressInvalid& e) {
    FUZZ_CHECK(e.Message().startsWith(QStringLiteral("The proxy address in http_proxy ")));
    const QString trimmed = Trim(text);
    if (trimmed.size() >= 8) {
      FUZZ_CHECK(!e.Message().contains(trimmed));
    }
    return;
  }
  CheckHost(address.host);
  FUZZ_CHECK(address.port >= 1);

  const QString host = address.host.contains(u':') ? u'[' + address.host + u']' : address.host;
  const QString credentials =
      address.username.isEmpty() && address.password.isEmpty()
          ? QString()
          : QString::fromLatin1(QUrl::toPercentEncoding(address.username) + ':' +
                                QUrl::toPercentEncoding(address.password) + '@');
  // Joined, not filled in with arg: a filled-in part may itself hold a "%2" (the encoded "+"
  // of a user name), which a later arg would take for its own marker.
  const QString written =
      QStringLiteral("http://") + credentials + host + u':' + QString::number(address.port) + u'/';
  const TIdProxyAddress again = TIdProxyAddress::Parse(written, kSource);
  FUZZ_CHECK(again.host == address.host);
  FUZZ_CHECK(again.port == address.port);
  FUZZ_CHECK(again.username == address.username);
  FUZZ_CHECK(again.password == address.password);
}

void CheckNoProxy(const QString& list) {
  const TIdNoProxyList noProxy(list);
  bool everyHost = false;
  for (const QString& piece : list.split(u',')) {
    everyHost = everyHost || Trim(piece) == u"*";
  }
  for (const QString& piece : list.split(u',')) {
    const QString entry = Trim(piece);
    noProxy.Matches(entry);
    noProxy.Matches(piece);
    if (everyHost) {
      FUZZ_CHECK(noProxy.Matches(piece));
      continue;
    }
    const QString name = entry.startsWith(u'.') ? entry.mid(1) : entry;
    // A name as the resolver would take it: not an address, nothing a dot would split oddly.
    if (name.isEmpty() || name.endsWith(u'.') || name.startsWith(u'.') || name.startsWith(u'[') ||
        TIdIPAddress::MakeAddressObject(name)) {
      continue;
    }
    FUZZ_CHECK(noProxy.Matches(name));
    if (name.toUpper().toLower() == name.toLower()) {
      FUZZ_CHECK(noProxy.Matches(name.toUpper()));
    }
    const QString under = QStringLiteral("www.") + name;
    if (!TIdIPAddress::MakeAddressObject(under)) {
      FUZZ_CHECK(noProxy.Matches(under));
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString text = Utf8Text(data, size);
  const qsizetype lineEnd = text.indexOf(u'\n');
  CheckAddress(lineEnd < 0 ? text : text.left(lineEnd));
  if (lineEnd >= 0) {
    CheckNoProxy(text.mid(lineEnd + 1));
  }
  return 0;
}
