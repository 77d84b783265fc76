#pragma once

// JPEG pictures decoded by calling libjpeg directly, for the window's banner.

#include "net/IdException.h"

#include <QByteArray>
#include <QImage>
#include <QString>

// The picture could not be decoded: corrupt or truncated data, an unsupported colour
// layout, or a size beyond what a picture here may have.
MARQUELO_DECLARE_EXCEPTION(EJpegDecodeError, Exception)

// Largest number of pixels a picture may announce before any memory is set aside for it.
inline constexpr qint64 kMaxJpegPixels = qint64(16) * 1024 * 1024;

// The picture in data, as an RGB image of the size it announces. Grey pictures come out grey
// in RGB. Raises EJpegDecodeError for anything libjpeg rejects or warns about (a truncated
// stream included), for other than 1 or 3 colour components, and for more than kMaxJpegPixels.
QImage DecodeJpeg(const QByteArray& data);

// DecodeJpeg of the whole file or Qt resource at path ("...:/banner.jpg"). Raises
// EJpegDecodeError as DecodeJpeg does, and when the file cannot be read.
QImage LoadJpeg(const QString& path);
