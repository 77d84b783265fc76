#include "http/IdAuthentication.h"

#include "net/IdGlobal.h"

namespace {

const QString kUsernameParam = QStringLiteral("Username");
const QString kPasswordParam = QStringLiteral("Password");

} // namespace

TIdAuthentication::TIdAuthentication() {
  // Credentials are stored, not sent: folding would turn a long password's commas and blank
  // runs into something else when it is read back.
  schemeParams_.SetFoldLongLines(false);
}

TIdAuthentication::~TIdAuthentication() = default;

void TIdAuthentication::Reset() {
  stepIndex_ = 0;
}

QString TIdAuthentication::Username() const {
  return schemeParams_.ReadHeader(kUsernameParam);
}

void TIdAuthentication::SetUsername(const QString& username) {
  schemeParams_.WriteHeader(kUsernameParam, username);
}

QString TIdAuthentication::Password() const {
  return schemeParams_.ReadHeader(kPasswordParam);
}

void TIdAuthentication::SetPassword(const QString& password) {
  schemeParams_.WriteHeader(kPasswordParam, password);
}

QString TIdBasicAuthentication::AuthorizationValue() {
  const QByteArray credentials = EncodeText(QString(Username() + u':' + Password()), ek8Bit);
  return QStringLiteral("Basic ") + QString::fromLatin1(credentials.toBase64());
}
