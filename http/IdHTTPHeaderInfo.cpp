#include "http/IdHTTPHeaderInfo.h"

#include "net/IdGlobal.h"

namespace {

// Records write a line only for a field that holds something: an empty value given to
// WriteHeader would remove a custom line of the same name instead.
void WriteIfSet(TIdHeaderList& lines, const QString& name, const QString& value) {
  if (!value.isEmpty())
    lines.WriteHeader(name, value);
}

bool IsWholeNumber(QStringView text) {
  qsizetype i = !text.isEmpty() && (text[0] == u'+' || text[0] == u'-') ? 1 : 0;
  if (i == text.size())
    return false;
  for (; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9')
      return false;
  }
  return true;
}

// "Expires" may be a number of seconds from now instead of a date; a negative number means
// already expired. A number too large for 32 bits is read as a date, which it is not, so the
// response loads with an unparsable expiry instead of failing.
TDateTime ExpiresFrom(const QString& value) {
  if (IsWholeNumber(value)) {
    if (const auto seconds = TextToInt32(value))
      return *seconds < 0 ? 0 : Now() + *seconds / 86400.0;
  }
  return InternetDateToLocal(value);
}

// The value of an authorization header from the scheme attached to a record. Without one and
// with Basic credentials selected, a Basic scheme is made from them and stays attached.
QString AuthorizationFrom(std::unique_ptr<TIdAuthentication>& scheme, bool basic,
                          const QString& username, const QString& password) {
  if (!scheme) {
    if (!basic)
      return {};
    scheme = std::make_unique<TIdBasicAuthentication>();
    scheme->SetUsername(username);
    scheme->SetPassword(password);
  }
  return scheme->AuthorizationValue();
}

} // namespace

// --- Entity -------------------------------------------------------------------------------------

TIdEntityHeaderInfo::TIdEntityHeaderInfo() {
  headerLines_.SetFoldWidth(1024);
  TIdEntityHeaderInfo::ResetFields();
}

TIdEntityHeaderInfo::~TIdEntityHeaderInfo() = default;

void TIdEntityHeaderInfo::Assign(const TIdEntityHeaderInfo& source) {
  if (&source == this)
    return;
  headerLines_.Assign(source.headerLines_);
  customHeaders_.Assign(source.customHeaders_);
  cacheControl_ = source.cacheControl_;
  connection_ = source.connection_;
  contentDisposition_ = source.contentDisposition_;
  contentEncoding_ = source.contentEncoding_;
  contentLanguage_ = source.contentLanguage_;
  contentType_ = source.contentType_;
  contentVersion_ = source.contentVersion_;
  eTag_ = source.eTag_;
  pragma_ = source.pragma_;
  contentLength_ = source.contentLength_;
  contentRangeStart_ = source.contentRangeStart_;
  contentRangeEnd_ = source.contentRangeEnd_;
  contentRangeInstanceLength_ = source.contentRangeInstanceLength_;
  date_ = source.date_;
  expires_ = source.expires_;
  lastModified_ = source.lastModified_;
}

void TIdEntityHeaderInfo::ResetFields() {
  headerLines_.Clear();
  cacheControl_.clear();
  connection_.clear();
  contentDisposition_.clear();
  contentEncoding_.clear();
  contentLanguage_.clear();
  contentType_.clear();
  contentVersion_.clear();
  eTag_.clear();
  contentLength_ = -1;
  contentRangeStart_ = 0;
  contentRangeEnd_ = 0;
  contentRangeInstanceLength_ = 0;
  date_ = 0;
  expires_ = 0;
  lastModified_ = 0;
}

