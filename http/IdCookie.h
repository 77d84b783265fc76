#pragma once

// Cookie records as servers set them, and the store that keeps them for the run.
//
// A cookie is keyed by its domain and its name, both without regard to case; its path plays
// no part in the key. The store keeps an index of domains in the order they were first seen,
// and under each domain the cookies in the order they were first stored. A cookie that comes
// again under the same key takes over the stored one's place, so the order of the "Cookie"
// header stays stable across replacements.

#include "http/IdInternetDate.h"

#include <QReadWriteLock>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

// Which rules a cookie's attributes were read by; also decides how CookieTextForm writes the
// expiry (only a NetscapeStyle cookie writes "expires=").
enum TIdCookieStyle : uint8_t { NetscapeStyle = 0, RFC2109Style = 1, RFC2965Style = 2 };

// A cookie as a client keeps it: its name and value and the attributes the server gave.
// Base of the family; holds the fields every kind of cookie has. Not copyable: one cookie
// takes another's contents through Assign.
class TIdNetscapeCookie {
public:
  TIdNetscapeCookie() = default;
  virtual ~TIdNetscapeCookie();
  Q_DISABLE_COPY(TIdNetscapeCookie)

  // Reads a "Set-cookie" style text: "name=value" and then ";"-separated attributes, names in
  // any case, a repeated attribute counting with its first value. A text equal to the one
  // parsed last changes nothing. Raises nothing of its own; what the date helpers raise when
  // the system's time zone cannot be read passes through.
  void ParseCookieText(const QString& text);

  // Fills the attribute fields from pieces rewritten by ParseCookieText: "NAME=value" with the
  // name in ASCII upper case, or a bare "FLAG". Each kind reads its own attributes after those
  // of its base.
  virtual void LoadAttributes(const QStringList& attributes);

  // Stores the expiry text as given and reads the moment it names once, for IsExpiredAt.
  // Raises EIdFailedToRetreiveTimeZoneInfo when the system's time zone cannot be read.
  virtual void SetExpiresText(const QString& text);

  // The cookie written back as attribute text ("name=value; path=/; domain=...; secure"),
  // lower-case attribute names, pieces joined by "; ".
  virtual QString CookieTextForm() const;

  // CookieName "=" CookieValue.
  QString NameValuePair() const { return cookieName_ + u'=' + cookieValue_; }

  // Takes every field of source, its expiry included; fields source's kind does not have go
  // back to what an absent attribute gives. This cookie keeps its own kind.
  virtual void Assign(const TIdNetscapeCookie& source);

  // The text last given to ParseCookieText.
  const QString& SourceText() const { return sourceText_; }
  // As parsed, the domain attribute as given (leading dot and case kept). Once a manager has
  // taken the cookie in, the domain it is filed under: "." and the lower-case name for a cookie
  // that covers the hosts under that name, else the host that set it.
  const QString& CookieDomain() const { return cookieDomain_; }
  void SetCookieDomain(const QString& domain) { cookieDomain_ = domain; }
  // The expiry as an Internet date text; empty when the cookie lasts for the run.
  const QString& ExpiresText() const { return expiresText_; }
  // The moment ExpiresText names, as a UTC day count; meaningful only when ExpiresText is not
  // empty (a text that does not read as a date gives a moment near day 0).
  TDateTime ExpiresUtc() const { return expiresUtc_; }
  const QString& CookieName() const { return cookieName_; }
  const QString& CookieValue() const { return cookieValue_; }
  // The path attribute without surrounding double quotes; "/" when absent or empty.
  const QString& CookiePath() const { return cookiePath_; }
  // A "secure" attribute was present: the cookie goes out over encrypted connections only.
  bool SecureOnly() const { return secureOnly_; }
  TIdCookieStyle CookieStyle() const { return cookieStyle_; }

