#pragma once

// Header lists written out line by line in tests.

#include "http/IdHeaderList.h"

#include <QStringList>

// A list with the default settings holding lines as they stand.
inline TIdHeaderList ListOf(const QStringList& lines) {
  TIdHeaderList list;
  for (const QString& line : lines) {
    list.Add(line);
  }
  return list;
}
