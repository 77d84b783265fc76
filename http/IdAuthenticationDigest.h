#pragma once

// Digest access authentication with MD5: the password never goes on the wire, only a hash of
// it bound to the server's nonce, our count of answers to that nonce, the request method and
// the request-line target.

#include "http/IdAuthentication.h"

#include <QStringList>

// A Digest challenge asked for a hash algorithm other than MD5, or named none.
MARQUELO_DECLARE_EXCEPTION(EIdInvalidAlgorithm, EIdException)

// The MD5 of the ASCII bytes of text (any character above 127 counts as "?"), as 32 lower-case
// hexadecimal digits.
QString Md5Hex(QStringView text);

class TIdDigestAuthentication : public TIdAuthentication {
public:
  static constexpr const char* kClassName = "TIdDigestAuthentication";

  int StepCount() const override { return 1; }

  // "Digest" alone while StepIndex is 0 (no challenge evaluated since the last answer).
  // After an evaluation: "Digest " and the parameters username, realm, nonce, algorithm, uri,
  // then qop, nc and cnonce when the server offered "auth" or "auth-int", then response, then
  // opaque when the server sent one; each "name=value", joined by ", ", every value but nc
  // quoted. That answer advances NonceCount by 1 and returns StepIndex to 0.
  QString AuthorizationValue() override;

  // What the last challenge said. NonceCount is the count the next answer sends: 1 for a nonce
  // not answered before, then 2, 3, ... while the server keeps the same nonce.
  const QString& NonceValue() const { return nonceValue_; }
  const QString& OpaqueValue() const { return opaqueValue_; }
  const QString& AlgorithmName() const { return algorithmName_; }
  bool StaleFlag() const { return staleFlag_; }
  int NonceCount() const { return nonceCount_; }
  const QStringList& DomainList() const { return domainList_; }
  const QStringList& QopValues() const { return qopValues_; }

  // What the answer signs, filled by the caller before the request's header lines are
  // composed: the method ("GET"), the target exactly as written in the request line, and the
  // body as lines (used only when the server asks for "auth-int"; empty for no body).
  const QString& RequestMethod() const { return requestMethod_; }
  void SetRequestMethod(const QString& method) { requestMethod_ = method; }
  const QString& RequestUri() const { return requestUri_; }
  void SetRequestUri(const QString& uri) { requestUri_ = uri; }
  const QStringList& EntityBody() const { return entityBody_; }
  void SetEntityBody(const QStringList& lines) { entityBody_ = lines; }

protected:
  // SendAgain at once when a challenge has been evaluated and not yet answered. Otherwise takes
  // the parameters of the "Digest" challenge (a nonce other than the last one restarts
  // NonceCount at 1), sets StepIndex to 1, and asks for credentials when the user name is
  // empty. Raises EIdInvalidAlgorithm when the algorithm is not "MD5" (in any case) or absent.
  TIdAuthWhatsNext Next() override;

  // The client nonce of the next answer: the MD5 of the current local date and time as text.
  virtual QString NewClientNonce() const;

private:
  bool OffersQop(QStringView qop) const;

  QString nonceValue_;
  QString opaqueValue_;
  QString algorithmName_;
  bool staleFlag_ = false;
  int nonceCount_ = 0;
  QStringList domainList_;
  QStringList qopValues_;
  QString requestMethod_;
  QString requestUri_;
  QStringList entityBody_;
};
