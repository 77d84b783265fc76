#include "app/DemoCertificate.h"

#include "app/BuildConfig.h"

#include <QFile>

bool PresentsCertificateFrom(const QList<QSslCertificate>& chain, const QString& path) {
  if (chain.isEmpty()) {
    return false;
  }
  QFile file(path);
  if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
    return false;
  }
  const QList<QSslCertificate> named = QSslCertificate::fromDevice(&file, QSsl::Pem);
  // A file that parses to a null certificate must not match a chain that does too.
  return !named.isEmpty() && !named.first().isNull() &&
         named.first().toDer() == chain.first().toDer();
}

void AnswerCertificateError(QWebEngineCertificateError error) {
#if MARQUELO_DEMO
  const QString named = qEnvironmentVariable(kDemoCertificateVariable);
  if (PresentsCertificateFrom(error.certificateChain(), named)) {
    error.acceptCertificate();
    return;
  }
#endif
  error.rejectCertificate();
}
