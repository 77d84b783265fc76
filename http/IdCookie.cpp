#include "http/IdCookie.h"

#include "net/IdGlobal.h"

#include <algorithm>

namespace {

QString AsciiUpper(QStringView text) {
  QString result = text.toString();
  for (QChar& ch : result) {
    if (ch >= u'a' && ch <= u'z') {
      ch = QChar(ch.unicode() - (u'a' - u'A'));
    }
  }
  return result;
}

// The value of the first "NAME=value" piece whose name equals name without regard to case;
// empty when there is none. Bare flags never match.
QString AttributeValue(const QStringList& attributes, QStringView name) {
  for (const QString& piece : attributes) {
    const qsizetype eq = piece.indexOf(u'=');
    if (eq >= 0 && QStringView(piece).left(eq).compare(name, Qt::CaseInsensitive) == 0) {
      return piece.mid(eq + 1);
    }
  }
  return {};
}

bool HasFlag(const QStringList& attributes, QStringView flag) {
  return std::any_of(attributes.begin(), attributes.end(),
                     [flag](const QString& piece) { return piece == flag; });
}

// Upper-cases the attribute names (ASCII letters only); values keep their case. A repeated
// attribute counts with its first value because every lookup stops at the first match.
QStringList RewriteAttributes(QStringList pieces) {
  for (QString& piece : pieces) {
    const qsizetype eq = piece.indexOf(u'=');
    piece = eq < 0 ? AsciiUpper(piece) : AsciiUpper(QStringView(piece).left(eq)) + piece.mid(eq);
  }
  return pieces;
}

void AppendPiece(QString& text, QStringView piece) {
  text += u"; ";
  text += piece;
}

void AppendAttribute(QString& text, QStringView name, QStringView value) {
  AppendPiece(text, name);
  text += u'=';
  text += value;
}

} // namespace

// --- TIdNetscapeCookie ------------------------------------------------------------------------

TIdNetscapeCookie::~TIdNetscapeCookie() = default;

void TIdNetscapeCookie::ParseCookieText(const QString& text) {
  if (text == sourceText_) {
    return;
  }
  sourceText_ = text;

  QStringList pieces = Trim(text).split(u';');
  for (QString& piece : pieces) {
    piece = Trim(piece);
  }

  const QString pair = pieces.takeFirst();
  const qsizetype eq = pair.indexOf(u'=');
  cookieName_ = eq < 0 ? QString() : pair.left(eq);
  cookieValue_ = eq < 0 ? QString() : pair.mid(eq + 1);

  LoadAttributes(RewriteAttributes(std::move(pieces)));
}

void TIdNetscapeCookie::LoadAttributes(const QStringList& attributes) {
  cookiePath_ = AttributeValue(attributes, u"PATH");
  if (cookiePath_.startsWith(u'"')) {
    cookiePath_.remove(0, 1);
  }
  if (cookiePath_.endsWith(u'"')) {
    cookiePath_.chop(1);
  }
  // Checked after the quotes go: path="" is as empty as path=.
  if (cookiePath_.isEmpty()) {
    cookiePath_ = QStringLiteral("/");
  }
  SetExpiresText(AttributeValue(attributes, u"EXPIRES"));
  cookieDomain_ = AttributeValue(attributes, u"DOMAIN");
  secureOnly_ = HasFlag(attributes, u"SECURE");
}

void TIdNetscapeCookie::SetExpiresText(const QString& text) {
  StoreExpiresText(text);
}

void TIdNetscapeCookie::StoreExpiresText(const QString& text) {
  // Read once here rather than at every sweep: a request sweeps every stored cookie. Kept in
  // UTC so that a change of the local offset after storing cannot shift it.
  expiresUtc_ = text.isEmpty() ? 0 : InternetDateToLocal(text) - LocalZoneOffset();
  expiresText_ = text;
}

QString TIdNetscapeCookie::CookieTextForm() const {
  QString text = NameValuePair();
  if (!cookiePath_.isEmpty()) {
    AppendAttribute(text, u"path", cookiePath_);
  }
  if (cookieStyle_ == NetscapeStyle && !expiresText_.isEmpty()) {
    AppendAttribute(text, u"expires", expiresText_);
  }
  if (!cookieDomain_.isEmpty()) {
    AppendAttribute(text, u"domain", cookieDomain_);
  }
  if (secureOnly_) {
    AppendPiece(text, u"secure");
  }
  return text;
}

