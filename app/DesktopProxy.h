#pragma once

// The desktop's own proxy choice for an address: GNOME's or KDE's proxy settings, a proxy
// auto-config (PAC) file they name, or one discovered on the network, as libproxy reads them.
// Desktop sessions export no proxy variables, so this is what a user who set a proxy in the
// desktop's settings expects the program to follow when the environment has no say.
//
// libproxy may block for as long as a PAC server takes to answer or a PAC script runs, which
// can be for ever. So every query runs on one worker thread that lives as long as the process,
// and the caller waits for the answer only as long as its limits allow: past them it goes
// direct, and the worker's late answer is dropped. Nothing ever waits for the worker to end,
// so a query still stuck at exit does not hold the process.

#include "http/IdProxySettings.h"
#include "http/IdURI.h"

#include <chrono>

// The longest a query waits for the desktop's answer, whatever the call's own deadline allows.
// The first query of a process fetches and compiles the PAC file (a slow intranet server, a
// discovery's name lookups), which a few seconds may not cover; yet a configuration that is
// stuck must still leave the page's own fetch most of its 60 s to go direct.
inline constexpr std::chrono::milliseconds kDesktopProxyQueryLimit{10000};

// The ways the desktop's settings give for address, in the order they give them: through an
// http proxy, or direct. An address whose scheme is neither http nor https goes direct without
// asking, as does every address outside a GNOME or KDE session (where libproxy would answer from
// the proxy variables, which are not the desktop's to read). Each route's source is "desktop
// settings", or "proxy auto-config <url>" when the desktop names the PAC file that gave it. Entries
// that cannot be used (SOCKS or any other kind of proxy, an address that does not read, a port out
// of range) are passed over with a note that never repeats credentials; an answer left with no
// route goes direct with a note, as does a PAC file that cannot be read.
//
// Blocks until the answer, until limits.deadline, until limits.abortHandle becomes readable,
// or for kDesktopProxyQueryLimit, whichever comes first; in all but the first case the answer
// is direct with a note saying why. While an earlier query has been stuck for longer than
// kDesktopProxyQueryLimit, the answer is direct with a note at once. Thread-safe; never
// raises. Usable as a TIdProxyQuery.
TIdProxyRoutes DesktopProxyRoutes(const TIdURI& address, const TIdProxyQueryLimits& limits);

// Starts the worker now, where the session is one whose settings are read, and has it load
// libproxy and its plugins (a few hundred milliseconds), so that the first query does not wait
// for them. Returns at once; fetches nothing; never raises (a worker that cannot start is
// tried again, and reported, by the first query).
void PrepareDesktopProxy();
