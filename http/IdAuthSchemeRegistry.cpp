#include "http/IdAuthentication.h"

#include "http/IdAuthenticationDigest.h"
#include "http/IdResourceStringsProtocols.h"
#include "net/IdGlobal.h"

#include <QList>

#include <mutex>

// The registry has a unit of its own: it names every built-in scheme, and the schemes derive
// from TIdAuthentication, so the base class's unit must not know them.

namespace {

// --- Registry -----------------------------------------------------------------------------------

struct RegisteredScheme {
  QString name;
  TIdAuthenticationClass schemeClass;
};

class SchemeRegistry {
public:
  SchemeRegistry()
      : schemes_({{QStringLiteral("Basic"), TIdAuthenticationClass::Of<TIdBasicAuthentication>()},
                  {QStringLiteral("Digest"), TIdAuthenticationClass::Of<TIdDigestAuthentication>()},
                  {QStringLiteral("NTLM"), TIdAuthenticationClass::Of<TIdNTLMAuthentication>()}}) {}

  void Register(const QString& name, TIdAuthenticationClass schemeClass) {
    std::lock_guard lock(mutex_);
    if (const RegisteredScheme* known = Lookup(name)) {
      throw EIdAlreadyRegisteredAuthenticationMethod(
          RSAuthSchemeAlreadyRegistered().arg(known->schemeClass.ClassName()));
    }
    schemes_.append({name, schemeClass});
  }

  void Unregister(QStringView name) {
    std::lock_guard lock(mutex_);
    schemes_.removeIf([name](const RegisteredScheme& s) { return TextIsSame(s.name, name); });
  }

  TIdAuthenticationClass Find(QStringView name) {
    std::lock_guard lock(mutex_);
    const RegisteredScheme* known = Lookup(name);
    return known ? known->schemeClass : TIdAuthenticationClass();
  }

private:
  const RegisteredScheme* Lookup(QStringView name) const {
    for (const RegisteredScheme& scheme : schemes_) {
      if (TextIsSame(scheme.name, name)) {
        return &scheme;
      }
    }
    return nullptr;
  }

  std::mutex mutex_;
  QList<RegisteredScheme> schemes_;
};

SchemeRegistry& Registry() {
  static SchemeRegistry registry;
  return registry;
}

} // namespace

// --- Registry -----------------------------------------------------------------------------------

void RegisterAuthScheme(const QString& name, TIdAuthenticationClass schemeClass) {
  Registry().Register(name, schemeClass);
}

void UnregisterAuthScheme(QStringView name) {
  Registry().Unregister(name);
}

TIdAuthenticationClass FindAuthScheme(QStringView name) {
  return Registry().Find(name);
}
