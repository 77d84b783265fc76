#include "http/IdAuthChallenge.h"

#include "http/IdAuthenticationDigest.h"
#include "net/IdGlobal.h"

#include <typeinfo>

namespace {

// The first registered scheme offered, as the handler leaves it; null when no scheme offered is
// registered or the handler chose none.
std::unique_ptr<TIdAuthentication> CreateOfferedScheme(QObject* sender,
                                                       const TIdHeaderList& challenges,
                                                       const TIdOnSelectAuthorization& onSelect) {
  TIdAuthenticationClass chosen;
  for (const QString& line : challenges) {
    chosen = FindAuthScheme(ChallengeSchemeName(line));
    if (chosen)
      break;
  }
  if (!chosen)
    return nullptr;
  if (onSelect)
    onSelect(sender, chosen, challenges);
  return chosen.Create();
}

struct Credentials {
  QString username;
  QString password;
};

void GiveCredentials(TIdAuthentication& scheme, const Credentials& credentials) {
  scheme.SetUsername(credentials.username);
  scheme.SetPassword(credentials.password);
}

// Lets the scheme evaluate until it can answer or gives up. When it asks for credentials, it
// is handed the record's (read afresh, as a handler may have changed them) and the handler may
// supply others, which keep stores in the record. Without a handler a request for credentials
// cannot be met, so it ends the attempt.
bool EvaluateChallenge(QObject* sender, TIdAuthentication& scheme,
                       const TIdOnAuthorization& onAuthorization,
                       const std::function<Credentials()>& recordCredentials,
                       const std::function<void(const Credentials&)>& keep) {
  for (;;) {
    switch (scheme.NextStep()) {
    case TIdAuthWhatsNext::SendAgain:
      return true;
    case TIdAuthWhatsNext::GiveUp:
      return false;
    case TIdAuthWhatsNext::NeedCredentials: {
      if (!onAuthorization)
        return false;
      GiveCredentials(scheme, recordCredentials());
      bool handled = false;
      onAuthorization(sender, &scheme, handled);
      if (!handled)
        return false;
      keep({scheme.Username(), scheme.Password()});
      break;
    }
    }
  }
}

// Whether one of the challenges names a scheme of the class scheme is of.
bool OffersSchemeOf(const TIdHeaderList& challenges, const TIdAuthentication& scheme) {
  for (const QString& line : challenges) {
    const std::unique_ptr<TIdAuthentication> probe =
        FindAuthScheme(ChallengeSchemeName(line)).Create();
    if (probe && typeid(*probe) == typeid(scheme))
      return true;
  }
  return false;
}

// An object attached for an earlier challenge answers this one only when this one offers its
// scheme: a Basic object kept after a Basic exchange would hand the password in clear text to a
// challenge that asked for Digest.
template <class Record>
TIdAuthentication* AttachOfferedScheme(QObject* sender, Record& record,
                                       const TIdHeaderList& challenges,
                                       const TIdOnSelectAuthorization& onSelect) {
  if (!record.Authentication() || !OffersSchemeOf(challenges, *record.Authentication()))
    record.SetAuthentication(CreateOfferedScheme(sender, challenges, onSelect));
  return record.Authentication();
}

} // namespace

bool AnswerServerChallenge(QObject* sender, TIdRequestHeaderInfo& request,
                           const TIdHeaderList& challenges,
                           const TIdOnSelectAuthorization& onSelectAuthorization,
                           const TIdOnAuthorization& onAuthorization) {
  TIdAuthentication* scheme =
      AttachOfferedScheme(sender, request, challenges, onSelectAuthorization);
  if (!scheme || (!onAuthorization && Trim(request.Password()).isEmpty()))
    return false;

  const auto recordCredentials = [&request] {
    return Credentials{request.Username(), request.Password()};
  };
  GiveCredentials(*scheme, recordCredentials());
  scheme->SchemeParams().WriteHeader(QStringLiteral("Authorization"), scheme->AuthorizationValue());
  scheme->SetChallenges(challenges);
  return EvaluateChallenge(sender, *scheme, onAuthorization, recordCredentials,
                           [&request](const Credentials& supplied) {
                             request.SetBasicAuthentication(true);
                             request.SetUsername(supplied.username);
                             request.SetPassword(supplied.password);
                           });
}

bool AnswerProxyChallenge(QObject* sender, TIdProxyConnectionInfo& proxy,
                          const TIdHeaderList& challenges,
                          const TIdOnSelectAuthorization& onSelectProxyAuthorization,
                          const TIdOnAuthorization& onProxyAuthorization) {
  TIdAuthentication* scheme =
      AttachOfferedScheme(sender, proxy, challenges, onSelectProxyAuthorization);
  if (!scheme || !onProxyAuthorization)
    return false;

  const auto recordCredentials = [&proxy] {
    return Credentials{proxy.ProxyUsername(), proxy.ProxyPassword()};
  };
  GiveCredentials(*scheme, recordCredentials());
  scheme->SetChallenges(challenges);
  return EvaluateChallenge(sender, *scheme, onProxyAuthorization, recordCredentials,
                           [&proxy](const Credentials& supplied) {
                             proxy.SetProxyUsername(supplied.username);
                             proxy.SetProxyPassword(supplied.password);
                           });
}

void SetSchemeRequest(TIdAuthentication* scheme, const QString& method, const QString& target,
                      const QStringList& bodyLines) {
  if (auto* digest = dynamic_cast<TIdDigestAuthentication*>(scheme)) {
    digest->SetRequestMethod(method);
    digest->SetRequestUri(target);
    digest->SetEntityBody(bodyLines);
  }
}
