#pragma once

// A stream that swallows what is written to it: bodies that must be read off the connection but
// are of no use to anyone go here, so that reading them costs no memory.

#include <QIODevice>

class TIdDiscardStream : public QIODevice {
public:
  // Open for reading and writing from the start. owner (may be null) frees it with itself.
  explicit TIdDiscardStream(QObject* owner = nullptr) : QIODevice(owner) {
    open(QIODevice::ReadWrite | QIODevice::Unbuffered);
  }

  // Writes are accepted whole and kept nowhere; reads give nothing; the position stays 0 and a
  // size cannot be set.
  bool isSequential() const override { return true; }

protected:
  qint64 readData(char*, qint64) override { return 0; }
  qint64 writeData(const char*, qint64 length) override { return length; }
};
