#pragma once

// The connector: turns a host and a port into one connected socket, the way a browser does.
//
// A name is looked up for both address families at once (one query of the system's resolver
// for either family, so /etc/hosts, mDNS and whatever the name service switch lists keep
// working), on a thread of its own. The call never waits for the lookup past its limits or an
// abort: it leaves the thread behind, and the late answer is thrown away when it comes.
//
// The addresses are tried with the families taking turns, IPv6 first, each family in the
// resolver's order. The next attempt starts 250 ms after the last one began, or at once when
// every attempt under way has failed; the first socket to connect wins and the others are
// closed. One poll watches the attempts, the lookups, the abort signal and the limits, so a
// stalled connect, a stalled lookup and an abort all end the call at once.
//
//   TIdConnectSteps steps;
//   steps.makeSocket = [](TIdIPVersion version) { ... a new socket of version, bound ... };
//   const TIdConnectedSocket won = ConnectToHost({"example.org", 80, {}}, {}, abort, steps);
//   ... won.handle is connected and blocking; the caller owns it ...

#include "net/IdStack.h"

#include <QString>
#include <chrono>
#include <functional>
#include <optional>

// The connect time limit passed: "Connect timed out.". Nothing of the connect is left open.
MARQUELO_DECLARE_EXCEPTION(EIdConnectTimeout, EIdException)
// The call's deadline passed while the name was still being looked up: "Name lookup timed
// out.". A kind of EIdCallTimeout, so a caller that handles the deadline handles this too.
MARQUELO_DECLARE_EXCEPTION(EIdLookupTimeout, EIdCallTimeout)

// Where to connect.
struct TIdConnectTarget {
  // A name, an IPv4 literal or an IPv6 literal (brackets around it are allowed). A literal is
  // tried as it is, without a lookup.
  QString host;
  uint16_t port = 0;
  // Both families when empty; otherwise only addresses of this version are looked up and tried.
  std::optional<TIdIPVersion> family;
};

// When to give up. Either may be absent (no limit).
struct TIdConnectLimits {
  using TimePoint = std::chrono::steady_clock::time_point;
  // The connect time limit: reaching it raises EIdConnectTimeout.
  std::optional<TimePoint> connectBy;
  // The whole call's deadline: reaching it raises EIdLookupTimeout while no address is known
  // yet, EIdCallTimeout afterwards. When both limits fall together the deadline is reported.
  std::optional<TimePoint> callBy;
};

// What the caller supplies and hears while the connector works. Every callback runs on the
// calling thread; an exception from one ends the call with that exception (after closing
// every socket the connector holds).
struct TIdConnectSteps {
  // Makes a new, blocking stream socket of version, bound as the caller wants, and hands it
  // over (the connector closes it unless it wins). Required. An exception it raises counts as
  // that address's failure (the reason reported if it is the last).
  std::function<TIdStackSocketHandle(TIdIPVersion version)> makeSocket;
  // Told the host before it is looked up (not for a literal). Optional.
  std::function<void(const QString& host)> onResolving;
  // Told the address text (TIdStack::AddressToText form) of each attempt as it starts.
  // Optional.
  std::function<void(const QString& address)> onConnecting;
};

// The winning socket: connected, blocking again, owned by the caller from now on.
struct TIdConnectedSocket {
  TIdStackSocketHandle handle = Id_INVALID_SOCKET;
  TIdIPVersion version = Id_IPv4;
};

// The delay between the start of one attempt and the next while the first has not failed.
inline constexpr std::chrono::milliseconds kConnectAttemptDelay{250};
// The longest name the resolver is asked for, in bytes (a trailing dot not counted).
inline constexpr qsizetype kMaxHostNameLength = 253;

// Connects to target as described at the top of this unit. Blocks until a socket connects,
// every address has failed, a limit passes or abort is raised. Raises:
// - EIdSocketError 11001 "Host not found." for a name with a NUL or longer than
//   kMaxHostNameLength, before any lookup; the lookup's own failure when no address is found
//   (11001, 11002 "Temporary failure in name resolution.", 11004, ...);
// - the one address's failure when only one was tried (EIdSocketError 10061 for a refusal, or
//   what makeSocket raised); EIdSocketError with the last address's code when several were,
//   its message naming how many addresses of the host failed and the last one;
// - EIdConnectTimeout, EIdCallTimeout or EIdLookupTimeout for the limits (see above);
// - EIdNotASocket 10038 when abort is raised.
// Every socket but the winner is closed and no descriptor of the call stays open, whatever
// the outcome; a lookup thread may outlive the call, holding only the resolver's own.
TIdConnectedSocket ConnectToHost(const TIdConnectTarget& target, const TIdConnectLimits& limits,
                                 const TIdConnectAbort& abort, const TIdConnectSteps& steps);
