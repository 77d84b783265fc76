#include "net/IdResourceStrings.h"

QString RSNoEncodingSpecified() { return QStringLiteral("No encoding specified."); }
