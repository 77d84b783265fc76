#include "app/PageScan.h"

#include "net/IdGlobal.h"

#include <array>

namespace {

struct Marker {
  QString SlideshowIds::*identifier;
  QStringView start;
};

// The page's script assigns each identifier in double quotes; searched in this order.
constexpr QStringView kEndMarker = u"\"";
const std::array<Marker, 3> kMarkers{{
    {&SlideshowIds::OwnerId, u"photostream_owner_nsid = \""},
    {&SlideshowIds::GroupId, u"global_group_nsid = \""},
    {&SlideshowIds::SetId, u"page_set = \""},
}};

} // namespace

QStringList PageLines(QStringView text) {
  const qsizetype nul = text.indexOf(QChar(u'\0'));
  return SplitLines(nul >= 0 ? text.first(nul) : text);
}

QString ExtractMarkedValue(QStringView line, QStringView startMarker, QStringView endMarker) {
  const qsizetype at = line.indexOf(startMarker);
  if (at < 0 || endMarker.isEmpty()) {
    return {};
  }
  const QString rest = Trim(line.sliced(at + startMarker.size()));
  const qsizetype end = rest.indexOf(endMarker);
  if (end < 0) {
    return {};
  }
  return Trim(QStringView(rest).first(end));
}

SlideshowIds ScanPageLines(const QStringList& lines) {
  SlideshowIds ids;
  for (const QString& line : lines) {
    if (line.isEmpty()) {
      continue;
    }
    for (const Marker& marker : kMarkers) {
      QString& identifier = ids.*marker.identifier;
      if (!identifier.isEmpty()) {
        continue;
      }
      identifier = ExtractMarkedValue(line, marker.start, kEndMarker);
    }
  }
  return ids;
}
