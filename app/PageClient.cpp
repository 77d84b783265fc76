#include "app/PageClient.h"

#include "http/IdHTTP.h"

void ConfigurePageClient(TIdHTTP& client) {
  TIdHTTPRequest& request = client.Request();
  request.SetAccept(QStringLiteral("*/*"));
  request.SetUserAgent(QStringLiteral("Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)"));
  request.SetContentType(QStringLiteral("application/x-www-form-urlencoded"));
  request.SetPragma(QStringLiteral("no-cache"));
  request.SetCacheControl(QStringLiteral("no-cache"));
  client.SetHandleRedirects(true);
  client.SetConnectTimeout(PageConnectTimeoutMs);
  client.SetReadTimeout(PageReadTimeoutMs);
}
