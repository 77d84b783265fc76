#include "http/IdHeaderList.h"

#include "http/IdResourceStringsProtocols.h"
#include "net/IdGlobal.h"

#include <algorithm>
#include <utility>

namespace {

constexpr char16_t kCR = u'\r';
constexpr char16_t kLF = u'\n';
constexpr char16_t kQuote = u'"';

// The break text and break characters of header wrapping: a new line goes in as CR LF and one
// space, so that it reads as a continuation of the line above.
constexpr QStringView kFoldBreak = u"\r\n ";
constexpr QStringView kFoldBreakChars = u"\t ,";

} // namespace

QString FetchField(QString& text, QStringView delimiter) {
  const qsizetype at = text.indexOf(delimiter);
  if (at < 0) {
    return std::exchange(text, QString());
  }
  QString field = text.left(at);
  text.remove(0, at + delimiter.size());
  return field;
}

// --- WrapText -----------------------------------------------------------------------------------

QString WrapText(QStringView text, QStringView breakText, QStringView breakChars, int width) {
  const qsizetype n = text.size();
  const qsizetype breakLen = breakText.size();
  QString result;
  result.reserve(n + (width > 0 ? n / width : 0) * breakLen);

  qsizetype pos = 0;
  qsizetype column = 1;
  qsizetype lineStart = 0;
  qsizetype breakPos = -1; // none yet: -1 never lies after a line start
  bool inQuote = false;
  bool existingBreak = false;
  const auto isBreakChar = [&](QChar c) {
    return breakChars.contains(c);
  };

  while (pos < n) {
    const QChar current = text[pos];
    if (breakLen > 0 && current == breakText[0] && !inQuote) {
      if (text.mid(pos, breakLen).compare(breakText, Qt::CaseInsensitive) == 0) {
        existingBreak = true;
        pos += breakLen - 1;
        breakPos = pos;
      }
    } else if (!inQuote && isBreakChar(current)) {
      breakPos = pos;
    } else if (current == kQuote) {
      inQuote = !inQuote;
    } else if (current.isHighSurrogate() && pos + 1 < n && text[pos + 1].isLowSurrogate()) {
      ++pos; // the pair is one character and one column
    }
    ++pos;
    ++column;

    if (!inQuote && (existingBreak || (column > width && breakPos > lineStart))) {
      result += text.mid(lineStart, breakPos - lineStart + 1);
      column = pos - breakPos;
      if (current != kQuote) {
        while (pos < n && (isBreakChar(text[pos]) || text[pos] == kCR || text[pos] == kLF)) {
          ++pos;
        }
      }
      if (!existingBreak && pos < n) {
        result += breakText;
      }
      lineStart = breakPos + 1;
      existingBreak = false;
    }
  }
  result += text.mid(lineStart);
  return result;
}

// --- The list of lines --------------------------------------------------------------------------

TIdHeaderList::TIdHeaderList() {
  SetHeaderSeparator(QStringLiteral(": "));
}

void TIdHeaderList::CheckIndex(qsizetype index, qsizetype limit) const {
  if (index < 0 || index >= limit) {
    throw EListError(RSListIndexError().arg(index));
  }
}

const QString& TIdHeaderList::operator[](qsizetype index) const {
  CheckIndex(index, lines_.size());
  return lines_[index];
}

void TIdHeaderList::Put(qsizetype index, QString line) {
  CheckIndex(index, lines_.size());
  lines_[index] = std::move(line);
  LinesChanged();
}

void TIdHeaderList::Insert(qsizetype index, QString line) {
  CheckIndex(index, lines_.size() + 1);
  lines_.insert(index, std::move(line));
  LinesChanged();
}

void TIdHeaderList::Delete(qsizetype index) {
  CheckIndex(index, lines_.size());
  lines_.removeAt(index);
  LinesChanged();
}

QString TIdHeaderList::Text() const {
  qsizetype size = 0;
  for (const QString& line : lines_) {
    size += line.size() + 2;
  }
  QString text;
  text.reserve(size);
  for (const QString& line : lines_) {
    text += line;
    text += QLatin1StringView("\r\n");
  }
  return text;
}

void TIdHeaderList::SetText(QStringView text) {
  lines_ = SplitLines(text);
  LinesChanged();
}

void TIdHeaderList::Assign(const TIdHeaderList& source) {
  if (&source != this) {
    lines_ = source.lines_;
    LinesChanged();
  }
}

void TIdHeaderList::SetHeaderSeparator(const QString& separator) {
  separator_ = separator;
  searchSeparator_ = TrimRight(separator);
}

// --- Headers ------------------------------------------------------------------------------------

qsizetype TIdHeaderList::SeparatorAt(const QString& line) const {
  switch (searchSeparator_.size()) {
  case 0:
    return -1;
  case 1:
    return line.indexOf(searchSeparator_[0]);
  default:
    return line.indexOf(searchSeparator_);
  }
}

QStringView TIdHeaderList::NameOf(const QString& line) const {
  const qsizetype at = SeparatorAt(line);
  return at < 0 ? QStringView() : QStringView(line).left(at);
}