void TIdEntityHeaderInfo::ComposeHeaderLines() {
  TIdHeaderList& lines = headerLines_;
  lines.Clear();
  WriteIfSet(lines, QStringLiteral("Connection"), connection_);
  WriteIfSet(lines, QStringLiteral("Content-Version"), contentVersion_);
  WriteIfSet(lines, QStringLiteral("Content-Disposition"), contentDisposition_);
  WriteIfSet(lines, QStringLiteral("Content-Encoding"), contentEncoding_);
  WriteIfSet(lines, QStringLiteral("Content-Language"), contentLanguage_);
  WriteIfSet(lines, QStringLiteral("Content-Type"), contentType_);
  if (contentLength_ >= 0)
    lines.WriteHeader(QStringLiteral("Content-Length"), QString::number(contentLength_));
  WriteIfSet(lines, QStringLiteral("Cache-control"), cacheControl_);
  if (date_ > 0)
    lines.WriteHeader(QStringLiteral("Date"), FormatInternetDate(date_));
  WriteIfSet(lines, QStringLiteral("ETag"), eTag_);
  if (expires_ > 0)
    lines.WriteHeader(QStringLiteral("Expires"), FormatInternetDate(expires_));
  WriteIfSet(lines, QStringLiteral("Pragma"), pragma_);
  if (!customHeaders_.IsEmpty())
    lines.SetText(QString(lines.Text() + customHeaders_.Text()));
}

void TIdEntityHeaderInfo::ParseHeaderLines() {
  const TIdHeaderList& lines = headerLines_;
  cacheControl_ = lines.ReadHeader(u"Cache-control");
  connection_ = lines.ReadHeader(u"Connection");
  contentVersion_ = lines.ReadHeader(u"Content-Version");
  contentDisposition_ = lines.ReadHeader(u"Content-Disposition");
  contentEncoding_ = lines.ReadHeader(u"Content-Encoding");
  contentLanguage_ = lines.ReadHeader(u"Content-Language");
  contentType_ = lines.ReadHeader(u"Content-Type");
  // Read as 32 bits: a larger length counts as unknown and the body is read until the close.
  contentLength_ = TextToInt32Def(lines.ReadHeader(u"Content-Length"), -1);

  // "bytes 0-499/1234": the unit, the range, the length of the whole.
  contentRangeStart_ = 0;
  contentRangeEnd_ = 0;
  contentRangeInstanceLength_ = 0;
  if (const qsizetype at = lines.FindHeader(u"Content-Range"); at >= 0) {
    QString rest = lines.HeaderValueOfLine(at);
    FetchField(rest, u" ");
    QString range = FetchField(rest, u"/");
    const QString instanceLength = FetchField(rest, u" ");
    const QString start = FetchField(range, u"-");
    contentRangeStart_ = TextToInt64Def(Trim(start), 0);
    contentRangeEnd_ = TextToInt64Def(Trim(range), 0);
    contentRangeInstanceLength_ = TextToInt64Def(Trim(instanceLength), 0);
  }

  date_ = InternetDateToLocal(lines.ReadHeader(u"Date"));
  lastModified_ = InternetDateToLocal(lines.ReadHeader(u"Last-Modified"));
  expires_ = ExpiresFrom(lines.ReadHeader(u"Expires"));
  eTag_ = lines.ReadHeader(u"ETag");
  pragma_ = lines.ReadHeader(u"Pragma");
}

// --- Request ------------------------------------------------------------------------------------

TIdRequestHeaderInfo::TIdRequestHeaderInfo() {
  // Folded lines are obsolete in requests and servers refuse them (400), so a long line (many
  // cookies) goes out whole.
  HeaderLines().SetFoldLongLines(false);
  TIdRequestHeaderInfo::ResetFields();
}

TIdRequestHeaderInfo::~TIdRequestHeaderInfo() = default;

