#include "net/IdResourceStrings.h"

QString RSNoEncodingSpecified() { return QStringLiteral("No encoding specified."); }

QString RSNotEnoughDataInBuffer() { return QStringLiteral("Not enough data in buffer."); }
QString RSTooMuchDataInBuffer() { return QStringLiteral("Too much data in buffer."); }
QString RSBufferMissingTerminator() {
  return QStringLiteral("Buffer terminator must be specified.");
}
QString RSBufferInvalidStartPos() { return QStringLiteral("Buffer start position is invalid."); }
QString RSStreamWriteError() { return QStringLiteral("Could not write to the stream."); }
