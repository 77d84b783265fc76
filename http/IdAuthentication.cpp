#include "http/IdAuthentication.h"

#include "net/IdGlobal.h"

#include <QList>
#include <algorithm>

namespace {

const QString kUsernameParam = QStringLiteral("Username");
const QString kPasswordParam = QStringLiteral("Password");
const QString kAuthorizationParam = QStringLiteral("Authorization");

constexpr char16_t kQuote = u'"';
constexpr char16_t kBackslash = u'\\';

// Cuts text at the commas that stand outside double quotes. A backslash inside quotes escapes
// the next character, so an escaped quote does not end the quoted run.
QList<QStringView> SplitOutsideQuotes(QStringView text) {
  QList<QStringView> items;
  qsizetype start = 0;
  bool inQuote = false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (inQuote) {
      if (c == kBackslash) {
        ++i;
      } else if (c == kQuote) {
        inQuote = false;
      }
    } else if (c == kQuote) {
      inQuote = true;
    } else if (c == u',') {
      items.append(text.mid(start, i - start));
      start = i + 1;
    }
  }
  items.append(text.mid(start));
  return items;
}

QString Unquoted(QStringView value) {
  if (value.size() < 2 || value.front() != kQuote || value.back() != kQuote) {
    return value.toString();
  }
  QString result;
  result.reserve(value.size() - 2);
  const QStringView inner = value.mid(1, value.size() - 2);
  for (qsizetype i = 0; i < inner.size(); ++i) {
    if (inner[i] == kBackslash && i + 1 < inner.size()) {
      ++i;
    }
    result.append(inner[i]);
  }
  return result;
}

// Entries of SchemeParams that belong to the caller, not to the server's challenge.
bool IsCredentialParam(QStringView name) {
  return TextIsSame(name, kUsernameParam) || TextIsSame(name, kPasswordParam) ||
         TextIsSame(name, kAuthorizationParam);
}

} // namespace

// --- Challenge parameters -----------------------------------------------------------------------

QStringView ChallengeSchemeName(QStringView challengeLine) {
  const auto blank = std::find_if(challengeLine.begin(), challengeLine.end(),
                                  [](QChar c) { return IsTrimmable(c); });
  return challengeLine.first(blank - challengeLine.begin());
}

TIdHeaderList ParseChallengeParams(QStringView challengeLine) {
  TIdHeaderList params;
  // The values go in as they stand: a long nonce must not come back folded.
  params.SetFoldLongLines(false);
  params.SetUnfoldContinuations(false);
  const QStringView afterName = challengeLine.mid(ChallengeSchemeName(challengeLine).size());
  for (const QStringView piece : SplitOutsideQuotes(afterName)) {
    const QString item = Trim(piece);
    if (item.isEmpty()) {
      continue;
    }
    const qsizetype equals = item.indexOf(u'=');
    const QString name = equals < 0 ? item : TrimRight(QStringView(item).left(equals));
    const QString value = equals < 0 ? QString() : TrimLeft(QStringView(item).mid(equals + 1));
    params.Add(name + params.HeaderSeparator() + Unquoted(value));
  }
  return params;
}

QString QuotedParamValue(QStringView value) {
  QString result;
  result.reserve(value.size() + 2);
  result.append(kQuote);
  for (const QChar c : value) {
    if (c == kQuote || c == kBackslash) {
      result.append(kBackslash);
    }
    result.append(c);
  }
  result.append(kQuote);
  return result;
}

// --- TIdAuthentication --------------------------------------------------------------------------

TIdAuthentication::TIdAuthentication() {
  // Credentials are stored, not sent: folding would turn a long password's commas and blank
  // runs into something else when it is read back.
  schemeParams_.SetFoldLongLines(false);
}

TIdAuthentication::~TIdAuthentication() = default;

void TIdAuthentication::Reset() {
  stepIndex_ = 0;
}

QString TIdAuthentication::ChallengeLine(QStringView scheme) const {
  for (const QString& line : challenges_) {
    // The whole first word: "Basic" must not pick up a line of a scheme that merely starts with
    // those letters.
    if (TextIsSame(ChallengeSchemeName(line), scheme)) {
      return line;
    }
  }
  return {};
}

QString TIdAuthentication::Username() const {
  return schemeParams_.ReadHeader(kUsernameParam);
}

void TIdAuthentication::SetUsername(const QString& username) {
  schemeParams_.WriteHeader(kUsernameParam, username);
}

QString TIdAuthentication::Password() const {
  return schemeParams_.ReadHeader(kPasswordParam);
}

void TIdAuthentication::SetPassword(const QString& password) {
  schemeParams_.WriteHeader(kPasswordParam, password);
}

// --- Basic --------------------------------------------------------------------------------------

QString TIdBasicAuthentication::AuthorizationValue() {
  const QByteArray credentials = EncodeText(QString(Username() + u':' + Password()), ek8Bit);
  return QStringLiteral("Basic ") + QString::fromLatin1(credentials.toBase64());
}

TIdAuthWhatsNext TIdBasicAuthentication::Next() {
  const TIdHeaderList params = ParseChallengeParams(ChallengeLine(u"Basic"));
  // Each challenge replaces what the last one said, so the list does not grow with every 401;
  // a challenge cannot touch the caller's credentials.
  for (qsizetype i = 0; i < params.Count(); ++i) {
    const QString name = params.HeaderNameOfLine(i);
    if (!IsCredentialParam(name)) {
      SchemeParams().WriteHeader(name, params.HeaderValueOfLine(i));
    }
  }
  SetRealmValue(params.ReadHeader(u"realm"));
  if (StepIndex() != 0) {
    return TIdAuthWhatsNext::GiveUp;
  }
  return Username().isEmpty() ? TIdAuthWhatsNext::NeedCredentials : TIdAuthWhatsNext::SendAgain;
}
