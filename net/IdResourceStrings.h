#pragma once

// The message texts of the transport layer, in one table. Each function returns the exact
// text; format strings keep their "%1"-style placeholders for QString::arg.

#include <QString>

QString RSNoEncodingSpecified();

// Buffer
QString RSNotEnoughDataInBuffer();
QString RSTooMuchDataInBuffer();
QString RSBufferMissingTerminator();
QString RSBufferInvalidStartPos();
QString RSStreamWriteError();