  // Whether the expiry lies before utcNow (a UTC day count). A cookie without one never
  // expires; an expiry text that does not read as a date counts as long past.
  bool IsExpiredAt(TDateTime utcNow) const {
    return !expiresText_.isEmpty() && utcNow > expiresUtc_;
  }

protected:
  explicit TIdNetscapeCookie(TIdCookieStyle style) : cookieStyle_(style) {}
  void SetCookieStyle(TIdCookieStyle style) { cookieStyle_ = style; }
  // What SetExpiresText of this class does, for descendants that must not re-enter their own.
  void StoreExpiresText(const QString& text);

private:
  QString sourceText_;
  QString cookieDomain_;
  QString expiresText_;
  TDateTime expiresUtc_ = 0; // the moment ExpiresText names, when it is not empty
  QString cookieName_;
  QString cookieValue_;
  QString cookiePath_ = QStringLiteral("/"); // also for a text never read, such as an empty one
  bool secureOnly_ = false;
  TIdCookieStyle cookieStyle_ = NetscapeStyle;
};

// A cookie from a "Set-cookie" header: adds max-age, version and comment. The kind the store
// holds.
class TIdCookieRFC2109 : public TIdNetscapeCookie {
public:
  TIdCookieRFC2109() : TIdCookieRFC2109(RFC2109Style) {}

  // Reads "MAX-AGE" (a whole number of seconds, -1 when absent or not a number), "VERSION" and
  // "COMMENT". A cookie without "expires" turns NetscapeStyle and, when it has a max-age of 0
  // or more, gets as expiry the current UTC time plus max-age, written with "GMT".
  void LoadAttributes(const QStringList& attributes) override;
  // A non-empty text also sets MaxAgeSeconds to the whole seconds from now to that date
  // (negative when it lies in the past).
  void SetExpiresText(const QString& text) override;
  // Adds "max-age=" (when 0 or more and there is no expiry text), "comment=" and "version="
  // to the base form.
  QString CookieTextForm() const override;
  void Assign(const TIdNetscapeCookie& source) override;

  // Seconds the cookie is to live from its arrival; -1 for none.
  int64_t MaxAgeSeconds() const { return maxAgeSeconds_; }
  const QString& VersionText() const { return versionText_; }
  const QString& CommentText() const { return commentText_; }

protected:
  explicit TIdCookieRFC2109(TIdCookieStyle style) : TIdNetscapeCookie(style) {}

private:
  int64_t maxAgeSeconds_ = -1;
  QString versionText_;
  QString commentText_;
};

// A cookie from a "Set-cookie2" header: adds a comment address, the discard flag and a port
// list. The ports are kept for the caller; no rule of the store uses them.
class TIdCookieRFC2965 : public TIdCookieRFC2109 {
public:
  TIdCookieRFC2965() : TIdCookieRFC2109(RFC2965Style) {}

  // Reads "CommentURL", "DISCARD" and "Port". A missing or empty port attribute gives [80]; a
  // quoted comma-separated list gives its items that are whole numbers, in order ([80] when
  // none is); an unquoted value gives no ports.
  void LoadAttributes(const QStringList& attributes) override;
  void Assign(const TIdNetscapeCookie& source) override;

  const QString& CommentURL() const { return commentURL_; }
  bool DiscardFlag() const { return discardFlag_; }
  const std::vector<int32_t>& PortNumbers() const { return portNumbers_; }

private:
  void ResetOwnFields();

  QString commentURL_;
  bool discardFlag_ = false;
  std::vector<int32_t> portNumbers_;
};

// An ordered, unsorted list of texts, each carrying an object. Lookups by text ignore case;
// entries are appended at the end and keep their order.
template <class T> class TIdCookieList {
public:
  qsizetype Count() const { return static_cast<qsizetype>(entries_.size()); }
  const QString& Text(qsizetype index) const { return entries_[size_t(index)].first; }
  const T& Object(qsizetype index) const { return entries_[size_t(index)].second; }
  T& Object(qsizetype index) { return entries_[size_t(index)].second; }

  // The index of the first entry whose text equals text without regard to case; -1 if none.
  qsizetype IndexOf(QStringView text) const {
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].first.compare(text, Qt::CaseInsensitive) == 0) {
        return qsizetype(i);
      }
    }
    return -1;
  }
  // Appends an entry and returns its index.
  qsizetype Add(QString text, T object) {
    entries_.emplace_back(std::move(text), std::move(object));
    return Count() - 1;
  }
  // Removes the entry at index (0..Count()-1); later entries move up by one.
  void Delete(qsizetype index) { entries_.erase(entries_.begin() + index); }

private:
  std::vector<std::pair<QString, T>> entries_;
};