void TIdNetscapeCookie::Assign(const TIdNetscapeCookie& source) {
  if (&source == this) {
    return;
  }
  sourceText_ = source.sourceText_;
  cookieDomain_ = source.cookieDomain_;
  expiresText_ = source.expiresText_;
  expiresUtc_ = source.expiresUtc_;
  cookieName_ = source.cookieName_;
  cookieValue_ = source.cookieValue_;
  cookiePath_ = source.cookiePath_;
  secureOnly_ = source.secureOnly_;
  cookieStyle_ = source.cookieStyle_;
}

// --- TIdCookieRFC2109 -------------------------------------------------------------------------

void TIdCookieRFC2109::LoadAttributes(const QStringList& attributes) {
  TIdNetscapeCookie::LoadAttributes(attributes);
  // The server's max-age counts, not what the expiry date gave above.
  maxAgeSeconds_ =
      TextToInt32Def(Trim(AttributeValue(attributes, u"MAX-AGE")), -1, IntegerSyntax::Decimal);
  versionText_ = AttributeValue(attributes, u"VERSION");
  commentText_ = AttributeValue(attributes, u"COMMENT");
  if (!ExpiresText().isEmpty()) {
    return;
  }
  SetCookieStyle(NetscapeStyle);
  if (maxAgeSeconds_ >= 0) {
    // Written straight into the text: deriving MaxAgeSeconds back from a date cut to the whole
    // second would report one second less than the server gave.
    StoreExpiresText(FormatInternetDate(UtcNow() + SecondsToDays(double(maxAgeSeconds_))));
  }
}

void TIdCookieRFC2109::SetExpiresText(const QString& text) {
  TIdNetscapeCookie::SetExpiresText(text);
  if (!text.isEmpty()) {
    maxAgeSeconds_ = DaysToSeconds(ExpiresUtc() - UtcNow());
  }
}

QString TIdCookieRFC2109::CookieTextForm() const {
  QString text = TIdNetscapeCookie::CookieTextForm();
  if (maxAgeSeconds_ >= 0 && ExpiresText().isEmpty()) {
    AppendAttribute(text, u"max-age", QString::number(maxAgeSeconds_));
  }
  if (!commentText_.isEmpty()) {
    AppendAttribute(text, u"comment", commentText_);
  }
  if (!versionText_.isEmpty()) {
    AppendAttribute(text, u"version", versionText_);
  }
  return text;
}

void TIdCookieRFC2109::Assign(const TIdNetscapeCookie& source) {
  if (&source == this) {
    return;
  }
  TIdNetscapeCookie::Assign(source);
  if (const auto* cookie = dynamic_cast<const TIdCookieRFC2109*>(&source)) {
    maxAgeSeconds_ = cookie->maxAgeSeconds_;
    versionText_ = cookie->versionText_;
    commentText_ = cookie->commentText_;
  } else {
    maxAgeSeconds_ = -1;
    versionText_.clear();
    commentText_.clear();
  }
}

// --- TIdCookieRFC2965 -------------------------------------------------------------------------

void TIdCookieRFC2965::LoadAttributes(const QStringList& attributes) {
  TIdCookieRFC2109::LoadAttributes(attributes);
  commentURL_ = AttributeValue(attributes, u"CommentURL");
  discardFlag_ = HasFlag(attributes, u"DISCARD");

  portNumbers_.clear();
  const QString ports = AttributeValue(attributes, u"PORT");
  const bool quoted = ports.size() >= 2 && ports.startsWith(u'"') && ports.endsWith(u'"');
  if (!ports.isEmpty() && !quoted) {
    return;
  }
  if (quoted) {
    // One bad item must not cost the whole response its cookies: it is skipped.
    for (QStringView item : QStringView(ports).mid(1, ports.size() - 2).split(u',')) {
      if (const auto port = TextToInt32(Trim(item), IntegerSyntax::Decimal)) {
        portNumbers_.push_back(*port);
      }
    }
  }
  if (portNumbers_.empty()) {
    portNumbers_.push_back(80);
  }
}

