#include "net/IdStreamWriter.h"

#include <QBuffer>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

// A stream of each kind the cut knows, holding "0123456789" and left at position, then cut.
struct CutCase {
  const char* name;
  qint64 position;
  QByteArray expected;
};

class CutStream : public testing::TestWithParam<CutCase> {};

QByteArray CutAndRead(QIODevice& stream, qint64 position) {
  stream.write("0123456789");
  stream.seek(position);
  CutStreamAtPosition(stream);
  EXPECT_EQ(stream.pos(), position);
  stream.seek(0);
  return stream.readAll();
}

TEST_P(CutStream, KeepsExactlyWhatLiesBeforeThePosition) {
  const CutCase& c = GetParam();
  QBuffer buffer;
  buffer.open(QIODevice::ReadWrite);
  EXPECT_EQ(CutAndRead(buffer, c.position), c.expected) << c.name << " (buffer)";

  QTemporaryFile file;
  ASSERT_TRUE(file.open());
  EXPECT_EQ(CutAndRead(file, c.position), c.expected) << c.name << " (file)";
  EXPECT_EQ(file.size(), c.expected.size()) << c.name << " (file)";
}

INSTANTIATE_TEST_SUITE_P(Table, CutStream,
                         testing::Values(CutCase{"inside", 4, "0123"},
                                         CutCase{"at the start", 0, ""},
                                         CutCase{"at the end", 10, "0123456789"}));

} // namespace
