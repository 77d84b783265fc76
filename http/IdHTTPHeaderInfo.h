#pragma once

// The header records: the well-known header fields of a message as typed values, beside the raw
// lines (HeaderLines) they are composed into before sending and parsed from after receiving.
// Composing writes a fixed set of lines in a fixed order with fixed spellings; parsing reads
// missing or malformed values as empty text, -1 (content length) or 0 (ranges, dates).

#include "http/IdAuthentication.h"
#include "http/IdHeaderList.h"
#include "http/IdInternetDate.h"

#include <QString>
#include <cstdint>
#include <memory>

// Fields every message can carry.
class TIdEntityHeaderInfo {
public:
  // HeaderLines folds at 1024 columns, CustomHeaders has the list defaults; every field
  // starts at its reset value.
  TIdEntityHeaderInfo();
  virtual ~TIdEntityHeaderInfo();
  Q_DISABLE_COPY(TIdEntityHeaderInfo)

  // Copies every field and the lines of HeaderLines and CustomHeaders from source (the fields a
  // descendant adds too when source is of the same kind). List settings stay as they are.
  virtual void Assign(const TIdEntityHeaderInfo& source);
  // Fills the fields from HeaderLines. Raises EIdFailedToRetreiveTimeZoneInfo when a date is
  // present and the local time zone cannot be read; nothing else.
  virtual void ParseHeaderLines();
  // Empties HeaderLines and writes the entity lines in their fixed order, then appends the
  // custom lines as they stand.
  virtual void ComposeHeaderLines();
  // Returns the fields to their defaults and empties HeaderLines; Pragma and CustomHeaders stay.
  virtual void ResetFields();

  const QString& CacheControl() const { return entity_.cacheControl; }
  void SetCacheControl(const QString& value) { entity_.cacheControl = value; }
  const QString& Connection() const { return entity_.connection; }
  void SetConnection(const QString& value) { entity_.connection = value; }
  const QString& ContentDisposition() const { return entity_.contentDisposition; }
  void SetContentDisposition(const QString& value) { entity_.contentDisposition = value; }
  const QString& ContentEncoding() const { return entity_.contentEncoding; }
  void SetContentEncoding(const QString& value) { entity_.contentEncoding = value; }
  const QString& ContentLanguage() const { return entity_.contentLanguage; }
  void SetContentLanguage(const QString& value) { entity_.contentLanguage = value; }
  // -1 means no length.
  int64_t ContentLength() const { return entity_.contentLength; }
  void SetContentLength(int64_t value) { entity_.contentLength = value; }
  // Whether ContentLength holds a length (0 or more).
  bool ContentLengthKnown() const { return entity_.contentLength >= 0; }
  int64_t ContentRangeStart() const { return entity_.contentRangeStart; }
  void SetContentRangeStart(int64_t value) { entity_.contentRangeStart = value; }
  int64_t ContentRangeEnd() const { return entity_.contentRangeEnd; }
  void SetContentRangeEnd(int64_t value) { entity_.contentRangeEnd = value; }
  int64_t ContentRangeInstanceLength() const { return entity_.contentRangeInstanceLength; }
  void SetContentRangeInstanceLength(int64_t value) { entity_.contentRangeInstanceLength = value; }
  const QString& ContentType() const { return entity_.contentType; }
  void SetContentType(const QString& value) { entity_.contentType = value; }
  const QString& ContentVersion() const { return entity_.contentVersion; }
  void SetContentVersion(const QString& value) { entity_.contentVersion = value; }
  // Lines appended as they stand after the entity lines when composing.
  TIdHeaderList& CustomHeaders() { return customHeaders_; }
  const TIdHeaderList& CustomHeaders() const { return customHeaders_; }
  // Copies the lines of lines; the record keeps its own list.
  void SetCustomHeaders(const TIdHeaderList& lines) { customHeaders_.Assign(lines); }
  TDateTime Date() const { return entity_.date; }
  void SetDate(TDateTime value) { entity_.date = value; }
  const QString& ETag() const { return entity_.eTag; }
  void SetETag(const QString& value) { entity_.eTag = value; }
  TDateTime Expires() const { return entity_.expires; }
  void SetExpires(TDateTime value) { entity_.expires = value; }
  // "Last-Modified" on a response, "If-Modified-Since" on a request.
  TDateTime LastModified() const { return entity_.lastModified; }
  void SetLastModified(TDateTime value) { entity_.lastModified = value; }
  const QString& Pragma() const { return pragma_; }
  void SetPragma(const QString& value) { pragma_ = value; }
  // The raw lines of the message.
  TIdHeaderList& HeaderLines() { return headerLines_; }
  const TIdHeaderList& HeaderLines() const { return headerLines_; }

private:
  // What ResetFields returns to these values.
  struct Fields {
    QString cacheControl;
    QString connection;
    QString contentDisposition;
    QString contentEncoding;
    QString contentLanguage;
    QString contentType;
    QString contentVersion;
    QString eTag;
    int64_t contentLength = -1;
    int64_t contentRangeStart = 0;
    int64_t contentRangeEnd = 0;
    int64_t contentRangeInstanceLength = 0;
    TDateTime date = 0;
    TDateTime expires = 0;
    TDateTime lastModified = 0;
  };

