#pragma once

// Answering a server's 401 or a proxy's 407: pick a scheme among the challenges offered, attach
// it to the request (or proxy) record, hand it the credentials and let it evaluate the
// challenge. The client calls one function per status and sends the request again when it
// returns true; counting the attempts against its retry limit, and resetting the scheme when
// it gives up, stay with the client.

#include "http/IdAuthentication.h"
#include "http/IdHTTPHeaderInfo.h"

#include <QString>
#include <QStringList>
#include <functional>

class QObject;

// Called once a scheme class has been chosen for a record that had none, before an object of
// it is made. authenticationClass may be replaced; setting it to none ends the attempt.
// authInfo: the challenge values of the response.
using TIdOnSelectAuthorization = std::function<void(
    QObject* sender, TIdAuthenticationClass& authenticationClass, const TIdHeaderList& authInfo)>;
// Called when the scheme needs credentials. The handler sets them on authentication
// (SetUsername, SetPassword) and sets handled to true; leaving handled false ends the attempt.
// A handler that keeps setting handled without giving what the scheme needs is asked again.
using TIdOnAuthorization =
    std::function<void(QObject* sender, TIdAuthentication* authentication, bool& handled)>;

// The answer to a 401. Returns true when request's Authentication is ready to answer
// challenges (the "WWW-Authenticate" values) on the next send.
// When request has no Authentication, or one of a class that no challenge names, the first
// challenge whose scheme is registered chooses the class (onSelectAuthorization may change it)
// and a new object replaces it; none registered returns false (and leaves none attached). The
// attached object stays, whatever the result. Goes on only with onAuthorization assigned or a
// non-blank Password on request: the scheme gets request's Username and Password, keeps its current
// value as its "Authorization" parameter, takes the challenges and evaluates them. A scheme asking
// for credentials fires onAuthorization; when that supplies them, request's Username and Password
// take them and BasicAuthentication becomes true. Without a handler, a scheme asking for
// credentials returns false. Raises what the scheme's evaluation raises (EIdInvalidAlgorithm);
// nothing else. Handlers are called with sender first.
bool AnswerServerChallenge(QObject* sender, TIdRequestHeaderInfo& request,
                           const TIdHeaderList& challenges,
                           const TIdOnSelectAuthorization& onSelectAuthorization,
                           const TIdOnAuthorization& onAuthorization);

// The answer to a 407: as AnswerServerChallenge, on proxy's Authentication with challenges the
// "Proxy-Authenticate" values and ProxyUsername/ProxyPassword as credentials, with these
// differences: it goes on only when onProxyAuthorization is assigned; the scheme keeps no
// "Authorization" parameter; supplied credentials are copied back into ProxyUsername and
// ProxyPassword only.
bool AnswerProxyChallenge(QObject* sender, TIdProxyConnectionInfo& proxy,
                          const TIdHeaderList& challenges,
                          const TIdOnSelectAuthorization& onSelectProxyAuthorization,
                          const TIdOnAuthorization& onProxyAuthorization);

// Tells a scheme that signs the request it answers (Digest) what it signs; call it before the
// record composes its lines for each send. method: the request method; target: the target
// exactly as written in the request line; bodyLines: the body as lines, empty for none. Does
// nothing for other schemes or a null scheme.
void SetSchemeRequest(TIdAuthentication* scheme, const QString& method, const QString& target,
                      const QStringList& bodyLines = {});
