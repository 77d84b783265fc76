#pragma once

// Shared pieces of the window's tests: a private temporary directory and a record of the
// message boxes the program would have shown.

#include "app/FailureDisplay.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>
#include <gtest/gtest.h>

#include <vector>

// Points TMPDIR at a fresh directory of its own for its lifetime, so preview files of one
// test never meet another's or the user's.
class PrivateTempDir {
public:
  PrivateTempDir() : saved_(qgetenv("TMPDIR")), hadValue_(qEnvironmentVariableIsSet("TMPDIR")) {
    EXPECT_TRUE(dir_.isValid());
    qputenv("TMPDIR", QFile::encodeName(dir_.path()));
  }
  ~PrivateTempDir() {
    if (hadValue_) {
      qputenv("TMPDIR", saved_);
    } else {
      qunsetenv("TMPDIR");
    }
  }
  Q_DISABLE_COPY(PrivateTempDir)

  // The directory, without a closing "/".
  QString Path() const { return dir_.path(); }
  QString File(const QString& name) const { return dir_.filePath(name); }

private:
  QTemporaryDir dir_;
  QByteArray saved_;
  bool hadValue_;
};

struct ShownMessage {
  QMessageBox::Icon icon;
  QString title;
  QString text;
  QString details;
};

// Takes the place of the modal box for its lifetime and keeps what would have been shown.
class RecordedMessages {
public:
  RecordedMessages()
      : previous_(SetMessagePresenter([this](QMessageBox::Icon icon, const QString& title,
                                             const QString& text, const QString& details) {
          shown_.push_back({icon, title, text, details});
        })) {}
  ~RecordedMessages() { SetMessagePresenter(std::move(previous_)); }
  Q_DISABLE_COPY(RecordedMessages)

  const std::vector<ShownMessage>& Shown() const { return shown_; }

private:
  MessagePresenter previous_;
  std::vector<ShownMessage> shown_;
};

// Creates or replaces the file at path with bytes; false when it cannot.
inline bool WriteWholeFile(const QString& path, const QByteArray& bytes = {}) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Whole contents of a file, or an empty array when it cannot be read.
inline QByteArray ReadWholeFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
