#pragma once

// The message texts of the HTTP layer, in one table. Each function returns the exact text;
// format strings keep "%1"-style placeholders for QString::arg.

#include <QString>

QString RSURIProtocolFieldEmpty();
QString RSURIHostFieldEmpty();
// %1: the number of bytes left in the stream.
QString RSStreamTooLargeForText();
// %1: the index that was out of bounds.
QString RSListIndexError();
QString RSFailedTimeZoneInfo();
// %1: the class already registered under the name.
QString RSAuthSchemeAlreadyRegistered();
QString RSDigestUnsupportedAlgorithm();
// The client
QString RSHTTPUnknownProtocol();
QString RSHTTPMethodRequiresVersion();
QString RSIOHandlerPropInvalid();
QString RSHTTPChunkStarted();
// %1: the header line, cut at its first line break.
QString RSHTTPHeaderLineBreak();
QString RSHTTPContentLengthConflict();
QString RSHTTPChunkSizeInvalid();
// %1: the body's bytes received; %2: the bytes "Content-Length" announced.
QString RSHTTPBodyCutShort();
// %1: the body's bytes received (chunk data only).
QString RSHTTPChunkedBodyCutShort();
// %1: the "Content-Encoding" value; %2: the body's bytes as framed; %3: the bytes decoded.
QString RSHTTPBodyDecoded();
// %1: the content coding; %2: what its library found wrong.
QString RSHTTPContentCorrupt();
// %1: the content coding.
QString RSHTTPContentCutShort();
// The proxy choice. %1: where the address came from (a variable, an option); %2: one of the
// reasons below.
QString RSProxyAddressInvalid();
QString RSProxyAddressBadCharacter();
QString RSProxyAddressNotHttp();
QString RSProxyAddressHasPath();
QString RSProxyAddressNoHost();
QString RSProxyAddressBadHost();
QString RSProxyAddressBadPort();
QString RSHTTPTunnelStrayBytes();
// "%1": the route (TIdProxyRoute::Text), "%2": where it came from.
QString RSHTTPRouteChosen();
// "%1": the route that failed, "%2": why, "%3": the route tried next.
QString RSHTTPRouteFailed();
// "%1": every route tried, in order; added to the last route's failure.
QString RSHTTPEveryRouteFailed();