void TIdCookieRFC2965::Assign(const TIdNetscapeCookie& source) {
  if (&source == this) {
    return;
  }
  TIdCookieRFC2109::Assign(source);
  if (const auto* cookie = dynamic_cast<const TIdCookieRFC2965*>(&source)) {
    commentURL_ = cookie->commentURL_;
    discardFlag_ = cookie->discardFlag_;
    portNumbers_ = cookie->portNumbers_;
  } else {
    ResetOwnFields();
  }
}

void TIdCookieRFC2965::ResetOwnFields() {
  commentURL_.clear();
  discardFlag_ = false;
  portNumbers_.assign(1, 80);
}

// --- TIdCookies -------------------------------------------------------------------------------

TIdCookies::TIdCookies() : lock_(QReadWriteLock::Recursive) {}

TIdCookies::~TIdCookies() = default;

TIdCookieRFC2109* TIdCookies::StoreCookie(std::unique_ptr<TIdCookieRFC2109> cookie) {
  const TIdCookieListLock guard(*this, WriteAccess);
  qsizetype domain = domains_.IndexOf(cookie->CookieDomain());
  if (domain < 0) {
    domain = domains_.Add(cookie->CookieDomain(), {});
  }
  TIdDomainCookies& names = domains_.Object(domain);

  if (const qsizetype known = names.IndexOf(cookie->CookieName()); known >= 0) {
    TIdCookieRFC2109* stored = names.Object(known);
    stored->Assign(*cookie);
    return stored;
  }
  // Room first, so that a failure leaves index and items agreeing.
  items_.reserve(items_.size() + 1);
  names.Add(cookie->CookieName(), cookie.get());
  items_.push_back(std::move(cookie));
  TIdCookieRFC2109* stored = items_.back().get();
  // The new cookie is the newest of both, so it is never the one pushed out.
  if (names.Count() > kCookiesPerDomainLimit) {
    DropCookie(names, 0);
  }
  if (qsizetype(items_.size()) > kCookieStoreLimit) {
    const TIdCookieRFC2109* oldest = items_.front().get();
    TIdDomainCookies& its = domains_.Object(domains_.IndexOf(oldest->CookieDomain()));
    DropCookie(its, its.IndexOf(oldest->CookieName()));
  }
  return stored;
}

void TIdCookies::DropCookie(TIdDomainCookies& names, qsizetype index) {
  TIdCookieRFC2109* cookie = names.Object(index);
  names.Delete(index);
  EraseItem(cookie);
}

void TIdCookies::RemoveExpiredCookies(TDateTime utcNow) {
  const TIdCookieListLock guard(*this, WriteAccess);
  for (qsizetype domain = 0; domain < domains_.Count(); ++domain) {
    TIdDomainCookies& names = domains_.Object(domain);
    for (qsizetype i = names.Count() - 1; i >= 0; --i) {
      if (names.Object(i)->IsExpiredAt(utcNow)) {
        DropCookie(names, i);
      }
    }
  }
}

void TIdCookies::EraseItem(TIdCookieRFC2109* cookie) {
  const auto owned = std::find_if(items_.begin(), items_.end(),
                                  [cookie](const auto& item) { return item.get() == cookie; });
  if (owned != items_.end()) {
    items_.erase(owned);
  }
}

const TIdCookieDomains& TIdCookies::LockCookieList(TIdCookieAccess mode) const {
  const std::thread::id self = std::this_thread::get_id();
  if (mode == ReadAccess && writer_.load(std::memory_order_relaxed) != self) {
    lock_.lockForRead();
    return domains_;
  }
  lock_.lockForWrite();
  if (writeDepth_++ == 0) {
    writer_.store(self, std::memory_order_relaxed);
  }
  return domains_;
}

void TIdCookies::UnlockCookieList(TIdCookieAccess) const {
  // A writer's every hold is a write (its reads nested as writes), so the mode only tells
  // callers what they release.
  if (writer_.load(std::memory_order_relaxed) == std::this_thread::get_id() && --writeDepth_ == 0) {
    writer_.store(std::thread::id(), std::memory_order_relaxed);
  }
  lock_.unlock();
}

qsizetype TIdCookies::Count() const {
  const TIdCookieListLock guard(*this, ReadAccess);
  return qsizetype(items_.size());
}

TIdCookieRFC2109* TIdCookies::Items(qsizetype index) const {
  const TIdCookieListLock guard(*this, ReadAccess);
  return items_[size_t(index)].get();
}
