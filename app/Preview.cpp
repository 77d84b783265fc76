#include "app/Preview.h"

#include "app/AppResourceStrings.h"
#include "app/PageScan.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Numbers after the first that one series may try: 10001 candidates in all.
constexpr uint32_t kMaxNumberSpan = 10000;

QString WithNumberMark(const QString& name) {
  if (name.contains(u'*')) {
    return name;
  }
  const qsizetype dot = name.lastIndexOf(u'.');
  if (dot < 0 || dot < name.lastIndexOf(u'/')) {
    return name + QStringLiteral("*.");
  }
  return name.first(dot) + QStringLiteral("*.") + name.sliced(dot + 1);
}

QString ReplaceFirstMark(QString pattern, const QString& with) {
  return pattern.replace(pattern.indexOf(u'*'), 1, with);
}

QString SystemReason(int error) {
  return qt_error_string(error);
}

} // namespace

QString TempDirectory() {
  QString directory = QDir::tempPath();
  if (!directory.isEmpty() && !directory.endsWith(u'/')) {
    directory += u'/';
  }
  return directory;
}

TempFileNameSeries::TempFileNameSeries(QString name, TickSource ticks)
    : name_(name.contains(u'/') ? std::move(name) : TempDirectory() + name),
      ticks_(std::move(ticks)) {}

QString TempFileNameSeries::NextFree() {
  for (;;) {
    QString candidate = Candidate();
    if (!NameExists(candidate)) {
      return candidate;
    }
  }
}

QString TempFileNameSeries::Candidate() {
  if (!triedPlainName_) {
    triedPlainName_ = true;
    return name_;
  }
  if (pattern_.isEmpty()) {
    pattern_ = WithNumberMark(name_);
    start_ = next_ = ticks_();
  }
  if (TickDiff32(start_, next_) > kMaxNumberSpan) {
    throw ETempFileNameExhausted(
        RSCantCreateTempFile().arg(ReplaceFirstMark(pattern_, QStringLiteral("{UniqueID}"))));
  }
  QString candidate =
      ReplaceFirstMark(pattern_, QStringLiteral("%1").arg(next_, 8, 16, QChar(u'0')).toUpper());
  ++next_;
  return candidate;
}

bool TempFileNameSeries::NameExists(const QString& name) {
  // lstat, so that a dangling link counts as taken. Only a name that surely has no entry is
  // free; creation settles every other case.
  struct stat status {};
  if (::lstat(QFile::encodeName(name).constData(), &status) == 0) {
    return true;
  }
  return errno != ENOENT && errno != ENOTDIR;
}

QString UniqueTempFileName(const QString& name, TickSource ticks) {
  return TempFileNameSeries(name, std::move(ticks)).NextFree();
}

QString PreviewPageText(const QString& embedCode) {
  return QStringLiteral("<html><body style=\"margin:0;padding:0;\">") + embedCode +
         QStringLiteral("</body></html>");
}

QString WritePreviewFile(TempFileNameSeries& series, QString fileName, const QString& text) {
  QByteArray bytes;
  QStringEncoder encode(QStringConverter::System);
  for (const QString& line : PageLines(text)) {
    bytes += encode(line);
    bytes += "\r\n";
  }
  for (;;) {
    const int descriptor = ::open(QFile::encodeName(fileName).constData(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (descriptor < 0 && errno == EEXIST) {
      fileName = series.NextFree();
      continue;
    }
    if (descriptor < 0) {
      throw EFileCreateError(RSCannotCreateFile().arg(fileName, SystemReason(errno)));
    }
    QFile file;
    if (!file.open(descriptor, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
      ::close(descriptor);
      throw EFileCreateError(RSCannotCreateFile().arg(fileName, file.errorString()));
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
      throw EFileCreateError(RSCannotWriteFile().arg(fileName, file.errorString()));
    }
    return fileName;
  }
}
