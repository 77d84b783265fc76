#pragma once

// The one configuration of the HTTP client that reads photo pages, shared by the window and
// the command-line fetcher so that both send exactly the same requests.

#include "http/IdProxySettings.h"

#include <QtGlobal>
#include <cstdint>

class TIdHTTP;
class TIdRequestHeaderInfo;

// A server that accepts and never answers would otherwise hold the caller (the window's GUI
// thread) for ever; these bound how long one fetch can stay without progress.
inline constexpr int32_t kPageConnectTimeoutMs = 15000;
inline constexpr int32_t kPageReadTimeoutMs = 30000;
// A peer that drips its answer just inside the read limit, or sends interim responses or
// trailer lines without end, is bounded only by a limit on the whole fetch.
inline constexpr int32_t kPageCallTimeoutMs = 60000;

// The most a page the window reads may hold once decoded. A real photo page is about 1 MB; a
// page is held three times over while it is scanned (the bytes, its text in UTF-16), and a
// compressed body may expand a thousandfold, so a server could otherwise make the window take
// gigabytes with a few megabytes sent.
inline constexpr qint64 kPageSizeLimit = qint64{16} * 1024 * 1024;

// Sets the request fields every page fetch sends: Accept "*/*", the browser-like User-Agent,
// the form Content-Type, Pragma and Cache-Control "no-cache". The other fields stay as they
// are; those that depend on the address are the exchange's to fill. Never raises.
void ConfigurePageRequest(TIdRequestHeaderInfo& request);

// Sets the client's request fields as ConfigurePageRequest does, links the standard
// Compressor (so pages may come in any coding it undoes), turns HandleRedirects on, and
// bounds every fetch: kPageConnectTimeoutMs to connect, kPageReadTimeoutMs for each wait for
// data, kPageCallTimeoutMs for the whole fetch. Every exchange then goes the ways proxies gives
// for its address, tried in turn (a copy is kept), and a proxy's 407 is answered within the call
// with the credentials of the proxy's address, as is a server's 401 with those of the page's
// address. Every other setting keeps the component's default. Sends nothing; never raises.
void ConfigurePageClient(TIdHTTP& client, const TIdProxySettings& proxies);
