// Addresses as a user types them or a server names them in a redirect. Parsing takes any text;
// rebuilding raises exactly when scheme or host is missing, and an address rebuilt from its
// parts parses back to the same parts wherever the text rules allow; merging a relative path
// leaves no doubled slash and no ".." that could still climb.
//
// Input: UTF-8 text, the address. Its first line also serves as the base directory and the
// rest as the path for MergePath.

#include "fuzz/FuzzSupport.h"
#include "http/IdURI.h"

#include <QStringView>

namespace {

bool IsDefaultPort(const TIdURI& uri) {
  return (TextIsSame(uri.Scheme(), u"http") && uri.PortPart() == u"80") ||
         (TextIsSame(uri.Scheme(), u"https") && uri.PortPart() == u"443") ||
         (TextIsSame(uri.Scheme(), u"ftp") && uri.PortPart() == u"21");
}

// Whether the parts can be written out so that the parser finds the same ones again. The parse
// rules themselves rule out three shapes, none of which a written address can express:
// - with no query, an "=" anywhere after the scheme reads as the start of one;
// - a fragment beside a query is written after the query and becomes part of it;
// - without a user the credentials are left out, so an "@" in host or port then reads as the
//   end of credentials.
bool PartsSurviveRewriting(const TIdURI& uri) {
  if (uri.Query().isEmpty()) {
    for (const QString* part :
         {&uri.UserPart(), &uri.PasswordPart(), &uri.HostPart(), &uri.PortPart(), &uri.Directory(),
          &uri.FileName(), &uri.Fragment()}) {
      if (part->contains(u'=')) {
        return false;
      }
    }
  }
  if (!uri.Fragment().isEmpty() && !uri.Query().isEmpty()) {
    return false;
  }
  if (uri.UserPart().isEmpty() &&
      (uri.HostPart().contains(u'@') || uri.PortPart().contains(u'@'))) {
    return false;
  }
  return true;
}

void CheckParseAndCompose(const QString& text) {
  const TIdURI uri(text);
  for (const QString* part :
       {&uri.Scheme(), &uri.UserPart(), &uri.PasswordPart(), &uri.HostPart(), &uri.PortPart(),
        &uri.Directory(), &uri.FileName(), &uri.Query(), &uri.Fragment()}) {
    FUZZ_CHECK(!part->contains(u'\\'));
    FUZZ_CHECK(part->size() <= text.size() + 1); // the directory may gain a leading "/"
  }
  FUZZ_CHECK(!uri.FileName().contains(u'/'));
  FUZZ_CHECK(uri.Directory().isEmpty() || uri.Directory().endsWith(u'/'));
  if (uri.UserPart().isEmpty()) {
    FUZZ_CHECK(uri.PasswordPart().isEmpty());
  }

  const bool composable = !uri.Scheme().isEmpty() && !uri.HostPart().isEmpty();
  QString full;
  try {
    full = uri.ComposeAddress(IncludeCredentials | IncludeFragment);
    FUZZ_CHECK(composable);
  } catch (const EIdURIException&) {
    FUZZ_CHECK(!composable);
    return;
  }
  FUZZ_CHECK(uri.Directory().startsWith(u'/'));
  FUZZ_CHECK(full.endsWith(uri.PathAndQuery()) || !uri.Fragment().isEmpty());
  if (!PartsSurviveRewriting(uri)) {
    return;
  }

  const TIdURI again(full);
  FUZZ_CHECK(again.Scheme() == uri.Scheme());
  FUZZ_CHECK(again.UserPart() == uri.UserPart());
  FUZZ_CHECK(again.PasswordPart() == uri.PasswordPart());
  FUZZ_CHECK(again.HostPart() == uri.HostPart());
  FUZZ_CHECK(again.IPVersion() == uri.IPVersion());
  FUZZ_CHECK(again.PortPart() == (IsDefaultPort(uri) ? QString() : uri.PortPart()));
  FUZZ_CHECK(again.Directory() == uri.Directory());
  FUZZ_CHECK(again.FileName() == uri.FileName());
  FUZZ_CHECK(again.Query() == uri.Query());
  FUZZ_CHECK(again.Fragment() == uri.Fragment());
  // Without credentials and fragment the address is what a request names.
  FUZZ_CHECK(TIdURI(uri.AddressText()).PathAndQuery() == uri.PathAndQuery());
}

void CheckMergePath(QStringView base, QStringView path) {
  const QString merged = MergePath(base, path);
  if (path.startsWith(u'/')) {
    FUZZ_CHECK(merged == path);
    return;
  }
  FUZZ_CHECK(merged.size() <= base.size() + 1 + path.size());
  FUZZ_CHECK(!merged.contains(u"//"));
  FUZZ_CHECK(!merged.contains(u"/.."));
  if (merged.size() > 1 && merged.endsWith(u'/')) {
    FUZZ_CHECK(path.isEmpty() || path.endsWith(u'/'));
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString text = Utf8Text(data, size);
  CheckParseAndCompose(text);
  const qsizetype lineEnd = text.indexOf(u'\n');
  if (lineEnd < 0) {
    CheckMergePath({}, text);
  } else {
    CheckMergePath(QStringView(text).left(lineEnd), QStringView(text).mid(lineEnd + 1));
  }
  return 0;
}
