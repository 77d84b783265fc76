#include "http/IdURI.h"

#include "http/IdResourceStringsProtocols.h"

namespace {

// Takes the query off work: everything after the first "?", or, when there is none, after
// the first "=" (see Query in the header for why). Returns what stands before it.
QStringView CutQuery(QStringView work, QString& query) {
  qsizetype at = work.indexOf(u'?');
  if (at < 0)
    at = work.indexOf(u'=');
  if (at < 0)
    return work;
  query = work.mid(at + 1).toString();
  return work.left(at);
}

bool IsDefaultPort(QStringView scheme, QStringView port) {
  return (TextIsSame(scheme, u"HTTP") && port == u"80") ||
         (TextIsSame(scheme, u"HTTPS") && port == u"443") ||
         (TextIsSame(scheme, u"FTP") && port == u"21");
}

} // namespace

QString SlashBackslashes(QStringView text) {
  // Neither half of a surrogate pair can be U+005C, so replacing code unit by code unit
  // leaves every pair intact.
  QString result = text.toString();
  result.replace(u'\\', u'/');
  return result;
}

QString MergePath(QStringView base, QStringView path) {
  if (path.startsWith(u'/'))
    return path.toString();
  const bool keepTrailingSlash = path.isEmpty() || path.endsWith(u'/');

  QString result;
  result.reserve(base.size() + 1 + path.size());
  result += base;
  if (!base.isEmpty() && !base.endsWith(u'/'))
    result += u'/';
  result += path;

  // The joined text is compacted in place: each character read writes at most one, so the
  // write position never passes the read position.
  QChar* text = result.data();
  const qsizetype size = result.size();
  qsizetype kept = 0;
  const auto keptEndsWithSlash = [&] {
    return kept > 0 && text[kept - 1] == u'/';
  };
  for (qsizetype i = 0; i < size; ++i) {
    const QChar c = text[i];
    if (c == u'/' && keptEndsWithSlash())
      continue;
    if (c == u'.' && keptEndsWithSlash() && i + 1 < size && text[i + 1] == u'.') {
      // Climb one segment: drop the "/" that led here, then the segment before it.
      --kept;
      while (kept > 0 && text[kept - 1] != u'/')
        --kept;
      ++i;
      continue;
    }
    text[kept++] = c;
  }
  if (kept > 1 && text[kept - 1] == u'/' && !keepTrailingSlash)
    --kept;
  result.truncate(kept);
  return result;
}

TIdURI::TIdURI(QStringView address) {
  if (!address.isEmpty())
    SetAddressText(address);
}

void TIdURI::SetAddressText(QStringView address) {
  // Copy first: address may view one of the parts about to be emptied.
  const QString text = SlashBackslashes(address);
  *this = TIdURI();

  const QStringView work(text);
  const qsizetype schemeEnd = work.indexOf(u"://");
  SplitLastSegment(schemeEnd < 0 ? SplitRelative(work)
                                 : SplitAbsolute(work.left(schemeEnd), work.mid(schemeEnd + 3)));
}

QStringView TIdURI::SplitRelative(QStringView work) {
  work = CutQuery(work, query_);
  const qsizetype slash = work.lastIndexOf(u'/');
  if (slash < 0)
    return work;
  directory_ = work.left(slash + 1).toString();
  return work.mid(slash + 1);
}

QStringView TIdURI::SplitAbsolute(QStringView scheme, QStringView work) {
  scheme_ = scheme.toString();
  work = CutQuery(work, query_);
  const qsizetype authorityEnd = work.indexOf(u'/');
  if (authorityEnd < 0) {
    SplitAuthority(work);
    work = {};
  } else {
    SplitAuthority(work.left(authorityEnd));
    work = work.mid(authorityEnd + 1);
  }
  const qsizetype slash = work.lastIndexOf(u'/');
  if (slash < 0) {
    directory_ = QStringLiteral("/");
    return work;
  }
  directory_.reserve(slash + 2);
  directory_ += u'/';
  directory_ += work.left(slash + 1);
  return work.mid(slash + 1);
}

void TIdURI::SplitAuthority(QStringView authority) {
  const qsizetype at = authority.indexOf(u'@');
  if (at >= 0) {
    const QStringView credentials = authority.left(at);
    authority = authority.mid(at + 1);
    const qsizetype colon = credentials.indexOf(u':');
    user_ = (colon < 0 ? credentials : credentials.left(colon)).toString();
    if (colon >= 0 && !user_.isEmpty())
      password_ = credentials.mid(colon + 1).toString();
  }

  const qsizetype open = authority.indexOf(u'[');
  const qsizetype close = authority.indexOf(u']');
  qsizetype portColon;
  if (open >= 0 && close > open) {
    host_ = authority.mid(open + 1, close - open - 1).toString();
    portColon = authority.indexOf(u':', close);
    ipVersion_ = Id_IPv6;
  } else {
    portColon = authority.indexOf(u':');
    host_ = (portColon < 0 ? authority : authority.left(portColon)).toString();
  }
  if (portColon >= 0)
    port_ = authority.mid(portColon + 1).toString();
}

void TIdURI::SplitLastSegment(QStringView segment) {
  const qsizetype hash = segment.indexOf(u'#');
  if (hash < 0) {
    fileName_ = segment.toString();
    return;
  }
  fileName_ = segment.left(hash).toString();
  fragment_ = segment.mid(hash + 1).toString();
}

QString TIdURI::AddressText() const {
  return ComposeAddress({});
}

QString TIdURI::ComposeAddress(TIdURIOptions options) const {
  if (scheme_.isEmpty())
    throw EIdURIException(RSURIProtocolFieldEmpty());
  if (host_.isEmpty())
    throw EIdURIException(RSURIHostFieldEmpty());

  // Each piece is appended to one reserved buffer: rebuilding runs for every request.
  QString result;
  result.reserve(scheme_.size() + user_.size() + password_.size() + host_.size() + port_.size() +
                 directory_.size() + fileName_.size() + query_.size() + fragment_.size() + 10);
  result += scheme_;
  result += u"://";
  if (options.testFlag(IncludeCredentials) && !user_.isEmpty()) {
    result += user_;
    if (!password_.isEmpty()) {
      result += u':';
      result += password_;
    }
    result += u'@';
  }
  if (ipVersion_ == Id_IPv6) {
    result += u'[';
    result += host_;
    result += u']';
  } else {
    result += host_;
  }
  if (!port_.isEmpty() && !IsDefaultPort(scheme_, port_)) {
    result += u':';
    result += port_;
  }
  AppendPathAndQuery(result);
  if (options.testFlag(IncludeFragment) && !fragment_.isEmpty()) {
    result += u'#';
    result += fragment_;
  }
  return result;
}

QString TIdURI::PathAndQuery() const {
  QString result;
  result.reserve(directory_.size() + fileName_.size() + 1 + query_.size());
  AppendPathAndQuery(result);
  return result;
}

void TIdURI::AppendPathAndQuery(QString& target) const {
  target += directory_;
  target += fileName_;
  if (!query_.isEmpty()) {
    target += u'?';
    target += query_;
  }
}
