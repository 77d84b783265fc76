#include "http/IdProxySettings.h"

#include "http/IdHTTPHeaderInfo.h"
#include "http/IdResourceStringsProtocols.h"
#include "net/IdGlobal.h"
#include "net/IdIPAddress.h"

#include <QByteArray>

namespace {

[[noreturn]] void Refuse(const QString& source, const QString& reason) {
  throw EIdProxyAddressInvalid(RSProxyAddressInvalid().arg(source, reason));
}

// Letters, digits, '-', '.' and '_': what a host name is made of. Anything else would reach the
// resolver, or a header line, as it stands.
bool IsHostNameCharacter(QChar c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         c == u'-' || c == u'.' || c == u'_';
}

bool IsHostName(QStringView host) {
  if (host.isEmpty()) {
    return false;
  }
  for (const QChar c : host) {
    if (!IsHostNameCharacter(c)) {
      return false;
    }
  }
  return true;
}

// A port as a proxy variable writes it: one to five decimal digits, 1 to 65535.
std::optional<uint16_t> PortOf(QStringView text) {
  const std::optional<uint64_t> port = DigitsValue(text, 10, 65535);
  if (text.size() > 5 || !port || *port == 0) {
    return std::nullopt;
  }
  return uint16_t(*port);
}

QString PercentDecoded(QStringView text) {
  return QString::fromUtf8(QByteArray::fromPercentEncoding(text.toUtf8()));
}

// The entry or host as compared: an IPv6 address loses its brackets.
QStringView WithoutBrackets(QStringView text) {
  if (text.size() >= 2 && text.startsWith(u'[') && text.endsWith(u']')) {
    return text.sliced(1, text.size() - 2);
  }
  return text;
}

// The address bytes of an IP literal; nothing for a name. A name made of digits and dots only
// ("127.1") is an address too, as the resolver would read it.
std::optional<QByteArray> AddressBytes(QStringView text) {
  const auto address = TIdIPAddress::MakeAddressObject(text);
  if (!address) {
    return std::nullopt;
  }
  return address->HToNBytes();
}

} // namespace

// --- TIdProxyAddress ----------------------------------------------------------------------------

TIdProxyAddress TIdProxyAddress::Parse(QStringView text, const QString& source) {
  const QString trimmed = Trim(text);
  QStringView rest = trimmed;
  for (const QChar c : rest) {
    if (c.unicode() <= 32 || c.unicode() == 127) {
      Refuse(source, RSProxyAddressBadCharacter());
    }
  }
  const qsizetype schemeEnd = rest.indexOf(u"://");
  if (schemeEnd >= 0) {
    if (!TextIsSame(rest.first(schemeEnd), u"http")) {
      Refuse(source, RSProxyAddressNotHttp());
    }
    rest = rest.sliced(schemeEnd + 3);
  }

  const qsizetype slash = rest.indexOf(u'/');
  if (slash >= 0) {
    if (rest.sliced(slash) != u"/") {
      Refuse(source, RSProxyAddressHasPath());
    }
    rest = rest.first(slash);
  }

  TIdProxyAddress address;
  const qsizetype at = rest.lastIndexOf(u'@');
  if (at >= 0) {
    const QStringView userInfo = rest.first(at);
    const qsizetype colon = userInfo.indexOf(u':');
    address.username = PercentDecoded(colon < 0 ? userInfo : userInfo.first(colon));
    if (colon >= 0) {
      address.password = PercentDecoded(userInfo.sliced(colon + 1));
    }
    rest = rest.sliced(at + 1);
  }

  QStringView portText;
  bool hasPort = false;
  if (rest.startsWith(u'[')) {
    const qsizetype close = rest.indexOf(u']');
    if (close < 0) {
      Refuse(source, RSProxyAddressBadHost());
    }
    address.host = rest.sliced(1, close - 1).toString();
    const auto ip = TIdIPAddress::MakeAddressObject(address.host);
    if (!ip || ip->AddrType() != Id_IPv6) {
      Refuse(source, RSProxyAddressBadHost());
    }
    const QStringView after = rest.sliced(close + 1);
    if (!after.isEmpty() && !after.startsWith(u':')) {
      Refuse(source, RSProxyAddressBadHost());
    }
    hasPort = !after.isEmpty();
    portText = hasPort ? after.sliced(1) : QStringView();
  } else {
    // An IPv6 address needs its brackets: bare, its colons would run into the port's.
    if (rest.count(u':') > 1) {
      Refuse(source, RSProxyAddressBadHost());
    }
    const qsizetype colon = rest.indexOf(u':');
    hasPort = colon >= 0;
    address.host = (hasPort ? rest.first(colon) : rest).toString();
    portText = hasPort ? rest.sliced(colon + 1) : QStringView();
    if (!IsHostName(address.host)) {
      Refuse(source, address.host.isEmpty() ? RSProxyAddressNoHost() : RSProxyAddressBadHost());
    }
  }
  if (hasPort) {
    const auto port = PortOf(portText);
    if (!port) {
      Refuse(source, RSProxyAddressBadPort());
    }
    address.port = *port;
  }
  return address;
}

// --- TIdNoProxyList -----------------------------------------------------------------------------

