#pragma once

// The one exception ever made to the browser engine's refusal of a certificate it cannot
// verify: a demo build, run against the local stand-in of the service, lets the preview show
// the stand-in's https player, whose certificate comes from an authority made for that run
// alone. Only the very certificate that run names is accepted, and only in a demo build
// (configured with -DMARQUELO_DEMO=ON); a normal build refuses every certificate error.

#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QWebEngineCertificateError>

// The environment variable in which a demo run names the PEM file of its server certificate.
inline constexpr char kDemoCertificateVariable[] = "MARQUELO_DEMO_CERTIFICATE";

// True when chain is not empty and its first certificate (the one the server presented) is,
// byte for byte in DER, the first certificate of the PEM file at path. False when the file
// cannot be read or holds no certificate. Reads the file; never raises.
bool PresentsCertificateFrom(const QList<QSslCertificate>& chain, const QString& path);

// The preview page's answer to a certificate the engine could not verify: accepted only in a
// demo build, and only when PresentsCertificateFrom(the error's chain, the file named by
// kDemoCertificateVariable) holds; refused in every other case. Never raises.
void AnswerCertificateError(QWebEngineCertificateError error);