  Fields entity_;
  QString pragma_;
  TIdHeaderList headerLines_;
  TIdHeaderList customHeaders_;
};

// The fields of a request. Its HeaderLines never fold: every line goes on the wire whole.
class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
public:
  TIdRequestHeaderInfo();
  ~TIdRequestHeaderInfo() override;

  // Besides the entity fields, copies the request fields and credentials when source is a
  // request; the Authentication object stays as it is.
  void Assign(const TIdEntityHeaderInfo& source) override;
  // Server side: the entity fields, then the request fields.
  void ParseHeaderLines() override;
  // The entity lines, the custom lines, then the request lines; a request line whose name is
  // already present (from the custom lines) replaces that line in place. May create and keep a
  // Basic authentication object (see BasicAuthentication).
  void ComposeHeaderLines() override;
  // Resets Accept, AcceptCharSet, UserAgent, BasicAuthentication and Range, then the entity
  // fields.
  void ResetFields() override;

  const QString& Accept() const { return request_.accept; }
  void SetAccept(const QString& value) { request_.accept = value; }
  const QString& AcceptCharSet() const { return request_.acceptCharSet; }
  void SetAcceptCharSet(const QString& value) { request_.acceptCharSet = value; }
  const QString& AcceptEncoding() const { return lasting_.acceptEncoding; }
  void SetAcceptEncoding(const QString& value) { lasting_.acceptEncoding = value; }
  const QString& AcceptLanguage() const { return lasting_.acceptLanguage; }
  void SetAcceptLanguage(const QString& value) { lasting_.acceptLanguage = value; }
  // When true and no Authentication object is attached, composing creates a Basic one from
  // Username and Password and keeps it.
  bool BasicAuthentication() const { return request_.basicAuthentication; }
  void SetBasicAuthentication(bool value) { request_.basicAuthentication = value; }
  const QString& Host() const { return lasting_.host; }
  void SetHost(const QString& value) { lasting_.host = value; }
  const QString& From() const { return lasting_.from; }
  void SetFrom(const QString& value) { lasting_.from = value; }
  const QString& Password() const { return lasting_.password; }
  void SetPassword(const QString& value) { lasting_.password = value; }
  const QString& Referer() const { return lasting_.referer; }
  void SetReferer(const QString& value) { lasting_.referer = value; }
  const QString& UserAgent() const { return request_.userAgent; }
  void SetUserAgent(const QString& value) { request_.userAgent = value; }
  const QString& Username() const { return lasting_.username; }
  void SetUsername(const QString& value) { lasting_.username = value; }
  const QString& ProxyConnection() const { return lasting_.proxyConnection; }
  void SetProxyConnection(const QString& value) { lasting_.proxyConnection = value; }
  // Written as "Range: bytes=" and this value.
  const QString& Range() const { return request_.range; }
  void SetRange(const QString& value) { request_.range = value; }
  // The attached scheme object, owned by the record; null when none.
  TIdAuthentication* Authentication() const { return authentication_.get(); }
  // Attaches scheme (null detaches), freeing the one attached before.
  void SetAuthentication(std::unique_ptr<TIdAuthentication> scheme);

private:
  // What ResetFields returns to these values.
  struct Fields {
    QString accept = QStringLiteral("text/html, */*");
    QString acceptCharSet;
    QString userAgent = QStringLiteral("Mozilla/3.0 (compatible; Marquelo Library)");
    QString range;
    bool basicAuthentication = false;
  };
  // What stays from request to request until its owner changes it.
  struct LastingFields {
    QString acceptEncoding;
    QString acceptLanguage;
    QString host;
    QString from;
    QString referer;
    QString username;
    QString password;
    QString proxyConnection;
  };

  Fields request_;
  LastingFields lasting_;
  std::unique_ptr<TIdAuthentication> authentication_;
};