TIdNoProxyList::TIdNoProxyList(QStringView text) {
  for (const QStringView piece : text.split(u',')) {
    const QString entry = Trim(piece);
    if (entry.isEmpty()) {
      continue;
    }
    if (entry == u"*") {
      matchesEveryHost_ = true;
      continue;
    }
    const QStringView bare = WithoutBrackets(entry);
    if (const auto bytes = AddressBytes(bare)) {
      addresses_ << *bytes;
    } else {
      names_ << (bare.startsWith(u'.') ? bare.sliced(1) : bare).toString().toLower();
    }
  }
}

bool TIdNoProxyList::Matches(QStringView host) const {
  if (matchesEveryHost_) {
    return true;
  }
  const QStringView bare = WithoutBrackets(host);
  if (const auto bytes = AddressBytes(bare)) {
    return addresses_.contains(*bytes);
  }
  // A name written with the root's dot is the same name.
  const QString name = (bare.endsWith(u'.') ? bare.chopped(1) : bare).toString().toLower();
  if (name.isEmpty()) {
    return false;
  }
  for (const QString& entry : names_) {
    if (name == entry || (name.size() > entry.size() && name.endsWith(entry) &&
                          name[name.size() - entry.size() - 1] == u'.')) {
      return true;
    }
  }
  return false;
}

// --- TIdProxySettings ---------------------------------------------------------------------------

TIdProxySettings::Choice TIdProxySettings::ReadChoice(const QProcessEnvironment& environment,
                                                      std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const QString variable = QString::fromLatin1(name);
    const QString value = environment.value(variable);
    if (value.isEmpty()) {
      continue;
    }
    try {
      return TIdProxyRoute{TIdProxyAddress::Parse(value, variable),
                           QStringLiteral("environment ") + variable};
    } catch (const EIdProxyAddressInvalid& e) {
      return e.Message();
    }
  }
  return std::monostate{};
}

TIdProxySettings TIdProxySettings::FromEnvironment(const QProcessEnvironment& environment) {
  TIdProxySettings settings;
  settings.http_ = ReadChoice(environment, {"http_proxy", "all_proxy", "ALL_PROXY"});
  settings.https_ =
      ReadChoice(environment, {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"});
  QString noProxy = environment.value(QStringLiteral("no_proxy"));
  if (noProxy.isEmpty()) {
    noProxy = environment.value(QStringLiteral("NO_PROXY"));
  }
  settings.noProxy_ = TIdNoProxyList(noProxy);
  return settings;
}

void TIdProxySettings::SetProxyForAll(QStringView text, const QString& source) {
  if (Trim(text).isEmpty()) {
    http_ = https_ = Off{};
    return;
  }
  http_ = https_ = TIdProxyRoute{TIdProxyAddress::Parse(text, source), source};
}

const TIdProxySettings::Choice* TIdProxySettings::ChoiceFor(const TIdURI& address) const {
  if (TextIsSame(address.Scheme(), u"http")) {
    return &http_;
  }
  if (TextIsSame(address.Scheme(), u"https")) {
    return &https_;
  }
  return nullptr;
}

std::optional<TIdProxyAddress> TIdProxySettings::ProxyFor(const TIdURI& address) const {
  const Choice* choice = ChoiceFor(address);
  const bool set = choice && (std::holds_alternative<TIdProxyRoute>(*choice) ||
                              std::holds_alternative<QString>(*choice));
  if (!set || noProxy_.Matches(address.HostPart())) {
    return std::nullopt;
  }
  if (const auto* message = std::get_if<QString>(choice)) {
    throw EIdProxyAddressInvalid(*message);
  }
  return std::get<TIdProxyRoute>(*choice).proxy;
}

TIdProxyRoutes TIdProxySettings::RoutesFor(const TIdURI& address,
                                           const TIdProxyQueryLimits& limits) const {
  const Choice* choice = ChoiceFor(address);
  // The hosts the user listed as reached directly stay direct, whoever else would say
  // otherwise.
  if (choice && std::holds_alternative<std::monostate>(*choice) && fallback_ &&
      !noProxy_.Matches(address.HostPart())) {
    TIdProxyRoutes answer = fallback_(address, limits);
    if (answer.routes.isEmpty()) {
      answer.routes << TIdProxyRoute{std::nullopt, {}};
    }
    return answer;
  }
  const std::optional<TIdProxyAddress> proxy = ProxyFor(address);
  QString source;
  if (proxy) {
    source = std::get<TIdProxyRoute>(*choice).source;
  }
  return {{TIdProxyRoute{proxy, source}}, {}};
}

void TIdProxySettings::ApplyTo(const TIdURI& address, TIdProxyConnectionInfo& params) const {
  ApplyRoute(TIdProxyRoute{ProxyFor(address), {}}, params);
}

void TIdProxySettings::ApplyRoute(const TIdProxyRoute& route, TIdProxyConnectionInfo& params) {
  const TIdProxyAddress chosen = route.proxy.value_or(TIdProxyAddress{{}, 0, {}, {}});
  if (chosen.username != params.ProxyUsername() || chosen.password != params.ProxyPassword()) {
    params.SetAuthentication(nullptr);
  }
  params.SetProxyServer(chosen.host);
  params.SetProxyPort(chosen.port);
  params.SetProxyUsername(chosen.username);
  params.SetProxyPassword(chosen.password);
}

// --- TIdProxyRoute ------------------------------------------------------------------------------

QString TIdProxyRoute::Text() const {
  if (!proxy) {
    return QStringLiteral("direct");
  }
  const QString host = proxy->host.contains(u':') ? u'[' + proxy->host + u']' : proxy->host;
  return QStringLiteral("proxy %1:%2").arg(host).arg(proxy->port);
}
