#pragma once

// An ordered list of header lines ("name: value"), looked up by name without regard to case,
// with continuation lines (a line starting with a space or a tab belongs to the line above) and
// wrapping of long lines. Lines are stored exactly as given; nothing is normalised on insertion.
// A list is used by one thread at a time, lookups included.

#include "net/IdException.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

// An index outside the list was given to an operation that needs an existing line.
MARQUELO_DECLARE_EXCEPTION(EListError, Exception)

class TIdHeaderList {
public:
  // An empty list with separator ": ", unfolding and folding on, fold width 78.
  TIdHeaderList();

  // --- The list of lines --------------------------------------------------------------------
  qsizetype Count() const { return lines_.size(); }
  bool IsEmpty() const { return lines_.isEmpty(); }
  // The line at index. Raises EListError when index is outside 0..Count()-1.
  const QString& operator[](qsizetype index) const;
  // Replaces the line at index. Raises EListError when index is outside 0..Count()-1.
  void Put(qsizetype index, QString line);
  // Appends a line as it stands.
  void Add(QString line) {
    lines_.append(std::move(line));
    LinesChanged();
  }
  // Inserts a line before index; index Count() appends. Raises EListError outside 0..Count().
  void Insert(qsizetype index, QString line);
  // Removes the line at index. Raises EListError when index is outside 0..Count()-1.
  void Delete(qsizetype index);
  void Clear() {
    lines_.clear();
    LinesChanged();
  }
  // Every line followed by CR LF, as one text.
  QString Text() const;
  // Replaces the lines by the lines of text, split at CR LF, CR or LF. A break at the very end
  // adds no empty line; an empty text gives an empty list.
  void SetText(QStringView text);
  // Replaces the lines by a copy of source's lines; this list's settings stay as they are.
  void Assign(const TIdHeaderList& source);
  // The lines themselves, for reading in bulk.
  const QStringList& Lines() const { return lines_; }
  QStringList::const_iterator begin() const { return lines_.cbegin(); }
  QStringList::const_iterator end() const { return lines_.cend(); }

  // --- Settings -----------------------------------------------------------------------------
  // Written between name and value; when reading, only its text without trailing blanks (the
  // colon) is looked for.
  const QString& HeaderSeparator() const { return separator_; }
  void SetHeaderSeparator(const QString& separator);
  // Whether a value read takes the continuation lines after its line along.
  bool UnfoldContinuations() const { return unfold_; }
  void SetUnfoldContinuations(bool on) { unfold_ = on; }
  // Whether a value written is wrapped by WrapHeaderLine.
  bool FoldLongLines() const { return fold_; }
  void SetFoldLongLines(bool on) { fold_ = on; }
  // The column limit for wrapping.
  int FoldWidth() const { return foldWidth_; }
  void SetFoldWidth(int width) { foldWidth_ = width; }

  // --- Headers ------------------------------------------------------------------------------
  // The text of the line before the first separator, untrimmed; empty for a line without one
  // and for an index outside the list.
  QString HeaderNameOfLine(qsizetype index) const;
  // The trimmed text after the name and the separator (the whole line when it has none); with
  // UnfoldContinuations on, the following continuation lines are joined on, one space apart.
  // Empty for an index outside the list.
  QString HeaderValueOfLine(qsizetype index) const;
  // The index of the first line, continuation lines included, whose name equals name without
  // regard to case; -1 when there is none.
  qsizetype FindHeader(QStringView name) const;
  // The value of the first line named name; empty when there is none.
  QString ReadHeader(QStringView name) const { return HeaderValueOfLine(FindHeader(name)); }
  // Sets the first line named name to name, separator and value, keeping its place (appending
  // it when absent; wrapped with FoldLongLines on, its old continuation lines replaced). An empty
  // value removes the line and, with FoldLongLines on, its continuation lines.
  void WriteHeader(const QString& name, const QString& value);
  // Appends to destination the value of every line named name, in list order. Does nothing
  // when destination is null.
  void CollectHeaderValues(QStringView name, TIdHeaderList* destination) const;
  // Deletes the continuation lines that directly follow the line at index.
  void RemoveContinuationLines(qsizetype index);
  // The line wrapped at FoldWidth into pieces; every piece after the first starts with a space
  // and none has trailing blanks. A piece that trims to nothing is left out, so that no empty
  // line can end a header block early.
  QStringList WrapHeaderLine(const QString& line) const;

private:
  qsizetype SeparatorAt(const QString& line) const;
  bool HasName(const QString& line, QStringView name) const;
  QStringView NameOf(const QString& line) const;
  QStringView ValueOf(const QString& line) const;
  void CheckIndex(qsizetype index, qsizetype limit) const;
  // Calls match(index) in list order for every line a lookup of name has to look at, until it
  // returns true: the lines that start a header, or every line when name could be the name of
  // a continuation line (it is empty or begins with a space or a tab).
  template <typename Match> void ForEachCandidate(QStringView name, Match match) const;
  // Marks the index of header starts out of date; every change of the lines calls it.
  void LinesChanged() noexcept { startsKnown_ = false; }

  QStringList lines_;
  // Which lines start a header, made by the first lookup after a change: a long run of
  // continuation lines then costs the lookups that follow nothing.
  mutable std::vector<qsizetype> starts_;
  mutable bool startsKnown_ = false;
  QString separator_;
  QString searchSeparator_; // separator_ without trailing blanks
  bool unfold_ = true;
  bool fold_ = true;
  int foldWidth_ = 78;
};

// Whether line continues the header above it (starts with a space or a horizontal tab).
inline bool IsHeaderContinuationLine(QStringView line) noexcept {
  return !line.isEmpty() && (line[0] == u' ' || line[0] == u'\t');
}

// Cuts the first field off a header value: returns the text before the first delimiter and
// leaves in text what follows that delimiter. Without a delimiter, returns the whole text and
// leaves text empty.
QString FetchField(QString& text, QStringView delimiter);

// Breaks text into lines no wider than width columns where it can: after the last of
// breakChars met before the limit, outside double quotes, inserting breakText there. A
// breakText already in the text (compared without regard to case) starts a new line too. A run
// without any break character stays whole however long. A surrogate pair counts as one column.
QString WrapText(QStringView text, QStringView breakText, QStringView breakChars, int width);
