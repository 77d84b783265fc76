#pragma once

// Reading the service's identifiers out of a photo page's text: the line split, the marker
// extraction and the scan. Plain functions; none of them fails.

#include "app/EmbedCode.h"

#include <QString>
#include <QStringList>
#include <QStringView>

// The page's lines. A line ends at CR, at LF, or at CR LF (one break); LF CR is two breaks
// with an empty line between. Text after the last break is the last line; a break at the very
// end adds no empty line. A NUL ends the text: nothing after it is returned.
QStringList SplitLines(QStringView text);

// The value between startMarker and endMarker in line: the rest of the line after the first
// occurrence of startMarker, trimmed, cut before the first occurrence of endMarker in it, and
// trimmed again. Empty when startMarker or endMarker is missing, or endMarker is empty.
// Markers are matched exactly, letter case included.
QString ExtractMarkedValue(QStringView line, QStringView startMarker, QStringView endMarker);

// The owner, group and set identifiers found in lines. For each identifier the first
// non-empty value wins; one line can give several identifiers. Finding nothing gives empty
// identifiers.
SlideshowIds ScanPageLines(const QStringList& lines);
