#include "http/IdPublicSuffix.h"

#include <QString>

#include <libpsl.h>

#include <memory>

namespace {

struct ListRelease {
  void operator()(psl_ctx_t* list) const { psl_free(list); }
};

const psl_ctx_t* SuffixList() {
  // The system's copy follows the distribution's updates; the built-in one is there when the
  // file is missing. Whichever is newer wins.
  static const std::unique_ptr<psl_ctx_t, ListRelease> latest(psl_latest(nullptr));
  return latest ? latest.get() : psl_builtin();
}

} // namespace

bool IsPublicSuffix(QStringView domain) {
  const psl_ctx_t* list = SuffixList();
  // The list's own rules are lower-case UTF-8.
  const QByteArray name = domain.toString().toLower().toUtf8();
  if (list == nullptr) {
    // No list at all: only a single label is surely a suffix.
    return !name.contains('.');
  }
  return psl_is_public_suffix(list, name.constData()) != 0;
}