QStringView TIdHeaderList::ValueOf(const QString& line) const {
  const qsizetype at = SeparatorAt(line);
  return at < 0 ? QStringView(line) : QStringView(line).mid(at + searchSeparator_.size());
}

bool TIdHeaderList::HasName(const QString& line, QStringView name) const {
  // Lookups run many times per response over every line: most lines are ruled out by whether
  // the separator follows where the name would end, before the separator is searched for.
  const qsizetype n = name.size();
  const qsizetype sepLen = searchSeparator_.size();
  if (n > 0 && sepLen > 0) {
    if (line.size() < n + sepLen || line[n] != searchSeparator_[0]) {
      return false;
    }
    if (sepLen > 1 && QStringView(line).mid(n, sepLen) != searchSeparator_) {
      return false;
    }
  }
  return TextIsSame(NameOf(line), name);
}

QString TIdHeaderList::HeaderNameOfLine(qsizetype index) const {
  if (index < 0 || index >= lines_.size()) {
    return {};
  }
  return NameOf(lines_[index]).toString();
}

QString TIdHeaderList::HeaderValueOfLine(qsizetype index) const {
  if (index < 0 || index >= lines_.size()) {
    return {};
  }
  QString value = Trim(ValueOf(lines_[index]));
  if (!unfold_) {
    return value;
  }
  // Joined in place: building the value anew for every continuation line costs the square of
  // a long block. A piece is trimmed and a space goes only between two pieces that hold
  // something, which is what trimming the joined value after each step would give.
  for (qsizetype i = index + 1; i < lines_.size() && IsHeaderContinuationLine(lines_[i]); ++i) {
    const QStringView piece = TrimView(lines_[i]);
    if (piece.isEmpty()) {
      continue;
    }
    if (!value.isEmpty()) {
      value += u' ';
    }
    value += piece;
  }
  return value;
}

template <typename Match>
void TIdHeaderList::ForEachCandidate(QStringView name, Match match) const {
  if (name.isEmpty() || IsHeaderContinuationLine(name)) {
    for (qsizetype i = 0; i < lines_.size(); ++i) {
      if (match(i)) {
        return;
      }
    }
    return;
  }
  if (!startsKnown_) {
    starts_.clear();
    for (qsizetype i = 0; i < lines_.size(); ++i) {
      if (!IsHeaderContinuationLine(lines_[i])) {
        starts_.push_back(i);
      }
    }
    startsKnown_ = true;
  }
  for (const qsizetype i : starts_) {
    if (match(i)) {
      return;
    }
  }
}

qsizetype TIdHeaderList::FindHeader(QStringView name) const {
  qsizetype found = -1;
  ForEachCandidate(name, [&](qsizetype i) {
    if (!HasName(lines_[i], name)) {
      return false;
    }
    found = i;
    return true;
  });
  return found;
}

void TIdHeaderList::WriteHeader(const QString& name, const QString& value) {
  qsizetype index = FindHeader(name);
  if (value.isEmpty()) {
    if (index < 0) {
      return;
    }
    if (fold_) {
      RemoveContinuationLines(index);
    }
    lines_.removeAt(index);
    LinesChanged();
    return;
  }

  if (index < 0) {
    lines_.append(QString());
    index = lines_.size() - 1;
  }
  LinesChanged();
  QString line = name + separator_ + value;
  if (!fold_) {
    lines_[index] = std::move(line);
    return;
  }
  RemoveContinuationLines(index);
  QStringList pieces = WrapHeaderLine(line);
  lines_[index] = std::move(pieces[0]);
  for (qsizetype i = 1; i < pieces.size(); ++i) {
    lines_.insert(index + i, std::move(pieces[i]));
  }
}

void TIdHeaderList::CollectHeaderValues(QStringView name, TIdHeaderList* destination) const {
  if (destination == nullptr) {
    return;
  }
  // Collected first: the destination may be this very list.
  QStringList values;
  ForEachCandidate(name, [&](qsizetype i) {
    if (HasName(lines_[i], name)) {
      values.append(HeaderValueOfLine(i));
    }
    return false;
  });
  for (QString& value : values) {
    destination->Add(std::move(value));
  }
}

void TIdHeaderList::RemoveContinuationLines(qsizetype index) {
  const qsizetype first = std::max<qsizetype>(index + 1, 0);
  qsizetype end = first;
  while (end < lines_.size() && IsHeaderContinuationLine(lines_[end])) {
    ++end;
  }
  lines_.remove(first, end - first);
  LinesChanged();
}

QStringList TIdHeaderList::WrapHeaderLine(const QString& line) const {
  const QString wrapped = WrapText(line, kFoldBreak, kFoldBreakChars, foldWidth_);
  QStringList pieces;
  for (QStringView piece : QStringView(wrapped).split(u"\r\n")) {
    QString trimmed = TrimRight(piece);
    // A piece of nothing but blanks and control characters would leave an empty line, which
    // ends a header block; a reader trims those characters away in any case.
    if (trimmed.isEmpty() && !pieces.isEmpty()) {
      continue;
    }
    pieces.append(std::move(trimmed));
  }
  return pieces;
}