// The fields of a response. ContentType defaults to "text/html".
class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
public:
  TIdResponseHeaderInfo();
  ~TIdResponseHeaderInfo() override;

  // Besides the entity fields, copies the response fields and lists when source is a response.
  void Assign(const TIdEntityHeaderInfo& source) override;
  // The entity fields, then Location, Server, ProxyConnection, AcceptRanges and every
  // "WWW-Authenticate" and "Proxy-Authenticate" value. Raises as the entity version does.
  void ParseHeaderLines() override;
  // Server side: the entity lines, then "Content-Range" and "Accept-Ranges".
  void ComposeHeaderLines() override;
  // The entity reset, then ContentType "text/html" and the response fields emptied;
  // ProxyConnection stays.
  void ResetFields() override;

  const QString& AcceptRanges() const { return response_.acceptRanges; }
  void SetAcceptRanges(const QString& value) { response_.acceptRanges = value; }
  const QString& Location() const { return response_.location; }
  void SetLocation(const QString& value) { response_.location = value; }
  const QString& ProxyConnection() const { return proxyConnection_; }
  void SetProxyConnection(const QString& value) { proxyConnection_ = value; }
  const QString& Server() const { return response_.server; }
  void SetServer(const QString& value) { response_.server = value; }
  // Every "Proxy-Authenticate" value, in header order.
  TIdHeaderList& ProxyAuthenticate() { return response_.proxyAuthenticate; }
  const TIdHeaderList& ProxyAuthenticate() const { return response_.proxyAuthenticate; }
  // Every "WWW-Authenticate" value, in header order.
  TIdHeaderList& WWWAuthenticate() { return response_.wwwAuthenticate; }
  const TIdHeaderList& WWWAuthenticate() const { return response_.wwwAuthenticate; }

private:
  // What ResetFields returns to these values.
  struct Fields {
    QString acceptRanges;
    QString location;
    QString server;
    TIdHeaderList proxyAuthenticate;
    TIdHeaderList wwwAuthenticate;
  };

  Fields response_;
  QString proxyConnection_;
};

// The client's proxy settings and the scheme object that answers the proxy.
class TIdProxyConnectionInfo {
public:
  // No server, port 0 (no proxy), no credentials, BasicAuthentication false.
  TIdProxyConnectionInfo();
  ~TIdProxyConnectionInfo();
  Q_DISABLE_COPY(TIdProxyConnectionInfo)

  // Copies the settings of source through the setters; the Authentication object is not copied.
  void Assign(const TIdProxyConnectionInfo& source);
  // Empties server, user name and password and sets the port to 0.
  void Clear();
  // Writes "Proxy-Authorization" into target: the attached object's value, or, with
  // BasicAuthentication and none attached, that of a Basic object made from ProxyUsername and
  // ProxyPassword and kept. Writes nothing when the value is empty.
  void ComposeHeaderLines(TIdHeaderList& target);

  const QString& ProxyServer() const { return proxyServer_; }
  // A server that differs other than in letter case frees the Authentication object.
  void SetProxyServer(const QString& value);
  int ProxyPort() const { return proxyPort_; }
  // A different port frees the Authentication object.
  void SetProxyPort(int value);
  const QString& ProxyUsername() const { return proxyUsername_; }
  void SetProxyUsername(const QString& value) { proxyUsername_ = value; }
  const QString& ProxyPassword() const { return proxyPassword_; }
  void SetProxyPassword(const QString& value) { proxyPassword_ = value; }
  bool BasicAuthentication() const { return basicAuthentication_; }
  void SetBasicAuthentication(bool value) { basicAuthentication_ = value; }
  // The attached scheme object, owned by the record; null when none.
  TIdAuthentication* Authentication() const { return authentication_.get(); }
  // Attaches scheme (null detaches), freeing the one attached before.
  void SetAuthentication(std::unique_ptr<TIdAuthentication> scheme);

private:
  QString proxyServer_;
  QString proxyUsername_;
  QString proxyPassword_;
  int proxyPort_ = 0;
  bool basicAuthentication_ = false;
  std::unique_ptr<TIdAuthentication> authentication_;
};
