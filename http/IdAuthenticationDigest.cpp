#include "http/IdAuthenticationDigest.h"

#include "http/IdResourceStringsProtocols.h"
#include "net/IdGlobal.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QLocale>

namespace {

// The hash inputs of an answer: the parts joined by colons.
QString Md5HexOf(const QStringList& parts) {
  return Md5Hex(parts.join(u':'));
}

QStringList TrimmedItems(const QString& list, QChar separator) {
  QStringList items;
  for (const QStringView piece : QStringView(list).split(separator)) {
    QString item = Trim(piece);
    if (!item.isEmpty()) {
      items.append(std::move(item));
    }
  }
  return items;
}

} // namespace

QString Md5Hex(QStringView text) {
  return QString::fromLatin1(
      QCryptographicHash::hash(EncodeText(text, ekASCII), QCryptographicHash::Md5).toHex());
}

bool TIdDigestAuthentication::OffersQop(QStringView qop) const {
  for (const QString& offered : qopValues_) {
    if (TextIsSame(offered, qop)) {
      return true;
    }
  }
  return false;
}

TIdAuthWhatsNext TIdDigestAuthentication::Next() {
  if (StepIndex() != 0) {
    return TIdAuthWhatsNext::SendAgain;
  }

  domainList_.clear();
  qopValues_.clear();
  const TIdHeaderList params = ParseChallengeParams(ChallengeLine(u"Digest"));
  SetRealmValue(params.ReadHeader(u"realm"));
  const QString nonce = params.ReadHeader(u"nonce");
  // Each answer to a nonce carries the next count; a fresh nonce (a stale one replaced, or the
  // very first) starts again at 1.
  if (nonce != nonceValue_ || nonceCount_ == 0) {
    nonceCount_ = 1;
    nonceValue_ = nonce;
  }
  domainList_ = TrimmedItems(params.ReadHeader(u"domain"), u' ');
  opaqueValue_ = params.ReadHeader(u"opaque");
  staleFlag_ = TextIsSame(params.ReadHeader(u"stale"), u"True");
  algorithmName_ = params.ReadHeader(u"algorithm");
  qopValues_ = TrimmedItems(params.ReadHeader(u"qop"), u',');
  if (!TextIsSame(algorithmName_, u"MD5")) {
    throw EIdInvalidAlgorithm(RSDigestUnsupportedAlgorithm());
  }

  stepIndex_ = 1;
  return Username().isEmpty() ? TIdAuthWhatsNext::NeedCredentials : TIdAuthWhatsNext::SendAgain;
}

QString TIdDigestAuthentication::NewClientNonce() const {
  return Md5Hex(QLocale::system().toString(QDateTime::currentDateTime(), QLocale::LongFormat));
}

QString TIdDigestAuthentication::AuthorizationValue() {
  if (StepIndex() == 0) {
    return QStringLiteral("Digest");
  }

  const QString clientNonce = NewClientNonce();
  const QString ha1 = Md5HexOf({Username(), RealmValue(), Password()});
  const bool integrity = OffersQop(u"auth-int");
  const QString ha2 = integrity
                          ? Md5HexOf({requestMethod_, requestUri_, Md5Hex(entityBody_.join(u','))})
                          : Md5HexOf({requestMethod_, requestUri_});
  const bool withQop = integrity || OffersQop(u"auth");
  const QString qop = integrity ? QStringLiteral("auth-int") : QStringLiteral("auth");
  const QString nc = QString::number(uint(nonceCount_), 16).rightJustified(8, u'0').toUpper();
  const QString response = withQop ? Md5HexOf({ha1, nonceValue_, nc, clientNonce, qop, ha2})
                                   : Md5HexOf({ha1, nonceValue_, ha2});

  QStringList parts;
  const auto add = [&parts](QStringView name, const QString& value) {
    parts.append(name.toString() + u'=' + value);
  };
  add(u"username", QuotedParamValue(Username()));
  add(u"realm", QuotedParamValue(RealmValue()));
  add(u"nonce", QuotedParamValue(nonceValue_));
  add(u"algorithm", QuotedParamValue(algorithmName_));
  add(u"uri", QuotedParamValue(requestUri_));
  if (withQop) {
    add(u"qop", QuotedParamValue(qop));
    add(u"nc", nc);
    add(u"cnonce", QuotedParamValue(clientNonce));
  }
  add(u"response", QuotedParamValue(response));
  if (!opaqueValue_.isEmpty()) {
    add(u"opaque", QuotedParamValue(opaqueValue_));
  }

  ++nonceCount_;
  stepIndex_ = 0;
  return QStringLiteral("Digest ") + parts.join(u", ");
}
