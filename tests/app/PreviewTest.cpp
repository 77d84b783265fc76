#include "app/Preview.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/NamedRow.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <ostream>

namespace {

TickSource FixedTicks(uint32_t value) {
  return [value] {
    return value;
  };
}

QString NumberedName(uint32_t number) {
  return QStringLiteral("mqtemp%1.html").arg(QString::number(number, 16).toUpper(), 8, u'0');
}

void Touch(const QString& path) {
  ASSERT_TRUE(WriteWholeFile(path)) << path.toStdString();
}

class PreviewFiles : public testing::Test {
protected:
  PrivateTempDir temp_;
};

TEST_F(PreviewFiles, TempDirectoryEndsInOneSeparator) {
  EXPECT_EQ(TempDirectory(), temp_.Path() + u'/');
  qputenv("TMPDIR", QFile::encodeName(temp_.Path() + u'/'));
  EXPECT_EQ(TempDirectory(), temp_.Path() + u'/');
}

TEST_F(PreviewFiles, FreeBaseNameIsUsedAsItIs) {
  EXPECT_EQ(UniqueTempFileName(kPreviewBaseName), temp_.File("mqtemp.html"));
}

TEST_F(PreviewFiles, TakenBaseNameGivesTheTickNumberInHex) {
  Touch(temp_.File("mqtemp.html"));
  EXPECT_EQ(UniqueTempFileName(kPreviewBaseName, FixedTicks(0x00ABCDEF)),
            temp_.File("mqtemp00ABCDEF.html"));
}

TEST_F(PreviewFiles, TakenNumbersAreSkippedUpwardsAcrossTheWrap) {
  Touch(temp_.File("mqtemp.html"));
  Touch(temp_.File("mqtempFFFFFFFF.html"));
  Touch(temp_.File("mqtemp00000000.html"));
  EXPECT_EQ(UniqueTempFileName(kPreviewBaseName, FixedTicks(0xFFFFFFFF)),
            temp_.File("mqtemp00000001.html"));
}

TEST_F(PreviewFiles, ANameWithAPathStaysWhereItIs) {
  const QString elsewhere = temp_.File("sub");
  ASSERT_TRUE(QDir().mkdir(elsewhere));
  EXPECT_EQ(UniqueTempFileName(elsewhere + "/page.htm"), elsewhere + "/page.htm");
}

struct PatternCase : testsupport::NamedRow {
  const char* expected; // with the tick number 0x12 in place
};

class NumberMarkTest : public PreviewFiles, public testing::WithParamInterface<PatternCase> {};

TEST_P(NumberMarkTest, GoesWhereTheNameSays) {
  Touch(temp_.File(GetParam().name));
  EXPECT_EQ(UniqueTempFileName(QString::fromLatin1(GetParam().name), FixedTicks(0x12)),
            temp_.File(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Table, NumberMarkTest,
                         testing::Values(PatternCase{"mqtemp.html", "mqtemp00000012.html"},
                                         PatternCase{"noext", "noext00000012."},
                                         PatternCase{"a.b.c", "a.b00000012.c"},
                                         PatternCase{"x*y.txt", "x00000012y.txt"}));

TEST_F(PreviewFiles, ADanglingLinkCountsAsTaken) {
  ASSERT_TRUE(QFile::link(temp_.File("nowhere"), temp_.File("mqtemp.html")));
  EXPECT_EQ(UniqueTempFileName(kPreviewBaseName, FixedTicks(1)), temp_.File("mqtemp00000001.html"));
  EXPECT_FALSE(QFile::exists(temp_.File("nowhere")));
}

TEST_F(PreviewFiles, GivesUpAfter10001Candidates) {
  const uint32_t start = 0xFFFFF000; // the span crosses the wrap
  Touch(temp_.File("mqtemp.html"));
  for (uint32_t i = 0; i < 10000; ++i) {
    Touch(temp_.File(NumberedName(start + i)));
  }
  // 10000 numbers taken: the 10001st is the last one tried.
  EXPECT_EQ(UniqueTempFileName(kPreviewBaseName, FixedTicks(start)),
            temp_.File(NumberedName(start + 10000)));
  Touch(temp_.File(NumberedName(start + 10000)));
  try {
    UniqueTempFileName(kPreviewBaseName, FixedTicks(start));
    FAIL() << "no exception";
  } catch (const ETempFileNameExhausted& failure) {
    EXPECT_EQ(
        failure.Message(),
        QStringLiteral("Can't create temp file \"%1\".").arg(temp_.File("mqtemp{UniqueID}.html")));
  }
}

TEST_F(PreviewFiles, WritesOneLineWithCrLfAndNoByteOrderMark) {
  const QString code = QStringLiteral("<iframe src=\"x\"></iframe>\u00e9");
  TempFileNameSeries names(kPreviewBaseName);
  const QString written = WritePreviewFile(names, names.NextFree(), PreviewPageText(code));
  EXPECT_EQ(written, temp_.File("mqtemp.html"));
  EXPECT_EQ(
      ReadWholeFile(written),
      QByteArray("<html><body style=\"margin:0;padding:0;\"><iframe src=\"x\"></iframe>\xc3\xa9"
                 "</body></html>\r\n"));
}

TEST_F(PreviewFiles, ALinkPlantedAfterTheNameWasChosenIsNotFollowed) {
  const QString victim = temp_.File("victim.txt");
  ASSERT_TRUE(WriteWholeFile(victim, "keep me"));
  TempFileNameSeries names(kPreviewBaseName, FixedTicks(0x42));
  const QString chosen = names.NextFree();
  ASSERT_EQ(chosen, temp_.File("mqtemp.html"));
  ASSERT_TRUE(QFile::link(victim, chosen)); // the race: someone takes the name meanwhile
  const QString written = WritePreviewFile(names, chosen, QStringLiteral("page"));
  EXPECT_EQ(written, temp_.File("mqtemp00000042.html"));
  EXPECT_EQ(ReadWholeFile(victim), QByteArray("keep me"));
  EXPECT_EQ(ReadWholeFile(written), QByteArray("page\r\n"));
  EXPECT_EQ(QFile::symLinkTarget(chosen), victim);
}

TEST_F(PreviewFiles, AFileThatCannotBeCreatedSaysWhy) {
  const QString missing = temp_.File("gone/mqtemp.html");
  TempFileNameSeries names(missing);
  try {
    WritePreviewFile(names, names.NextFree(), QStringLiteral("page"));
    FAIL() << "no exception";
  } catch (const EFileCreateError& failure) {
    EXPECT_EQ(failure.Message(),
              QStringLiteral("Cannot create file \"%1\". No such file or directory").arg(missing));
  }
}

} // namespace