// The cookies of one domain: cookie names and the stored cookies (owned by TIdCookies).
using TIdDomainCookies = TIdCookieList<TIdCookieRFC2109*>;
// The domain index: cookie domains, each with its cookies.
using TIdCookieDomains = TIdCookieList<TIdDomainCookies>;

// How many cookies the store keeps for one domain and in all: the bounds browsers commonly
// keep (the least that the cookie rules ask a browser to hold), so that pages written for
// browsers work, while a server, or a chain of redirects, cannot grow the store and the Cookie
// line without end.
inline constexpr qsizetype kCookiesPerDomainLimit = 50;
inline constexpr qsizetype kCookieStoreLimit = 3000;

// How the domain index is locked: shared for reading, exclusive for changing.
enum TIdCookieAccess : uint8_t { ReadAccess, WriteAccess };

// The cookies of one manager, owned here, with the domain index. Safe to use from several
// threads at once: every operation takes the reader/writer lock it needs. The lock is
// recursive for writers: a thread holding WriteAccess may call any operation here again, and
// may also read. A thread holding ReadAccess must not call an operation that writes (it would
// wait for itself).
class TIdCookies {
public:
  TIdCookies();
  ~TIdCookies();
  Q_DISABLE_COPY(TIdCookies)

  // Files cookie under its domain and name (case-insensitive key); a domain or name seen for
  // the first time is appended at the end. When a cookie with that key is stored already, it
  // keeps its place and takes cookie's contents (Assign), and cookie is destroyed. A new cookie
  // beyond kCookiesPerDomainLimit for its domain, or beyond kCookieStoreLimit in all, pushes out
  // the oldest stored one (of its domain, or of all). Returns the
  // stored cookie, owned by this collection. Takes WriteAccess; may block while another thread
  // holds the lock.
  TIdCookieRFC2109* StoreCookie(std::unique_ptr<TIdCookieRFC2109> cookie);

  // Destroys every stored cookie whose expiry lies before utcNow (a UTC day count); domain
  // entries stay, even when they lose their last cookie. Takes WriteAccess.
  void RemoveExpiredCookies(TDateTime utcNow);

  // Locks the domain index in mode and returns it; every LockCookieList must be matched by an
  // UnlockCookieList with the same mode on the same thread. Blocks while the lock is held in a
  // conflicting mode by another thread. The index and its cookies may be read as long as the
  // lock is held; changes go through this collection's operations.
  const TIdCookieDomains& LockCookieList(TIdCookieAccess mode) const;
  void UnlockCookieList(TIdCookieAccess mode) const;

  // The number of stored cookies, and the stored cookies in the order they were first stored.
  // Items() needs 0 <= index < Count(); when other threads may store or remove cookies, hold
  // the lock around both calls and the use of the result.
  qsizetype Count() const;
  TIdCookieRFC2109* Items(qsizetype index) const;

private:
  // Drops the cookie at index of names from the index and the items, destroying it. The
  // caller holds WriteAccess.
  void DropCookie(TIdDomainCookies& names, qsizetype index);
  // Drops cookie from the items, destroying it. The caller holds WriteAccess.
  void EraseItem(TIdCookieRFC2109* cookie);

  // The lock's own recursion does not let a writer read; the writing thread is remembered so
  // that its reads nest as writes. writeDepth_ is touched only by that thread.
  mutable QReadWriteLock lock_;
  mutable std::atomic<std::thread::id> writer_;
  mutable int writeDepth_ = 0;
  TIdCookieDomains domains_;
  std::vector<std::unique_ptr<TIdCookieRFC2109>> items_;
};

// Holds a TIdCookies lock for one scope and gives access to the domain index.
class TIdCookieListLock {
public:
  // Blocks as LockCookieList does.
  TIdCookieListLock(const TIdCookies& cookies, TIdCookieAccess mode)
      : cookies_(cookies), mode_(mode), domains_(cookies.LockCookieList(mode)) {}
  ~TIdCookieListLock() { cookies_.UnlockCookieList(mode_); }
  Q_DISABLE_COPY(TIdCookieListLock)

  const TIdCookieDomains& Domains() const { return domains_; }

private:
  const TIdCookies& cookies_;
  TIdCookieAccess mode_;
  const TIdCookieDomains& domains_;
};
