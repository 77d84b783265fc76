#pragma once

// Which proxy, if any, a request goes through: the user's proxy addresses per scheme and the
// list of hosts that are reached directly, read from the environment the way the platform's
// command-line tools read them, and chosen afresh for every exchange so that a redirect to a
// host under the no-proxy list leaves the proxy behind.
//
// The environment:
//   http_proxy                     for http addresses (lower case only: a CGI server sets
//                                  HTTP_PROXY from a request's "Proxy:" header, so the upper
//                                  case name cannot be trusted)
//   https_proxy, then HTTPS_PROXY  for https addresses
//   all_proxy, then ALL_PROXY      for either, when the scheme's own is not set
//   no_proxy, then NO_PROXY        hosts reached directly
// An empty variable counts as not set.
//
// A proxy address is [http://][user[:password]@]host[:port][/]: the scheme, when written, must
// be http (any case); host is a name, an IPv4 address or an IPv6 address in brackets; the port
// is 1 to 65535, and 1080 when none is written, as the platform's command-line tools take it.
// User name and password may be percent-encoded (read as UTF-8), so that ":" and "@" can be
// part of them.
//
// The no-proxy list is comma-separated; blanks around the entries are dropped. "*" alone
// matches every host. A name matches itself and every name under it ("example.org" and
// ".example.org" both match "example.org" and "www.example.org"), letter case ignored. An IP
// address (an IPv6 one with or without brackets) matches only the same address.

#include "http/IdURI.h"
#include "net/IdException.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <variant>

class TIdProxyConnectionInfo;

// A proxy address that cannot be read or is not an http one. The message names where the
// address came from (the variable, or the command-line option) and what is wrong with it; it
// never repeats the address, which may hold a password.
MARQUELO_DECLARE_EXCEPTION(EIdProxyAddressInvalid, EIdException)

// The port of a proxy address that writes none.
inline constexpr uint16_t kDefaultProxyPort = 1080;

// One proxy address, read. A plain value.
struct TIdProxyAddress {
  QString host; // without brackets for IPv6
  uint16_t port = kDefaultProxyPort;
  QString username;
  QString password;

  // Reads text (see the grammar above; blanks around it are dropped). source names where text
  // came from, for the message. Raises EIdProxyAddressInvalid; nothing else.
  static TIdProxyAddress Parse(QStringView text, const QString& source);
};

// One way to an address: through proxy, or direct when proxy is empty. source says where the
// choice came from, for a verbose report: "environment http_proxy", "--proxy", "desktop
// settings", "proxy auto-config <url>". A plain value.
struct TIdProxyRoute {
  std::optional<TIdProxyAddress> proxy;
  QString source;

  // "proxy host:port" or "direct", for messages; never the credentials.
  QString Text() const;
};

// The ways to try for one address, in the order they are tried, and what the choice has to say
// about itself (an entry passed over, a fallback to direct). A choice always holds at least one
// route: going direct is a route too.
struct TIdProxyRoutes {
  QList<TIdProxyRoute> routes;
  QStringList notes;
};

// How long a proxy query may take: until the call's deadline (none: no limit of the call's
// own), and no longer than abortHandle (when not -1) stays unreadable; it becomes readable when
// the call is cancelled.
struct TIdProxyQueryLimits {
  std::optional<std::chrono::steady_clock::time_point> deadline;
  int abortHandle = -1;
};

// Asks beyond the environment (the desktop's proxy settings, say) for the ways to address.
// Returns by the deadline or the abort whatever happens, with "direct" and a note when it had
// no answer by then; never raises.
using TIdProxyQuery =
    std::function<TIdProxyRoutes(const TIdURI& address, const TIdProxyQueryLimits& limits)>;

// The hosts reached without a proxy. A plain value; matching never fails.
class TIdNoProxyList {
public:
  // The list in text, as described above; an empty text matches nothing.
  explicit TIdNoProxyList(QStringView text = {});

  // Whether host (as an address's host part: an IPv6 address without brackets) is reached
  // directly.
  bool Matches(QStringView host) const;

private:
  bool matchesEveryHost_ = false;
  QStringList names_;           // lower case, without a leading dot
  QList<QByteArray> addresses_; // network-order bytes
};

// The proxy choice. A plain value, copyable; it holds what was read, so choosing reads no
// environment.
class TIdProxySettings {
public:
  // No proxy at all.
  TIdProxySettings() = default;

  // The choice the environment describes. Never raises: an address that cannot be read is
  // kept as such and raises when a request would go through it.
  static TIdProxySettings FromEnvironment(
      const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

  // One proxy for both schemes, in place of what the environment said: source names it in
  // messages (the command-line option). An empty text turns the proxy off for both. Raises
  // EIdProxyAddressInvalid at once when text cannot be read.
  void SetProxyForAll(QStringView text, const QString& source);
  // Replaces the no-proxy list.
  void SetNoProxy(QStringView text) { noProxy_ = TIdNoProxyList(text); }
  // What RoutesFor asks for an address whose scheme no variable and no SetProxyForAll has a
  // say on, unless the no-proxy list holds its host; null (the default): such an address goes
  // direct.
  void SetFallback(TIdProxyQuery query) { fallback_ = std::move(query); }

  // The proxy for address (its scheme and host part), or nothing when it goes direct: no proxy
  // for its scheme, a scheme other than http and https, or a host on the no-proxy list. Raises
  // EIdProxyAddressInvalid when the address for its scheme could not be read.
  std::optional<TIdProxyAddress> ProxyFor(const TIdURI& address) const;

  // Points params at ProxyFor(address): server, port and credentials of that proxy, or none
  // of them for a direct request. The attached scheme object goes whenever the proxy or its
  // credentials change, so that what it learnt for one proxy is never sent to another.
  // Raises as ProxyFor, leaving params unchanged.
  void ApplyTo(const TIdURI& address, TIdProxyConnectionInfo& params) const;

  // The ways to try for address, in order: the environment's (or SetProxyForAll's) choice for
  // its scheme when there is one, a single route; else what the fallback answers within
  // limits; else direct. Raises as ProxyFor.
  TIdProxyRoutes RoutesFor(const TIdURI& address, const TIdProxyQueryLimits& limits) const;

  // Points params at route, as ApplyTo does for a single choice.
  static void ApplyRoute(const TIdProxyRoute& route, TIdProxyConnectionInfo& params);

private:
  // What a scheme's proxy was set to: nothing (not set), off (an empty SetProxyForAll), an
  // address with where it came from, or the message of an address that cannot be read.
  struct Off {};
  using Choice = std::variant<std::monostate, Off, TIdProxyRoute, QString>;
  const Choice* ChoiceFor(const TIdURI& address) const;
  static Choice ReadChoice(const QProcessEnvironment& environment,
                           std::initializer_list<const char*> names);

  Choice http_;
  Choice https_;
  TIdNoProxyList noProxy_;
  TIdProxyQuery fallback_;
};
