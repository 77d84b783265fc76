#pragma once

// The preview file: the temporary directory, unique names in it, and the page that wraps the
// embed code. Files are created exclusively, so a name planted in a shared temporary
// directory (a link above all) is never opened; the next free name is used instead.

#include "net/IdException.h"
#include "net/IdGlobal.h"

#include <QString>
#include <QStringView>
#include <cstdint>
#include <functional>

// No free name among the candidates of one search.
MARQUELO_DECLARE_EXCEPTION(ETempFileNameExhausted, Exception)
// A preview file could not be created or written for a reason other than its name being taken.
MARQUELO_DECLARE_EXCEPTION(EFileCreateError, Exception)

// The base name of every preview file.
inline const QString kPreviewBaseName = QStringLiteral("mqtemp.html");

// Source of the 32-bit millisecond counter that numbers candidates; replaceable in tests.
using TickSource = std::function<uint32_t()>;

// The user's temporary directory ($TMPDIR, else /tmp) ending in exactly one "/".
QString TempDirectory();

// The candidate names of one search for a free file name, in order. A name without a "/" is
// placed in TempDirectory(). The first candidate is the name itself; the next ones put a number
// where the name's first "*" is (one is inserted before the extension when there is none):
// 8 upper-case hexadecimal digits counting up from the tick counter read once, 10001 numbers
// at most, the count wrapping at 32 bits.
class TempFileNameSeries {
public:
  explicit TempFileNameSeries(QString name, TickSource ticks = Ticks32);

  // The next candidate for which no file (nor link, even a dangling one) exists. Raises
  // ETempFileNameExhausted ("Can't create temp file ...") when the numbers are used up.
  // Only a test: the name may be taken by the time it is used.
  QString NextFree();

private:
  QString Candidate();
  static bool NameExists(const QString& name);

  QString name_;
  QString pattern_;
  TickSource ticks_;
  bool triedPlainName_{};
  uint32_t start_{};
  uint32_t next_{};
};

// The first free name of a new series for name (see TempFileNameSeries::NextFree).
QString UniqueTempFileName(const QString& name, TickSource ticks = Ticks32);

// The preview page: the embed code inside a bare html body without margins.
QString PreviewPageText(const QString& embedCode);

// Creates fileName exclusively (never replacing a file and never following a link) and writes
// each line of text followed by CR LF, in the locale's encoding without a byte-order mark. When
// the name was taken since it was found free, goes on with the next names of series. Returns
// the name of the file written. Raises ETempFileNameExhausted when the series runs out, and
// EFileCreateError ("Cannot create file ...") when creating or writing fails for another
// reason; a partly written file is left as it is.
QString WritePreviewFile(TempFileNameSeries& series, QString fileName, const QString& text);
