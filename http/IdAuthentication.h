#pragma once

// Authentication schemes: an object per scheme that makes the value of the "Authorization" (or
// "Proxy-Authorization") header. A header record owns at most one and asks it for its value
// each time it composes its lines.

#include "http/IdHeaderList.h"

#include <QString>

class TIdAuthentication {
public:
  TIdAuthentication();
  virtual ~TIdAuthentication();
  TIdAuthentication(const TIdAuthentication&) = delete;
  TIdAuthentication& operator=(const TIdAuthentication&) = delete;

  // Where the scheme stands in its exchange: 0 after construction and after Reset.
  int StepIndex() const { return stepIndex_; }
  // How many steps the scheme takes to complete; a scheme whose StepIndex has reached it is done.
  virtual int StepCount() const { return 0; }
  // Returns the scheme to its first step.
  virtual void Reset();

  // The header value for the next request; empty when the scheme has nothing to send.
  virtual QString AuthorizationValue() = 0;

  // The scheme's parameters as "Name: value" lines: "Username", "Password", and whatever a
  // scheme takes from a challenge.
  TIdHeaderList& SchemeParams() { return schemeParams_; }
  const TIdHeaderList& SchemeParams() const { return schemeParams_; }

  // The "Username" and "Password" entries of SchemeParams; setting an empty text removes the
  // entry.
  QString Username() const;
  void SetUsername(const QString& username);
  QString Password() const;
  void SetPassword(const QString& password);

protected:
  int stepIndex_ = 0;

private:
  TIdHeaderList schemeParams_;
};

// Credentials sent in the clear: user name and password joined by a colon, in Base64.
class TIdBasicAuthentication : public TIdAuthentication {
public:
  int StepCount() const override { return 1; }
  // "Basic " and the Base64 form (standard alphabet, padded, one line) of user name, ":" and
  // password, each UTF-16 code unit cut to its low 8 bits.
  QString AuthorizationValue() override;
};
