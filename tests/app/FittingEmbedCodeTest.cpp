#include "app/EmbedCode.h"

#include "tests/support/NamedRow.h"

#include <QString>
#include <gtest/gtest.h>

namespace {

struct TitleCase : testsupport::NamedRow {
  SlideshowIds ids;
  const char* title;
};

class FrameTitleTest : public testing::TestWithParam<TitleCase> {};

TEST_P(FrameTitleTest, NamesTheMostSpecificIdentifierKnown) {
  EXPECT_EQ(FrameTitle(GetParam().ids), QString::fromUtf8(GetParam().title));
}

INSTANTIATE_TEST_SUITE_P(
    Table, FrameTitleTest,
    testing::Values(
        TitleCase{"NothingKnown", {}, "vantrel slideshow"},
        TitleCase{"Owner", {"48213907@N03", "", ""}, "vantrel slideshow of user 48213907@N03"},
        TitleCase{"Group", {"", "34981765@N20", ""}, "vantrel slideshow of group 34981765@N20"},
        TitleCase{"SetOverItsOwner", {"A1", "", "7215"}, "vantrel slideshow of set 7215"},
        TitleCase{"GroupOverOwner", {"A1", "G1", ""}, "vantrel slideshow of group G1"},
        // A page read from anywhere decides what the identifiers hold.
        TitleCase{"MarkupCannotLeaveTheAttribute",
                  {"", "", "\"><script>&"},
                  "vantrel slideshow of set %22%3E%3Cscript%3E%26"}),
    testsupport::RowName());

struct PercentCase : testsupport::NamedRow {
  int32_t width;
  int32_t height;
  const char* percent;
};

class HeightPercentTest : public testing::TestWithParam<PercentCase> {};

TEST_P(HeightPercentTest, GivesTheShapeInFourPlacesAtMost) {
  EXPECT_EQ(HeightPercentOfWidth(GetParam().width, GetParam().height),
            QString::fromLatin1(GetParam().percent));
}

INSTANTIATE_TEST_SUITE_P(Table, HeightPercentTest,
                         testing::Values(PercentCase{"Whole", 500, 400, "80"},
                                         PercentCase{"Half", 400, 250, "62.5"},
                                         PercentCase{"Recurring", 3, 1, "33.3333"},
                                         PercentCase{"RoundedUp", 3, 2, "66.6667"},
                                         PercentCase{"Tallest", 1, 9999, "999900"},
                                         PercentCase{"Flattest", 9999, 1, "0.01"}),
                         testsupport::RowName());

} // namespace