void TIdRequestHeaderInfo::Assign(const TIdEntityHeaderInfo& source) {
  TIdEntityHeaderInfo::Assign(source);
  const auto* request = dynamic_cast<const TIdRequestHeaderInfo*>(&source);
  if (request == nullptr || request == this)
    return;
  accept_ = request->accept_;
  acceptCharSet_ = request->acceptCharSet_;
  acceptEncoding_ = request->acceptEncoding_;
  acceptLanguage_ = request->acceptLanguage_;
  host_ = request->host_;
  from_ = request->from_;
  password_ = request->password_;
  referer_ = request->referer_;
  userAgent_ = request->userAgent_;
  username_ = request->username_;
  proxyConnection_ = request->proxyConnection_;
  range_ = request->range_;
  basicAuthentication_ = request->basicAuthentication_;
}

void TIdRequestHeaderInfo::ResetFields() {
  accept_ = QStringLiteral("text/html, */*");
  acceptCharSet_.clear();
  userAgent_ = QStringLiteral("Mozilla/3.0 (compatible; Marquelo Library)");
  basicAuthentication_ = false;
  range_.clear();
  TIdEntityHeaderInfo::ResetFields();
}

void TIdRequestHeaderInfo::ComposeHeaderLines() {
  TIdEntityHeaderInfo::ComposeHeaderLines();
  TIdHeaderList& lines = HeaderLines();
  WriteIfSet(lines, QStringLiteral("Proxy-Connection"), proxyConnection_);
  WriteIfSet(lines, QStringLiteral("Host"), host_);
  WriteIfSet(lines, QStringLiteral("Accept"), accept_);
  WriteIfSet(lines, QStringLiteral("Accept-Charset"), acceptCharSet_);
  WriteIfSet(lines, QStringLiteral("Accept-Encoding"), acceptEncoding_);
  WriteIfSet(lines, QStringLiteral("Accept-Language"), acceptLanguage_);
  WriteIfSet(lines, QStringLiteral("From"), from_);
  WriteIfSet(lines, QStringLiteral("Referer"), referer_);
  WriteIfSet(lines, QStringLiteral("User-Agent"), userAgent_);
  if (!range_.isEmpty())
    lines.WriteHeader(QStringLiteral("Range"), QStringLiteral("bytes=") + range_);
  if (LastModified() > 0)
    lines.WriteHeader(QStringLiteral("If-Modified-Since"), FormatInternetDate(LastModified()));
  WriteIfSet(lines, QStringLiteral("Authorization"),
             AuthorizationFrom(authentication_, basicAuthentication_, username_, password_));
}

void TIdRequestHeaderInfo::ParseHeaderLines() {
  TIdEntityHeaderInfo::ParseHeaderLines();
  const TIdHeaderList& lines = HeaderLines();
  accept_ = lines.ReadHeader(u"Accept");
  acceptCharSet_ = lines.ReadHeader(u"Accept-Charset");
  acceptEncoding_ = lines.ReadHeader(u"Accept-Encoding");
  acceptLanguage_ = lines.ReadHeader(u"Accept-Language");
  host_ = lines.ReadHeader(u"Host");
  from_ = lines.ReadHeader(u"From");
  referer_ = lines.ReadHeader(u"Referer");
  userAgent_ = lines.ReadHeader(u"User-Agent");
  // "bytes=0-499" keeps "0-499".
  range_ = lines.ReadHeader(u"Range");
  range_.remove(0, range_.indexOf(u'=') + 1);
}

void TIdRequestHeaderInfo::SetAuthentication(std::unique_ptr<TIdAuthentication> scheme) {
  authentication_ = std::move(scheme);
}

// --- Response -----------------------------------------------------------------------------------

TIdResponseHeaderInfo::TIdResponseHeaderInfo() {
  TIdResponseHeaderInfo::ResetFields();
}

TIdResponseHeaderInfo::~TIdResponseHeaderInfo() = default;

void TIdResponseHeaderInfo::Assign(const TIdEntityHeaderInfo& source) {
  TIdEntityHeaderInfo::Assign(source);
  const auto* response = dynamic_cast<const TIdResponseHeaderInfo*>(&source);
  if (response == nullptr || response == this)
    return;
  acceptRanges_ = response->acceptRanges_;
  location_ = response->location_;
  proxyConnection_ = response->proxyConnection_;
  server_ = response->server_;
  proxyAuthenticate_.Assign(response->proxyAuthenticate_);
  wwwAuthenticate_.Assign(response->wwwAuthenticate_);
}

