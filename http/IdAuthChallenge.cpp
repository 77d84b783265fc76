#include "http/IdAuthChallenge.h"

#include "http/IdAuthenticationDigest.h"
#include "net/IdGlobal.h"

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

// Moves credentials between a record and its scheme.
struct CredentialTransfer {
  std::function<void(TIdAuthentication&)> give;
  std::function<void(const TIdAuthentication&)> takeBack;
};

// Lets the scheme evaluate until it can answer or gives up; a handler supplies what it asks
// for. Without a handler a request for credentials cannot be met, so it ends the attempt.
bool EvaluateChallenge(QObject* sender, TIdAuthentication& scheme,
                       const TIdOnAuthorization& onAuthorization,
                       const CredentialTransfer& credentials) {
  for (;;) {
    switch (scheme.NextStep()) {
    case TIdAuthWhatsNext::SendAgain:
      return true;
    case TIdAuthWhatsNext::GiveUp:
      return false;
    case TIdAuthWhatsNext::NeedCredentials: {
      if (!onAuthorization)
        return false;
      credentials.give(scheme);
      bool handled = false;
      onAuthorization(sender, &scheme, handled);
      if (!handled)
        return false;
      credentials.takeBack(scheme);
      break;
    }
    }
  }
}

template <class Record>
TIdAuthentication* AttachOfferedScheme(QObject* sender, Record& record,
                                       const TIdHeaderList& challenges,
                                       const TIdOnSelectAuthorization& onSelect) {
  if (!record.Authentication())
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

  const CredentialTransfer credentials{[&request](TIdAuthentication& s) {
                                         s.SetUsername(request.Username());
                                         s.SetPassword(request.Password());
                                       },
                                       [&request](const TIdAuthentication& s) {
                                         request.SetBasicAuthentication(true);
                                         request.SetUsername(s.Username());
                                         request.SetPassword(s.Password());
                                       }};
  credentials.give(*scheme);
  scheme->SchemeParams().WriteHeader(QStringLiteral("Authorization"), scheme->AuthorizationValue());
  scheme->SetChallenges(challenges);
  return EvaluateChallenge(sender, *scheme, onAuthorization, credentials);
}

bool AnswerProxyChallenge(QObject* sender, TIdProxyConnectionInfo& proxy,
                          const TIdHeaderList& challenges,
                          const TIdOnSelectAuthorization& onSelectProxyAuthorization,
                          const TIdOnAuthorization& onProxyAuthorization) {
  TIdAuthentication* scheme =
      AttachOfferedScheme(sender, proxy, challenges, onSelectProxyAuthorization);
  if (!scheme || !onProxyAuthorization)
    return false;

  const CredentialTransfer credentials{[&proxy](TIdAuthentication& s) {
                                         s.SetUsername(proxy.ProxyUsername());
                                         s.SetPassword(proxy.ProxyPassword());
                                       },
                                       [&proxy](const TIdAuthentication& s) {
                                         proxy.SetProxyUsername(s.Username());
                                         proxy.SetProxyPassword(s.Password());
                                       }};
  credentials.give(*scheme);
  scheme->SetChallenges(challenges);
  return EvaluateChallenge(sender, *scheme, onProxyAuthorization, credentials);
}

void SetSchemeRequest(TIdAuthentication* scheme, const QString& method, const QString& target,
                      const QStringList& bodyLines) {
  if (auto* digest = dynamic_cast<TIdDigestAuthentication*>(scheme)) {
    digest->SetRequestMethod(method);
    digest->SetRequestUri(target);
    digest->SetEntityBody(bodyLines);
  }
}
