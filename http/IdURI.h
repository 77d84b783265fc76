#pragma once

// Addresses split into their parts and put together again, and relative paths resolved
// against a current one. The text is cut as it stands: nothing is percent-encoded or decoded,
// so spaces, "%", "+" and non-ASCII letters reach the request target unchanged.

#include "net/IdException.h"
#include "net/IdGlobal.h"
#include "net/IdStack.h"

#include <QFlags>
#include <QString>
#include <QStringView>

// Rebuilding an address without a scheme or without a host.
MARQUELO_DECLARE_EXCEPTION(EIdURIException, EIdException)

// What ComposeAddress adds beyond scheme, host, port, path and query.
enum TIdURIOption : uint8_t {
  IncludeCredentials = 0x1, // "user:password@" before the host, when there is a user
  IncludeFragment = 0x2,    // "#fragment" at the end, when there is one
};
Q_DECLARE_FLAGS(TIdURIOptions, TIdURIOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TIdURIOptions)

// Returns the text with every "\" turned into "/". Never fails.
QString SlashBackslashes(QStringView text);

// Resolves path against base, both "/"-separated path texts. An absolute path (leading "/")
// comes back unchanged; otherwise the two are joined, runs of "/" collapse to one and each
// ".." that follows a "/" removes the segment before it. "." segments are kept as they are,
// and a ".." at the start of a relative result stays as text. A trailing "/" survives only
// when path is empty or ends with one. Never fails.
QString MergePath(QStringView base, QStringView path);

// One address and its parts. A plain value: copyable, no ownership, no blocking. Parsing
// never fails; only rebuilding a full address can raise.
class TIdURI {
public:
  // Parses address at once when it is not empty; otherwise every part is empty and the IP
  // version is Id_IPv4.
  explicit TIdURI(QStringView address = {});

  // Replaces every part with those of address (backslashes read as slashes). A text without
  // "://" gives a relative address: no scheme, host, port or credentials. Never fails.
  void SetAddressText(QStringView address);
  // The full address without credentials and fragment: ComposeAddress({}). Raises
  // EIdURIException like ComposeAddress.
  QString AddressText() const;

  // scheme "://" [user [":" password] "@"] host [":" port] path-and-query ["#" fragment].
  // The port is left out when it is the scheme's default ("80" for http, "443" for https,
  // "21" for ftp; scheme in any case, port as exact text). An Id_IPv6 host is written in
  // square brackets, so that parsing the result gives the same parts. Raises EIdURIException
  // "Protocol field is empty" without a scheme, "Host field is empty" without a host.
  QString ComposeAddress(TIdURIOptions options) const;

  // Directory + FileName, then "?" + Query when Query is not empty: the target of a direct
  // request line, exactly as the parts stand.
  QString PathAndQuery() const;

  // The parts. Assigning one leaves every other part alone.
  const QString& Scheme() const { return scheme_; }
  void SetScheme(const QString& value) { scheme_ = value; }
  const QString& UserPart() const { return user_; }
  void SetUserPart(const QString& value) { user_ = value; }
  const QString& PasswordPart() const { return password_; }
  void SetPasswordPart(const QString& value) { password_ = value; }
  // Host name or address; an IPv6 address without its brackets.
  const QString& HostPart() const { return host_; }
  void SetHostPart(const QString& value) { host_ = value; }
  // The port as written; empty when none was written.
  const QString& PortPart() const { return port_; }
  void SetPortPart(const QString& value) { port_ = value; }
  // From the first "/" after the host up to and including the last "/"; "/" for an absolute
  // address without a path, empty for a relative one without a "/".
  const QString& Directory() const { return directory_; }
  void SetDirectory(const QString& value) { directory_ = value; }
  // The last segment, without its fragment.
  const QString& FileName() const { return fileName_; }
  void SetFileName(const QString& value) { fileName_ = value; }
  // Everything after the first "?" (or, without one, after the first "="), any "#" included.
  // The "=" rule is on purpose, odd as it reads: addresses written without the "?" (a bare
  // "page=2" after a path) still carry their parameters to the server instead of losing them in
  // the path. The price is that an "=" anywhere after the scheme, even in the path or in a
  // password, starts the query there.
  const QString& Query() const { return query_; }
  void SetQuery(const QString& value) { query_ = value; }
  // The text after the first "#" of the last segment, when no query took it.
  const QString& Fragment() const { return fragment_; }
  void SetFragment(const QString& value) { fragment_ = value; }
  // Id_IPv6 when the host was written in square brackets.
  TIdIPVersion IPVersion() const { return ipVersion_; }
  void SetIPVersion(TIdIPVersion value) { ipVersion_ = value; }

private:
  // Each takes its parts off the work text and returns the last segment that remains.
  QStringView SplitRelative(QStringView work);
  QStringView SplitAbsolute(QStringView scheme, QStringView work);
  void SplitAuthority(QStringView authority);
  void SplitLastSegment(QStringView segment);
  void AppendPathAndQuery(QString& target) const;

  QString scheme_;
  QString user_;
  QString password_;
  QString host_;
  QString port_;
  QString directory_;
  QString fileName_;
  QString query_;
  QString fragment_;
  TIdIPVersion ipVersion_ = Id_IPv4;
};
