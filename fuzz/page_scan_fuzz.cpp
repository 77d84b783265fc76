// A photo page's text, as the server sends it. Splitting into lines loses nothing but the line
// breaks and what follows a NUL; a marked value is a trimmed piece of its line that holds no end
// marker; each identifier the scan finds is a value some line of the page marks.
//
// Input: the page as UTF-8 text.

#include "app/PageScan.h"
#include "fuzz/FuzzSupport.h"
#include "net/IdGlobal.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<QStringView, 3> kStartMarkers = {u"photostream_owner_nsid = \"",
                                                      u"global_group_nsid = \"", u"page_set = \""};
constexpr QStringView kEndMarker = u"\"";

// The text the lines must make up again, joined by LF: everything before the first NUL with
// each CR LF, CR and LF as one LF, less one break at the very end.
QString JoinedForm(const QString& text) {
  QString joined = text.left(text.indexOf(QChar(u'\0')));
  joined.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
  if (joined.endsWith(u'\n'))
    joined.chop(1);
  return joined;
}

void CheckMarkedValue(const QString& line, QStringView start, QStringView end) {
  const QString value = ExtractMarkedValue(line, start, end);
  if (value.isEmpty())
    return;
  FUZZ_CHECK(line.contains(start));
  FUZZ_CHECK(line.contains(value));
  FUZZ_CHECK(!HasUntrimmedEnds(value));
  FUZZ_CHECK(!value.contains(end));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString text = Utf8Text(data, size);
  const QStringList lines = PageLines(text);
  FUZZ_CHECK(lines.join(u'\n') == JoinedForm(text));

  // The page's first line also serves as a start marker of its own, against every line.
  const QString ownMarker = lines.isEmpty() ? QString() : lines.front().left(8);
  for (const QString& line : lines) {
    for (QStringView start : kStartMarkers)
      CheckMarkedValue(line, start, kEndMarker);
    if (!ownMarker.isEmpty())
      CheckMarkedValue(line, ownMarker, ownMarker.right(1));
  }

  const SlideshowIds ids = ScanPageLines(lines);
  for (const QString* id : {&ids.OwnerId, &ids.GroupId, &ids.SetId}) {
    if (id->isEmpty())
      continue;
    FUZZ_CHECK(!HasUntrimmedEnds(*id));
    FUZZ_CHECK(std::any_of(lines.begin(), lines.end(),
                           [id](const QString& line) { return line.contains(*id); }));
  }
  return 0;
}
