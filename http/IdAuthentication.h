#pragma once

// Authentication schemes: an object per scheme that makes the value of the "Authorization" (or
// "Proxy-Authorization") header. A header record owns at most one and asks it for its value
// each time it composes its lines. Schemes are found by name in a process-wide registry that
// knows "Basic", "Digest" and "NTLM" from the start.

#include "http/IdHeaderList.h"
#include "net/IdException.h"

#include <QString>
#include <QStringView>
#include <memory>

// A second registration of a scheme name.
MARQUELO_DECLARE_EXCEPTION(EIdAlreadyRegisteredAuthenticationMethod, EIdException)

// What a scheme wants after it has looked at a challenge.
enum class TIdAuthWhatsNext {
  NeedCredentials = 0, // it cannot answer without a user name (and password)
  SendAgain = 1,       // its next AuthorizationValue answers the challenge
  GiveUp = 2,          // it cannot answer this challenge at all
};

class TIdAuthentication {
public:
  TIdAuthentication();
  virtual ~TIdAuthentication();
  Q_DISABLE_COPY(TIdAuthentication)

  // Where the scheme stands in its exchange: 0 after construction and after Reset.
  int StepIndex() const { return stepIndex_; }
  // How many steps the scheme takes to complete; a scheme whose StepIndex has reached it is done.
  virtual int StepCount() const { return 0; }
  // Returns the scheme to its first step.
  virtual void Reset();

  // Looks at Challenges and says what the scheme needs next; may change StepIndex, RealmValue
  // and what the scheme keeps of the challenge. Raises what the scheme's evaluation raises
  // (EIdInvalidAlgorithm for Digest).
  TIdAuthWhatsNext NextStep() { return Next(); }

  // The header value for the next request; empty when the scheme has nothing to send. A scheme
  // that counts its answers (Digest) advances its count here.
  virtual QString AuthorizationValue() = 0;

  // The scheme's parameters as "Name: value" lines: "Username", "Password", "Authorization"
  // (the value last sent, kept by the challenge answer), and what a scheme takes from a
  // challenge.
  TIdHeaderList& SchemeParams() { return schemeParams_; }
  const TIdHeaderList& SchemeParams() const { return schemeParams_; }

  // The challenge values of the response being answered ("WWW-Authenticate" or
  // "Proxy-Authenticate"), one per line.
  const TIdHeaderList& Challenges() const { return challenges_; }
  // Replaces Challenges by a copy of the lines of challenges.
  void SetChallenges(const TIdHeaderList& challenges) { challenges_.Assign(challenges); }
  // The first line of Challenges whose first word is scheme (without regard to case), whole;
  // empty when there is none.
  QString ChallengeLine(QStringView scheme) const;

  // The realm of the last challenge evaluated; empty before one.
  const QString& RealmValue() const { return realmValue_; }

  // The "Username" and "Password" entries of SchemeParams; setting an empty text removes the
  // entry.
  QString Username() const;
  void SetUsername(const QString& username);
  QString Password() const;
  void SetPassword(const QString& password);

protected:
  // The scheme's own evaluation behind NextStep.
  virtual TIdAuthWhatsNext Next() = 0;

  void SetRealmValue(const QString& realm) { realmValue_ = realm; }

  int stepIndex_ = 0;

private:
  TIdHeaderList schemeParams_;
  TIdHeaderList challenges_;
  QString realmValue_;
};

// The scheme name of a challenge line: the text before its first blank (a character of code 32
// or less); the whole line when it has none.
QStringView ChallengeSchemeName(QStringView challengeLine);

// The parameters of a challenge line after its scheme name, one "name: value" line each, in
// the order given. Items are cut at commas outside double quotes and trimmed; empty items are
// skipped; an item without "=" has an empty value; a value in double quotes loses them and the
// backslashes that escape characters inside them.
TIdHeaderList ParseChallengeParams(QStringView challengeLine);

// value as an HTTP quoted string: in double quotes, with every double quote and backslash in it
// escaped by a backslash.
QString QuotedParamValue(QStringView value);

// Credentials sent in the clear: user name and password joined by a colon, in Base64.
class TIdBasicAuthentication : public TIdAuthentication {
public:
  static constexpr const char* kClassName = "TIdBasicAuthentication";

  int StepCount() const override { return 1; }
  // "Basic " and the Base64 form (standard alphabet, padded, one line) of user name, ":" and
  // password, each UTF-16 code unit cut to its low 8 bits.
  QString AuthorizationValue() override;

protected:
  // Takes the parameters of the "Basic" challenge into SchemeParams (the credential entries
  // excepted) and its realm into RealmValue. SendAgain when a user name is known and StepIndex
  // is 0, NeedCredentials without a user name, GiveUp once StepIndex has moved on. StepIndex
  // never moves, so a server that keeps refusing is asked until the caller's retry limit.
  TIdAuthWhatsNext Next() override;
};

// Registered so that a server offering "NTLM" is recognised, but this scheme never answers: it
// gives up on every challenge and sends nothing. A server that lists "NTLM" before a scheme we
// can answer therefore ends the attempt, as the first registered scheme offered is the one
// chosen.
class TIdNTLMAuthentication : public TIdAuthentication {
public:
  static constexpr const char* kClassName = "TIdNTLMAuthentication";

  // Always empty: no "Authorization" line is written for this scheme.
  QString AuthorizationValue() override { return {}; }

protected:
  TIdAuthWhatsNext Next() override { return TIdAuthWhatsNext::GiveUp; }
};

// A reference to a scheme class: its name and a way to make a new object of it. A
// default-constructed reference is "none". Copyable; two references are equal when they name
// the same class.
class TIdAuthenticationClass {
public:
  TIdAuthenticationClass() = default;

  // The reference to Scheme, which must be default-constructible and name itself in
  // kClassName.
  template <class Scheme> static TIdAuthenticationClass Of() {
    return TIdAuthenticationClass(Scheme::kClassName, [] {
      return std::unique_ptr<TIdAuthentication>(std::make_unique<Scheme>());
    });
  }

  explicit operator bool() const { return make_ != nullptr; }
  // The class name as written in the source; empty for none.
  QString ClassName() const { return QString::fromLatin1(name_); }
  // A new object of the class, owned by the caller; null for none.
  std::unique_ptr<TIdAuthentication> Create() const { return make_ ? make_() : nullptr; }

  friend bool operator==(const TIdAuthenticationClass& a, const TIdAuthenticationClass& b) {
    return a.ClassName() == b.ClassName();
  }

private:
  using MakeFn = std::unique_ptr<TIdAuthentication> (*)();
  TIdAuthenticationClass(const char* name, MakeFn make) : name_(name), make_(make) {}

  const char* name_ = nullptr;
  MakeFn make_ = nullptr;
};

// --- The scheme registry --------------------------------------------------------------------
// Process-wide and safe to call from any thread. It holds "Basic", "Digest" and "NTLM", in that
// order, before the first call returns; names are compared without regard to case. It lives in
// a unit of its own (IdAuthSchemeRegistry.cpp), the one that names every built-in scheme.

// Adds the pair at the end of the registry. Raises EIdAlreadyRegisteredAuthenticationMethod,
// naming the class registered before, when name is already there.
void RegisterAuthScheme(const QString& name, TIdAuthenticationClass schemeClass);
// Removes name and its class; does nothing when name is not registered.
void UnregisterAuthScheme(QStringView name);
// The class registered under name, or none.
TIdAuthenticationClass FindAuthScheme(QStringView name);
