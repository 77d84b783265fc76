#include "app/PageClient.h"

#include "http/IdContentDecoding.h"
#include "http/IdHTTP.h"

void ConfigurePageRequest(TIdRequestHeaderInfo& request) {
  request.SetAccept(QStringLiteral("*/*"));
  request.SetUserAgent(QStringLiteral("Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)"));
  request.SetContentType(QStringLiteral("application/x-www-form-urlencoded"));
  request.SetPragma(QStringLiteral("no-cache"));
  request.SetCacheControl(QStringLiteral("no-cache"));
}

void ConfigurePageClient(TIdHTTP& client, const TIdProxySettings& proxies) {
  ConfigurePageRequest(client.Request());
  client.SetHandleRedirects(true);
  client.SetConnectTimeout(kPageConnectTimeoutMs);
  client.SetReadTimeout(kPageReadTimeoutMs);
  client.SetCallTimeout(kPageCallTimeoutMs);
  // A compressed page is a fifth of the plain one or less, and reading the page is most of
  // what a press of Create waits for.
  client.SetCompressor(&TIdCompressor::Standard());
  client.OnChooseProxies = [proxies](TIdCustomHTTP*, const TIdURI& address,
                                     const TIdProxyQueryLimits& limits) {
    return proxies.RoutesFor(address, limits);
  };
  // The proxy's credentials come with its address and are handed to the scheme before it asks;
  // a scheme that still asks has been given none, and nobody is there to type them in. The
  // answer is only tried with a handler assigned.
  client.OnProxyAuthorization = [](QObject*, TIdAuthentication*, bool& handled) {
    handled = false;
  };
  // Without this, a challenge answered with credentials would end the call with the challenge
  // page as the body, and that page would be read as the photo page.
  client.SetHTTPOptions(client.HTTPOptions() | hoInProcessAuth);
}
