#pragma once

// The message texts of the transport layer, in one table. Each function returns the exact
// text; format strings keep their "%1"-style placeholders for QString::arg.

#include <QString>
#include <cstdint>

QString RSNoEncodingSpecified();

// Socket stack
QString RSStackClassUndefined();
QString RSStackAlreadyCreated();
QString RSStackSetSizeExceeded();
QString RSIPVersionUnsupported();
QString RSIPv6Unavailable();
QString RSSocketError();       // "%1": code, "%2": text of the code
QString RSStackHostNotFound(); // the text of 11001
// The texts of the other name-lookup failures: 11002, 11003, 11004, 10109 and 8.
QString RSStackTryAgain();
QString RSStackNoRecovery();
QString RSStackNoData();
QString RSStackServiceNotFound();
QString RSStackOutOfMemory();
QString RSSocketErrorText(int32_t code); // the common table; empty for a code not in it
QString RSInvalidIntegerValue();         // "%1": the text that is not a number
QString RSRangeCheckError();

// Socket handle
QString RSCouldNotBindSocket();
QString RSInvalidPortRange(); // "%1" - "%2": min and max
QString RSCannotBindRange();  // "%1" - "%2": min and max
QString RSCannotSetIPVersionWhenConnected();
QString RSConnectionClosedGracefully();

// Component status texts; "%1" is the argument where the status has one
QString RSStatusResolving();
QString RSStatusConnecting();
QString RSStatusConnected();
QString RSStatusDisconnecting();
QString RSStatusDisconnected();
QString RSStatusText();

// Connection and client
QString RSNotConnected();
QString RSAlreadyConnected();
QString RSConnectTimeout();
QString RSInterceptIsDifferent();
QString RSReadTimeout();
QString RSCallTimeout();

// Connector
QString RSLookupTimeout();
QString RSEveryAddressFailed(); // "%1": how many addresses, "%2": the host, "%3": the last one
QString RSConnectWithoutSockets();

// Buffer
QString RSNotEnoughDataInBuffer();
QString RSTooMuchDataInBuffer();
QString RSBufferMissingTerminator();
QString RSBufferInvalidStartPos();
QString RSStreamWriteError();

// Intercepts
QString RSInterceptCircularLink();

// I/O handler
QString RSReadLnMaxLineLengthExceeded();
QString RSReadLnWaitMaxAttemptsExceeded();
QString RSFileNotFound();   // "%1": the file name
QString RSFileOpenFailed(); // "%1": the file name
QString RSNoDataToRead();
QString RSObjectTypeNotSupported();
QString RSMaximumNumberOfCaptureLineExceeded();
QString RSRequiresLargeStream();

// TLS; "%1" is the host whose certificate is checked, "%2" the library's reason
QString RSTLSCertificateUntrusted();  // "%1", "%2": why the chain is refused
QString RSTLSHostMismatch();          // "%1"
QString RSTLSHandshakeFailed();       // "%1", "%2"
QString RSTLSPlainTextPeer();         // the reason given when the peer answers in clear text
QString RSTLSPeerClosedInHandshake(); // the reason given when the peer closes mid-handshake
QString RSTLSStreamError();           // "%1", "%2"
QString RSTLSTruncated();             // "%1"
QString RSTLSTrustFileUnreadable();   // "%1": the file, "%2": the reason
QString RSTLSSetupFailed();           // "%1": the reason
