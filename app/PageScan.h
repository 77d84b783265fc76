#pragma once

// Reading the service's identifiers out of a photo page's text: the line split, the marker
// extraction and the scan. Plain functions; none of them fails.

#include "app/EmbedCode.h"

#include <QString>
#include <QStringList>
#include <QStringView>

// The page's lines, broken as SplitLines (net/IdGlobal.h) breaks them; a NUL ends the page's
// text, and nothing after it is returned.
QStringList PageLines(QStringView text);

// The value between startMarker and endMarker in line: the rest of the line after the first
// occurrence of startMarker, trimmed, cut before the first occurrence of endMarker in it, and
// trimmed again. Empty when startMarker or endMarker is missing, or endMarker is empty.
// Markers are matched exactly, letter case included.
QString ExtractMarkedValue(QStringView line, QStringView startMarker, QStringView endMarker);

// The owner, group and set identifiers found in lines. For each identifier the first
// non-empty value wins; one line can give several identifiers. Finding nothing gives empty
// identifiers.
SlideshowIds ScanPageLines(const QStringList& lines);
