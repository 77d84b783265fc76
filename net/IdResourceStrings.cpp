#include "net/IdResourceStrings.h"

#include "net/IdSocketErrorTable.h"

QString RSNoEncodingSpecified() {
  return QStringLiteral("No encoding specified.");
}

QString RSStackClassUndefined() {
  return QStringLiteral("Stack Class is undefined.");
}
QString RSStackAlreadyCreated() {
  return QStringLiteral("Stack already created.");
}
QString RSStackSetSizeExceeded() {
  return QStringLiteral("Set Size Exceeded.");
}
QString RSIPVersionUnsupported() {
  return QStringLiteral("The requested IPVersion / Address family is not supported.");
}
QString RSIPv6Unavailable() {
  return QStringLiteral("IPv6 unavailable");
}
QString RSSocketError() {
  return QStringLiteral("Socket Error # %1\r\n%2");
}
QString RSStackHostNotFound() {
  return QStringLiteral("Host not found.");
}
QString RSStackTryAgain() {
  return QStringLiteral("Temporary failure in name resolution.");
}
QString RSStackNoRecovery() {
  return QStringLiteral("Non-recoverable failure in name resolution.");
}
QString RSStackNoData() {
  return QStringLiteral("The host has no address of the kind asked for.");
}
QString RSStackServiceNotFound() {
  return QStringLiteral("Service not found.");
}
QString RSStackOutOfMemory() {
  return QStringLiteral("Not enough memory for the name lookup.");
}
QString RSInvalidIntegerValue() {
  return QStringLiteral("'%1' is not a valid integer value");
}
QString RSRangeCheckError() {
  return QStringLiteral("Range check error");
}

QString RSSocketErrorText(int32_t code) {
  return QString::fromLatin1(SocketErrorCodeText(code));
}

QString RSCouldNotBindSocket() {
  return QStringLiteral("Could not bind socket. Address and port are already in use.");
}
QString RSInvalidPortRange() {
  return QStringLiteral("Invalid Port Range (%1 - %2)");
}
QString RSCannotBindRange() {
  return QStringLiteral("Can not bind in port range (%1 - %2)");
}
QString RSCannotSetIPVersionWhenConnected() {
  return QStringLiteral("Cannot change IPVersion when connected");
}
QString RSConnectionClosedGracefully() {
  return QStringLiteral("Connection Closed Gracefully.");
}

QString RSStatusResolving() {
  return QStringLiteral("Resolving hostname %1.");
}
QString RSStatusConnecting() {
  return QStringLiteral("Connecting to %1.");
}
QString RSStatusConnected() {
  return QStringLiteral("Connected.");
}
QString RSStatusDisconnecting() {
  return QStringLiteral("Disconnecting.");
}
QString RSStatusDisconnected() {
  return QStringLiteral("Disconnected.");
}
QString RSStatusText() {
  return QStringLiteral("%1");
}

QString RSNotConnected() {
  return QStringLiteral("Not Connected");
}
QString RSAlreadyConnected() {
  return QStringLiteral("Already connected.");
}
QString RSConnectTimeout() {
  return QStringLiteral("Connect timed out.");
}
QString RSInterceptIsDifferent() {
  return QStringLiteral("The IOHandler already has a different Intercept assigned");
}
QString RSReadTimeout() {
  return QStringLiteral("Read timed out.");
}
QString RSCallTimeout() {
  return QStringLiteral("Call timed out.");
}

QString RSLookupTimeout() {
  return QStringLiteral("Name lookup timed out.");
}
QString RSEveryAddressFailed() {
  return QStringLiteral("(all %1 addresses of %2 failed; the last was %3)");
}
QString RSConnectWithoutSockets() {
  return QStringLiteral("A connect needs a way to make its sockets.");
}

QString RSNotEnoughDataInBuffer() {
  return QStringLiteral("Not enough data in buffer.");
}
QString RSTooMuchDataInBuffer() {
  return QStringLiteral("Too much data in buffer.");
}
QString RSBufferMissingTerminator() {
  return QStringLiteral("Buffer terminator must be specified.");
}
QString RSBufferInvalidStartPos() {
  return QStringLiteral("Buffer start position is invalid.");
}
QString RSStreamWriteError() {
  return QStringLiteral("Could not write to the stream.");
}

QString RSInterceptCircularLink() {
  return QStringLiteral("Intercept chain would form a loop.");
}

QString RSReadLnMaxLineLengthExceeded() {
  return QStringLiteral("Max line length exceeded.");
}
QString RSReadLnWaitMaxAttemptsExceeded() {
  return QStringLiteral("Max line read attempts exceeded.");
}
QString RSFileNotFound() {
  return QStringLiteral("File \"%1\" not found");
}
QString RSFileOpenFailed() {
  return QStringLiteral("Cannot open file \"%1\".");
}
QString RSNoDataToRead() {
  return QStringLiteral("No data to read.");
}
QString RSObjectTypeNotSupported() {
  return QStringLiteral("Object type not supported.");
}
QString RSMaximumNumberOfCaptureLineExceeded() {
  return QStringLiteral("Maximum number of line allowed exceeded");
}
QString RSRequiresLargeStream() {
  return QStringLiteral("Streams above 2 GB need 64-bit counts.");
}

QString RSTLSCertificateUntrusted() {
  return QStringLiteral("Certificate of %1 is not trusted: %2");
}
QString RSTLSHostMismatch() {
  return QStringLiteral("Certificate of %1 does not name this host");
}
QString RSTLSHandshakeFailed() {
  return QStringLiteral("TLS handshake with %1 failed: %2");
}
QString RSTLSPlainTextPeer() {
  return QStringLiteral("the server answered in plain HTTP, not TLS");
}
QString RSTLSPeerClosedInHandshake() {
  return QStringLiteral("the server closed the connection");
}
QString RSTLSStreamError() {
  return QStringLiteral("TLS error on the connection to %1: %2");
}
QString RSTLSTruncated() {
  return QStringLiteral(
      "Connection to %1 ended without TLS close_notify: the data may be cut short");
}
QString RSTLSTrustFileUnreadable() {
  return QStringLiteral("Cannot read trusted certificates from %1: %2");
}
QString RSTLSSetupFailed() {
  return QStringLiteral("TLS cannot be set up: %1");
}
