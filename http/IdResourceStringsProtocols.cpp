#include "http/IdResourceStringsProtocols.h"

QString RSURIProtocolFieldEmpty() {
  return QStringLiteral("Protocol field is empty");
}
QString RSURIHostFieldEmpty() {
  return QStringLiteral("Host field is empty");
}
QString RSStreamTooLargeForText() {
  return QStringLiteral("Stream remainder of %1 bytes is too large to decode as text");
}
QString RSListIndexError() {
  return QStringLiteral("List index out of bounds (%1)");
}
QString RSFailedTimeZoneInfo() {
  return QStringLiteral("Failed attempting to retrieve time zone information.");
}
QString RSAuthSchemeAlreadyRegistered() {
  return QStringLiteral("This authentication method is already registered with class name %1.");
}
QString RSDigestUnsupportedAlgorithm() {
  return QStringLiteral(
      "Unsupported hash algorithm. This implementation supports only MD5 encoding.");
}
QString RSHTTPUnknownProtocol() {
  return QStringLiteral("Unknown Protocol");
}
QString RSHTTPMethodRequiresVersion() {
  return QStringLiteral("Request method requires HTTP version 1.1");
}
QString RSIOHandlerPropInvalid() {
  return QStringLiteral("IOHandler value is not valid");
}
QString RSHTTPChunkStarted() {
  return QStringLiteral("Chunk Started");
}
QString RSHTTPHeaderLineBreak() {
  return QStringLiteral("Header line holds a line break: %1");
}
QString RSHTTPContentLengthConflict() {
  return QStringLiteral("Response has conflicting Content-Length values.");
}
QString RSHTTPChunkSizeInvalid() {
  return QStringLiteral("Response has an invalid chunk size.");
}
QString RSHTTPBodyCutShort() {
  return QStringLiteral("Response body cut short: %1 of %2 bytes received.");
}
QString RSHTTPChunkedBodyCutShort() {
  return QStringLiteral(
      "Response body cut short: %1 bytes received, the connection closed before the last chunk.");
}
QString RSHTTPBodyDecoded() {
  return QStringLiteral("Content-Encoding %1: %2 bytes received, %3 bytes decoded");
}
QString RSHTTPContentCorrupt() {
  return QStringLiteral("Response body in %1 coding is corrupt: %2.");
}
QString RSHTTPContentCutShort() {
  return QStringLiteral("Response body in %1 coding ends before its end mark.");
}
QString RSProxyAddressInvalid() {
  return QStringLiteral("The proxy address in %1 cannot be used: %2");
}
QString RSProxyAddressBadCharacter() {
  return QStringLiteral("it holds a blank or a control character");
}
QString RSProxyAddressNotHttp() {
  return QStringLiteral("only http:// proxies are supported");
}
QString RSProxyAddressHasPath() {
  return QStringLiteral("nothing but \"/\" may follow the host and port");
}
QString RSProxyAddressNoHost() {
  return QStringLiteral("it names no host");
}
QString RSProxyAddressBadHost() {
  return QStringLiteral("the host is not a name, an IPv4 address or a bracketed IPv6 address");
}
QString RSProxyAddressBadPort() {
  return QStringLiteral("the port is not a number from 1 to 65535");
}
QString RSHTTPTunnelStrayBytes() {
  return QStringLiteral("The proxy sent more than its answer before the tunnel was open");
}
QString RSHTTPRouteChosen() {
  return QStringLiteral("Route: %1, from %2.");
}
QString RSHTTPRouteFailed() {
  return QStringLiteral("%1 failed: %2 Trying %3.");
}
QString RSHTTPEveryRouteFailed() {
  return QStringLiteral("(tried in turn: %1)");
}
