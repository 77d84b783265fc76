#include "app/PageScan.h"

#include "tests/support/NamedRow.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct SplitCase : testsupport::NamedRow {
  QString text;
  QStringList lines;
};

class SplitLinesTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitLinesTest, BreaksWhereTheTextSays) {
  EXPECT_EQ(PageLines(GetParam().text), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitLinesTest,
    testing::Values(SplitCase{"Empty", "", {}}, SplitCase{"NoBreak", "one", {"one"}},
                    SplitCase{"LineFeeds", "a\nb\nc", {"a", "b", "c"}},
                    SplitCase{"CarriageReturns", "a\rb\rc", {"a", "b", "c"}},
                    SplitCase{"CrLfIsOneBreak", "a\r\nb", {"a", "b"}},
                    SplitCase{"LfCrIsTwoBreaks", "a\n\rb", {"a", "", "b"}},
                    SplitCase{"FinalBreakAddsNoLine", "a\r\n", {"a"}},
                    SplitCase{"BreakAloneIsOneEmptyLine", "\n", {""}},
                    SplitCase{"EmptyLinesKept", "a\n\n\nb", {"a", "", "", "b"}},
                    SplitCase{"NulEndsTheText", QString::fromUtf16(u"a\nb\0c\nd", 7), {"a", "b"}},
                    SplitCase{"NulFirst", QString::fromUtf16(u"\0a", 2), {}},
                    SplitCase{"MixedBreaks", "a\rb\nc\r\nd\n\re", {"a", "b", "c", "d", "", "e"}}),
    testsupport::RowName());

struct ExtractCase : testsupport::NamedRow {
  QString line;
  QString start;
  QString end;
  QString value;
};

class ExtractMarkedValueTest : public testing::TestWithParam<ExtractCase> {};

TEST_P(ExtractMarkedValueTest, TakesWhatStandsBetweenTheMarkers) {
  const ExtractCase& c = GetParam();
  EXPECT_EQ(ExtractMarkedValue(c.line, c.start, c.end), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExtractMarkedValueTest,
    testing::Values(
        ExtractCase{"Plain", "photostream_owner_nsid = \"A1\";", "photostream_owner_nsid = \"",
                    "\"", "A1"},
        ExtractCase{"SpacesTrimmed", "page_set = \"  7215  \";", "page_set = \"", "\"", "7215"},
        ExtractCase{"EmptyValue", "global_group_nsid = \"\";", "global_group_nsid = \"", "\"", ""},
        ExtractCase{"NoClosingQuote", "page_set = \"7215;", "page_set = \"", "\"", ""},
        ExtractCase{"NoStartMarker", "var x = \"7215\";", "page_set = \"", "\"", ""},
        ExtractCase{"OtherSpacing", "page_set=\"7215\";", "page_set = \"", "\"", ""},
        ExtractCase{"OtherCase", "PAGE_SET = \"7215\";", "page_set = \"", "\"", ""},
        ExtractCase{"EmptyEndMarker", "page_set = \"7215\";", "page_set = \"", "", ""},
        ExtractCase{"FirstOccurrenceWins", "page_set = \"1\"; page_set = \"2\";", "page_set = \"",
                    "\"", "1"},
        ExtractCase{"ControlCharactersTrimmed", "page_set = \"\t7215\t\";", "page_set = \"", "\"",
                    "7215"},
        ExtractCase{"LongerEndMarker", "<b>value</b>", "<b>", "</b>", "value"}),
    testsupport::RowName());

TEST(ScanPageLines, FirstNonEmptyValueOfEachMarkerWins) {
  const QStringList page{
      "<script>",
      "page_set = \"\";",                               // empty: a later line may still give it
      "global_group_nsid = \"G1\"; page_set = \"S1\";", // one line, two identifiers
      "",
      "photostream_owner_nsid = \"A1\";",
      "page_set = \"S2\"; global_group_nsid = \"G2\";", // both already found
      "photostream_owner_nsid=\"A2\";",
  };
  EXPECT_EQ(ScanPageLines(page), (SlideshowIds{"A1", "G1", "S1"}));
}

TEST(ScanPageLines, ALineWithoutClosingQuoteGivesNothingButALaterOneCan) {
  EXPECT_EQ(ScanPageLines({"page_set = \"S1", "page_set = \"S3\""}), (SlideshowIds{"", "", "S3"}));
}

TEST(ScanPageLines, FindsNothingInAPageWithoutMarkers) {
  EXPECT_EQ(ScanPageLines(PageLines(u"<html>\r\n<body>nothing here</body>\r\n</html>")),
            SlideshowIds{});
}

TEST(ScanPageLines, ScansPagesOfEveryLineEndingAlike) {
  for (const QString& breakText :
       {QStringLiteral("\r"), QStringLiteral("\n"), QStringLiteral("\r\n")}) {
    const QString page = QStringLiteral("x") + breakText + QStringLiteral("page_set = \"S1\"") +
                         breakText + QStringLiteral("photostream_owner_nsid = \"A1\"") + breakText;
    EXPECT_EQ(ScanPageLines(PageLines(page)), (SlideshowIds{"A1", "", "S1"}));
  }
}

TEST(ScanPageLines, ANulHidesEveryMarkerAfterIt) {
  const QString page = QStringLiteral("page_set = \"S1\"\n") + QChar(u'\0') +
                       QStringLiteral("\nphotostream_owner_nsid = \"A1\"\n");
  EXPECT_EQ(ScanPageLines(PageLines(page)), (SlideshowIds{"", "", "S1"}));
}

} // namespace
