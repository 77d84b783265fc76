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
  TIdEntityHeaderInfo(const TIdEntityHeaderInfo&) = delete;
  TIdEntityHeaderInfo& operator=(const TIdEntityHeaderInfo&) = delete;

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

  const QString& CacheControl() const { return cacheControl_; }
  void SetCacheControl(const QString& value) { cacheControl_ = value; }
  const QString& Connection() const { return connection_; }
  void SetConnection(const QString& value) { connection_ = value; }
  const QString& ContentDisposition() const { return contentDisposition_; }
  void SetContentDisposition(const QString& value) { contentDisposition_ = value; }
  const QString& ContentEncoding() const { return contentEncoding_; }
  void SetContentEncoding(const QString& value) { contentEncoding_ = value; }
  const QString& ContentLanguage() const { return contentLanguage_; }
  void SetContentLanguage(const QString& value) { contentLanguage_ = value; }
  // -1 means no length.
  int64_t ContentLength() const { return contentLength_; }
  void SetContentLength(int64_t value) { contentLength_ = value; }
  // Whether ContentLength holds a length (0 or more).
  bool ContentLengthKnown() const { return contentLength_ >= 0; }
  int64_t ContentRangeStart() const { return contentRangeStart_; }
  void SetContentRangeStart(int64_t value) { contentRangeStart_ = value; }
  int64_t ContentRangeEnd() const { return contentRangeEnd_; }
  void SetContentRangeEnd(int64_t value) { contentRangeEnd_ = value; }
  int64_t ContentRangeInstanceLength() const { return contentRangeInstanceLength_; }
  void SetContentRangeInstanceLength(int64_t value) { contentRangeInstanceLength_ = value; }
  const QString& ContentType() const { return contentType_; }
  void SetContentType(const QString& value) { contentType_ = value; }
  const QString& ContentVersion() const { return contentVersion_; }
  void SetContentVersion(const QString& value) { contentVersion_ = value; }
  // Lines appended as they stand after the entity lines when composing.
  TIdHeaderList& CustomHeaders() { return customHeaders_; }
  const TIdHeaderList& CustomHeaders() const { return customHeaders_; }
  // Copies the lines of lines; the record keeps its own list.
  void SetCustomHeaders(const TIdHeaderList& lines) { customHeaders_.Assign(lines); }
  TDateTime Date() const { return date_; }
  void SetDate(TDateTime value) { date_ = value; }
  const QString& ETag() const { return eTag_; }
  void SetETag(const QString& value) { eTag_ = value; }
  TDateTime Expires() const { return expires_; }
  void SetExpires(TDateTime value) { expires_ = value; }
  // "Last-Modified" on a response, "If-Modified-Since" on a request.
  TDateTime LastModified() const { return lastModified_; }
  void SetLastModified(TDateTime value) { lastModified_ = value; }
  const QString& Pragma() const { return pragma_; }
  void SetPragma(const QString& value) { pragma_ = value; }
  // The raw lines of the message.
  TIdHeaderList& HeaderLines() { return headerLines_; }
  const TIdHeaderList& HeaderLines() const { return headerLines_; }

private:
  TIdHeaderList headerLines_;
  TIdHeaderList customHeaders_;
  QString cacheControl_;
  QString connection_;
  QString contentDisposition_;
  QString contentEncoding_;
  QString contentLanguage_;
  QString contentType_;
  QString contentVersion_;
  QString eTag_;
  QString pragma_;
  int64_t contentLength_ = -1;
  int64_t contentRangeStart_ = 0;
  int64_t contentRangeEnd_ = 0;
  int64_t contentRangeInstanceLength_ = 0;
  TDateTime date_ = 0;
  TDateTime expires_ = 0;
  TDateTime lastModified_ = 0;
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

  const QString& Accept() const { return accept_; }
  void SetAccept(const QString& value) { accept_ = value; }
  const QString& AcceptCharSet() const { return acceptCharSet_; }
  void SetAcceptCharSet(const QString& value) { acceptCharSet_ = value; }
  const QString& AcceptEncoding() const { return acceptEncoding_; }
  void SetAcceptEncoding(const QString& value) { acceptEncoding_ = value; }
  const QString& AcceptLanguage() const { return acceptLanguage_; }
  void SetAcceptLanguage(const QString& value) { acceptLanguage_ = value; }
  // When true and no Authentication object is attached, composing creates a Basic one from
  // Username and Password and keeps it.
  bool BasicAuthentication() const { return basicAuthentication_; }
  void SetBasicAuthentication(bool value) { basicAuthentication_ = value; }
  const QString& Host() const { return host_; }
  void SetHost(const QString& value) { host_ = value; }
  const QString& From() const { return from_; }
  void SetFrom(const QString& value) { from_ = value; }
  const QString& Password() const { return password_; }
  void SetPassword(const QString& value) { password_ = value; }
  const QString& Referer() const { return referer_; }
  void SetReferer(const QString& value) { referer_ = value; }
  const QString& UserAgent() const { return userAgent_; }
  void SetUserAgent(const QString& value) { userAgent_ = value; }
  const QString& Username() const { return username_; }
  void SetUsername(const QString& value) { username_ = value; }
  const QString& ProxyConnection() const { return proxyConnection_; }
  void SetProxyConnection(const QString& value) { proxyConnection_ = value; }
  // Written as "Range: bytes=" and this value.
  const QString& Range() const { return range_; }
  void SetRange(const QString& value) { range_ = value; }
  // The attached scheme object, owned by the record; null when none.
  TIdAuthentication* Authentication() const { return authentication_.get(); }
  // Attaches scheme (null detaches), freeing the one attached before.
  void SetAuthentication(std::unique_ptr<TIdAuthentication> scheme);

private:
  QString accept_;
  QString acceptCharSet_;
  QString acceptEncoding_;
  QString acceptLanguage_;
  QString host_;
  QString from_;
  QString password_;
  QString referer_;
  QString userAgent_;
  QString username_;
  QString proxyConnection_;
  QString range_;
  bool basicAuthentication_ = false;
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

  const QString& AcceptRanges() const { return acceptRanges_; }
  void SetAcceptRanges(const QString& value) { acceptRanges_ = value; }
  const QString& Location() const { return location_; }
  void SetLocation(const QString& value) { location_ = value; }
  const QString& ProxyConnection() const { return proxyConnection_; }
  void SetProxyConnection(const QString& value) { proxyConnection_ = value; }
  const QString& Server() const { return server_; }
  void SetServer(const QString& value) { server_ = value; }
  // Every "Proxy-Authenticate" value, in header order.
  TIdHeaderList& ProxyAuthenticate() { return proxyAuthenticate_; }
  const TIdHeaderList& ProxyAuthenticate() const { return proxyAuthenticate_; }
  // Every "WWW-Authenticate" value, in header order.
  TIdHeaderList& WWWAuthenticate() { return wwwAuthenticate_; }
  const TIdHeaderList& WWWAuthenticate() const { return wwwAuthenticate_; }

private:
  QString acceptRanges_;
  QString location_;
  QString proxyConnection_;
  QString server_;
  TIdHeaderList proxyAuthenticate_;
  TIdHeaderList wwwAuthenticate_;
};

// The client's proxy settings and the scheme object that answers the proxy.
class TIdProxyConnectionInfo {
public:
  // No server, port 0 (no proxy), no credentials, BasicAuthentication false.
  TIdProxyConnectionInfo();
  ~TIdProxyConnectionInfo();
  TIdProxyConnectionInfo(const TIdProxyConnectionInfo&) = delete;
  TIdProxyConnectionInfo& operator=(const TIdProxyConnectionInfo&) = delete;

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
