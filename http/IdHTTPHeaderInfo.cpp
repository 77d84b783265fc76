#include "http/IdHTTPHeaderInfo.h"

#include "net/IdGlobal.h"

#include <span>

namespace {

// Records write a line only for a field that holds something: an empty value given to
// WriteHeader would remove a custom line of the same name instead.
void WriteIfSet(TIdHeaderList& lines, const QString& name, const QString& value) {
  if (!value.isEmpty()) {
    lines.WriteHeader(name, value);
  }
}

// A header line that carries one text field of a record as it stands: composing writes it when
// the field holds something, parsing reads it back (empty when the line is missing). One table of
// these a record serves both directions, so a name is spelled once.
template <class Record> struct TextLine {
  QStringView name;
  const QString& (Record::*field)() const;
  void (Record::*setField)(const QString&);
};

// Writes the lines in table order: the order the lines go on the wire.
template <class Record>
void WriteTextLines(TIdHeaderList& lines, const Record& record,
                    std::span<const TextLine<Record>> table) {
  for (const TextLine<Record>& line : table) {
    WriteIfSet(lines, line.name.toString(), (record.*line.field)());
  }
}

template <class Record>
void ReadTextLines(const TIdHeaderList& lines, Record& record,
                   std::span<const TextLine<Record>> table) {
  for (const TextLine<Record>& line : table) {
    (record.*line.setField)(lines.ReadHeader(line.name));
  }
}

using Entity = TIdEntityHeaderInfo;
using Request = TIdRequestHeaderInfo;
using Response = TIdResponseHeaderInfo;

// The entity's text lines that go out together, ahead of Content-Length.
constexpr TextLine<Entity> kEntityLines[] = {
    {u"Connection", &Entity::Connection, &Entity::SetConnection},
    {u"Content-Version", &Entity::ContentVersion, &Entity::SetContentVersion},
    {u"Content-Disposition", &Entity::ContentDisposition, &Entity::SetContentDisposition},
    {u"Content-Encoding", &Entity::ContentEncoding, &Entity::SetContentEncoding},
    {u"Content-Language", &Entity::ContentLanguage, &Entity::SetContentLanguage},
    {u"Content-Type", &Entity::ContentType, &Entity::SetContentType},
};

// A request's text lines after Proxy-Connection, which is written but never read back: a server
// has no use for it.
constexpr TextLine<Request> kRequestLines[] = {
    {u"Host", &Request::Host, &Request::SetHost},
    {u"Accept", &Request::Accept, &Request::SetAccept},
    {u"Accept-Charset", &Request::AcceptCharSet, &Request::SetAcceptCharSet},
    {u"Accept-Encoding", &Request::AcceptEncoding, &Request::SetAcceptEncoding},
    {u"Accept-Language", &Request::AcceptLanguage, &Request::SetAcceptLanguage},
    {u"From", &Request::From, &Request::SetFrom},
    {u"Referer", &Request::Referer, &Request::SetReferer},
    {u"User-Agent", &Request::UserAgent, &Request::SetUserAgent},
};

// The text lines a client reads from a response; of these a server writes only Accept-Ranges.
constexpr TextLine<Response> kResponseLines[] = {
    {u"Location", &Response::Location, &Response::SetLocation},
    {u"Server", &Response::Server, &Response::SetServer},
    {u"Proxy-Connection", &Response::ProxyConnection, &Response::SetProxyConnection},
    {u"Accept-Ranges", &Response::AcceptRanges, &Response::SetAcceptRanges},
};

// "Expires" may be a number of seconds from now instead of a date: a sign, then decimal digits
// and nothing else; a negative number means already expired. A number too large for 32 bits is
// read as a date, which it is not, so the response loads with an unparsable expiry instead of
// failing.
TDateTime ExpiresFrom(const QString& value) {
  if (!value.startsWith(u' ')) {
    if (const auto seconds = TextToInt32(value, IntegerSyntax::Decimal)) {
      return *seconds < 0 ? 0 : Now() + SecondsToDays(*seconds);
    }
  }
  return InternetDateToLocal(value);
}

// The value of an authorization header from the scheme attached to a record. Without one and
// with Basic credentials selected, a Basic scheme is made from them and stays attached.
QString AuthorizationFrom(std::unique_ptr<TIdAuthentication>& scheme, bool basic,
                          const QString& username, const QString& password) {
  if (!scheme) {
    if (!basic) {
      return {};
    }
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
}

TIdEntityHeaderInfo::~TIdEntityHeaderInfo() = default;

void TIdEntityHeaderInfo::Assign(const TIdEntityHeaderInfo& source) {
  if (&source == this) {
    return;
  }
  headerLines_.Assign(source.headerLines_);
  customHeaders_.Assign(source.customHeaders_);
  entity_ = source.entity_;
  pragma_ = source.pragma_;
}

void TIdEntityHeaderInfo::ResetFields() {
  headerLines_.Clear();
  entity_ = Fields();
}

void TIdEntityHeaderInfo::ComposeHeaderLines() {
  TIdHeaderList& lines = headerLines_;
  lines.Clear();
  WriteTextLines<Entity>(lines, *this, kEntityLines);
  if (entity_.contentLength >= 0) {
    lines.WriteHeader(QStringLiteral("Content-Length"), QString::number(entity_.contentLength));
  }
  WriteIfSet(lines, QStringLiteral("Cache-control"), entity_.cacheControl);
  if (entity_.date > 0) {
    lines.WriteHeader(QStringLiteral("Date"), FormatInternetDate(entity_.date));
  }
  WriteIfSet(lines, QStringLiteral("ETag"), entity_.eTag);
  if (entity_.expires > 0) {
    lines.WriteHeader(QStringLiteral("Expires"), FormatInternetDate(entity_.expires));
  }
  WriteIfSet(lines, QStringLiteral("Pragma"), pragma_);
  // Each custom line is appended as it stands: taken through the list's text, a line holding a
  // line break would come out as two, and the second would pass for a header of its own.
  for (const QString& line : customHeaders_) {
    lines.Add(line);
  }
}

void TIdEntityHeaderInfo::ParseHeaderLines() {
  const TIdHeaderList& lines = headerLines_;
  entity_.cacheControl = lines.ReadHeader(u"Cache-control");
  ReadTextLines<Entity>(lines, *this, kEntityLines);
  // A signed 64-bit count, as a body may pass 4 GiB; a larger value counts as unknown and the
  // body is read until the close.
  entity_.contentLength =
      TextToInt64Def(lines.ReadHeader(u"Content-Length"), -1, IntegerSyntax::Decimal);

  // "bytes 0-499/1234": the unit, the range, the length of the whole.
  entity_.contentRangeStart = 0;
  entity_.contentRangeEnd = 0;
  entity_.contentRangeInstanceLength = 0;
  if (const qsizetype at = lines.FindHeader(u"Content-Range"); at >= 0) {
    QString rest = lines.HeaderValueOfLine(at);
    FetchField(rest, u" ");
    QString range = FetchField(rest, u"/");
    const QString instanceLength = FetchField(rest, u" ");
    const QString start = FetchField(range, u"-");
    entity_.contentRangeStart = TextToInt64Def(Trim(start), 0, IntegerSyntax::Decimal);
    entity_.contentRangeEnd = TextToInt64Def(Trim(range), 0, IntegerSyntax::Decimal);
    entity_.contentRangeInstanceLength =
        TextToInt64Def(Trim(instanceLength), 0, IntegerSyntax::Decimal);
  }

  entity_.date = InternetDateToLocal(lines.ReadHeader(u"Date"));
  entity_.lastModified = InternetDateToLocal(lines.ReadHeader(u"Last-Modified"));
  entity_.expires = ExpiresFrom(lines.ReadHeader(u"Expires"));
  entity_.eTag = lines.ReadHeader(u"ETag");
  pragma_ = lines.ReadHeader(u"Pragma");
}

// --- Request ------------------------------------------------------------------------------------

TIdRequestHeaderInfo::TIdRequestHeaderInfo() {
  // Folded lines are obsolete in requests and servers refuse them (400), so a long line (many
  // cookies) goes out whole.
  HeaderLines().SetFoldLongLines(false);
}

TIdRequestHeaderInfo::~TIdRequestHeaderInfo() = default;

void TIdRequestHeaderInfo::Assign(const TIdEntityHeaderInfo& source) {
  TIdEntityHeaderInfo::Assign(source);
  if (const auto* request = dynamic_cast<const TIdRequestHeaderInfo*>(&source)) {
    request_ = request->request_;
    lasting_ = request->lasting_;
  }
}

void TIdRequestHeaderInfo::ResetFields() {
  request_ = Fields();
  TIdEntityHeaderInfo::ResetFields();
}

void TIdRequestHeaderInfo::ComposeHeaderLines() {
  TIdEntityHeaderInfo::ComposeHeaderLines();
  TIdHeaderList& lines = HeaderLines();
  WriteIfSet(lines, QStringLiteral("Proxy-Connection"), lasting_.proxyConnection);
  WriteTextLines<Request>(lines, *this, kRequestLines);
  if (!request_.range.isEmpty()) {
    lines.WriteHeader(QStringLiteral("Range"), QStringLiteral("bytes=") + request_.range);
  }
  if (LastModified() > 0) {
    lines.WriteHeader(QStringLiteral("If-Modified-Since"), FormatInternetDate(LastModified()));
  }
  WriteIfSet(lines, QStringLiteral("Authorization"),
             AuthorizationFrom(authentication_, request_.basicAuthentication, lasting_.username,
                               lasting_.password));
}

void TIdRequestHeaderInfo::ParseHeaderLines() {
  TIdEntityHeaderInfo::ParseHeaderLines();
  const TIdHeaderList& lines = HeaderLines();
  ReadTextLines<Request>(lines, *this, kRequestLines);
  // "bytes=0-499" keeps "0-499".
  request_.range = lines.ReadHeader(u"Range");
  request_.range.remove(0, request_.range.indexOf(u'=') + 1);
}

void TIdRequestHeaderInfo::SetAuthentication(std::unique_ptr<TIdAuthentication> scheme) {
  authentication_ = std::move(scheme);
}

// --- Response -----------------------------------------------------------------------------------

TIdResponseHeaderInfo::TIdResponseHeaderInfo() {
  SetContentType(QStringLiteral("text/html"));
}

TIdResponseHeaderInfo::~TIdResponseHeaderInfo() = default;

void TIdResponseHeaderInfo::Assign(const TIdEntityHeaderInfo& source) {
  TIdEntityHeaderInfo::Assign(source);
  if (const auto* response = dynamic_cast<const TIdResponseHeaderInfo*>(&source)) {
    response_ = response->response_;
    proxyConnection_ = response->proxyConnection_;
  }
}

void TIdResponseHeaderInfo::ResetFields() {
  TIdEntityHeaderInfo::ResetFields();
  SetContentType(QStringLiteral("text/html"));
  response_ = Fields();
}

void TIdResponseHeaderInfo::ParseHeaderLines() {
  TIdEntityHeaderInfo::ParseHeaderLines();
  const TIdHeaderList& lines = HeaderLines();
  ReadTextLines<Response>(lines, *this, kResponseLines);
  response_.wwwAuthenticate.Clear();
  lines.CollectHeaderValues(u"WWW-Authenticate", &response_.wwwAuthenticate);
  response_.proxyAuthenticate.Clear();
  lines.CollectHeaderValues(u"Proxy-Authenticate", &response_.proxyAuthenticate);
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
  WriteIfSet(lines, QStringLiteral("Accept-Ranges"), response_.acceptRanges);
}

// --- Proxy --------------------------------------------------------------------------------------

TIdProxyConnectionInfo::TIdProxyConnectionInfo() = default;

TIdProxyConnectionInfo::~TIdProxyConnectionInfo() = default;

void TIdProxyConnectionInfo::Assign(const TIdProxyConnectionInfo& source) {
  if (&source == this) {
    return;
  }
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
  if (!TextIsSame(value, proxyServer_)) {
    authentication_.reset();
  }
  proxyServer_ = value;
}

void TIdProxyConnectionInfo::SetProxyPort(int value) {
  if (value != proxyPort_) {
    authentication_.reset();
  }
  proxyPort_ = value;
}

void TIdProxyConnectionInfo::SetAuthentication(std::unique_ptr<TIdAuthentication> scheme) {
  authentication_ = std::move(scheme);
}