void TIdResponseHeaderInfo::ResetFields() {
  TIdEntityHeaderInfo::ResetFields();
  SetContentType(QStringLiteral("text/html"));
  acceptRanges_.clear();
  location_.clear();
  server_.clear();
  proxyAuthenticate_.Clear();
  wwwAuthenticate_.Clear();
}

void TIdResponseHeaderInfo::ParseHeaderLines() {
  TIdEntityHeaderInfo::ParseHeaderLines();
  const TIdHeaderList& lines = HeaderLines();
  location_ = lines.ReadHeader(u"Location");
  server_ = lines.ReadHeader(u"Server");
  proxyConnection_ = lines.ReadHeader(u"Proxy-Connection");
  wwwAuthenticate_.Clear();
  lines.CollectHeaderValues(u"WWW-Authenticate", &wwwAuthenticate_);
  proxyAuthenticate_.Clear();
  lines.CollectHeaderValues(u"Proxy-Authenticate", &proxyAuthenticate_);
  acceptRanges_ = lines.ReadHeader(u"Accept-Ranges");
}

void TIdResponseHeaderInfo::ComposeHeaderLines() {
  TIdEntityHeaderInfo::ComposeHeaderLines();
  TIdHeaderList& lines = HeaderLines();
  if (ContentRangeEnd() > 0 || ContentRangeInstanceLength() > 0) {
    const QString range =
        ContentRangeEnd() > 0
            ? QStringLiteral("%1-%2").arg(ContentRangeStart()).arg(ContentRangeEnd())
            : QStringLiteral("*");
    const QString whole = ContentRangeInstanceLength() > 0
                              ? QString::number(ContentRangeInstanceLength())
                              : QStringLiteral("*");
    lines.WriteHeader(QStringLiteral("Content-Range"),
                      QStringLiteral("bytes ") + range + u'/' + whole);
  }
  WriteIfSet(lines, QStringLiteral("Accept-Ranges"), acceptRanges_);
}

// --- Proxy --------------------------------------------------------------------------------------

TIdProxyConnectionInfo::TIdProxyConnectionInfo() = default;

TIdProxyConnectionInfo::~TIdProxyConnectionInfo() = default;

void TIdProxyConnectionInfo::Assign(const TIdProxyConnectionInfo& source) {
  if (&source == this)
    return;
  SetProxyServer(source.proxyServer_);
  SetProxyPort(source.proxyPort_);
  proxyUsername_ = source.proxyUsername_;
  proxyPassword_ = source.proxyPassword_;
  basicAuthentication_ = source.basicAuthentication_;
}

void TIdProxyConnectionInfo::Clear() {
  SetProxyServer(QString());
  SetProxyPort(0);
  proxyUsername_.clear();
  proxyPassword_.clear();
}

void TIdProxyConnectionInfo::ComposeHeaderLines(TIdHeaderList& target) {
  WriteIfSet(
      target, QStringLiteral("Proxy-Authorization"),
      AuthorizationFrom(authentication_, basicAuthentication_, proxyUsername_, proxyPassword_));
}

void TIdProxyConnectionInfo::SetProxyServer(const QString& value) {
  // Credentials answered one proxy; another proxy has to challenge afresh.
  if (!TextIsSame(value, proxyServer_))
    authentication_.reset();
  proxyServer_ = value;
}

void TIdProxyConnectionInfo::SetProxyPort(int value) {
  if (value != proxyPort_)
    authentication_.reset();
  proxyPort_ = value;
}

void TIdProxyConnectionInfo::SetAuthentication(std::unique_ptr<TIdAuthentication> scheme) {
  authentication_ = std::move(scheme);
}
