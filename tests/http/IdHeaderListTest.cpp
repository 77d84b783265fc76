#include "http/IdHeaderList.h"

#include "tests/http/HeaderListOf.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// --- Reading --------------------------------------------------------------------------------

struct ReadCase {
  const char* label;
  QStringList lines;
  QString name;
  QString value;
  qsizetype index;
};

class ReadHeaderTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadHeaderTest, FindsAndReads) {
  const ReadCase& c = GetParam();
  const TIdHeaderList list = ListOf(c.lines);
  EXPECT_EQ(list.FindHeader(c.name), c.index);
  EXPECT_EQ(list.ReadHeader(c.name), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadHeaderTest,
    testing::Values(
        ReadCase{"NameInOtherCase", {"Content-Type: text/html"}, "content-type", "text/html", 0},
        ReadCase{
            "SpaceBeforeColonIsPartOfName", {"Content-Type : text/html"}, "Content-Type", "", -1},
        ReadCase{"SpaceBeforeColonFoundByItsOwnName",
                 {"Content-Type : text/html"},
                 "Content-Type ",
                 "text/html",
                 0},
        ReadCase{"ValueTrimmed", {"X:  \t padded \t "}, "X", "padded", 0},
        ReadCase{"NoSpaceAfterColon", {"X:tight"}, "X", "tight", 0},
        ReadCase{"ContinuationsJoinedBySingleSpaces", {"X: a", " b", "\tc"}, "x", "a b c", 0},
        ReadCase{"ContinuationStopsAtNextHeader", {"X: a", "  b  ", "Y: c", " d"}, "X", "a b", 0},
        ReadCase{"BlankContinuationAddsNothing", {"X: a", "   ", " b"}, "X", "a b", 0},
        ReadCase{"EmptyValueTakesItsContinuation", {"X:", "\t", " b ", " c"}, "X", "b c", 0},
        ReadCase{"FirstOfRepeatedHeader", {"A: 1", "X: first", "X: second"}, "X", "first", 1},
        ReadCase{"LaterColonsStayInValue",
                 {"Location: http://h:8080/p"},
                 "location",
                 "http://h:8080/p",
                 0},
        ReadCase{"ContinuationLineScannedAsLine", {"A: 1", " B: 2"}, " B", "2", 1},
        ReadCase{"LineWithoutColonHasNoName", {"NoColon", "Y: 1"}, "NoColon", "", -1},
        ReadCase{"EmptyNameFindsLineWithoutColon", {"NoColon"}, "", "NoColon", 0},
        ReadCase{"NameHoldingTheSeparatorNeverMatches", {"A:B: 1"}, "A:B", "", -1},
        ReadCase{"NameEndsAtTheFirstSeparator", {"A:B: 1"}, "a", "B: 1", 0},
        ReadCase{"EmptyList", {}, "X", "", -1}),
    [](const auto& info) { return std::string(info.param.label); });

// A lookup after a change sees the lines as they are now, however the list was changed since
// the last lookup.
struct ChangeCase {
  const char* label;
  std::function<void(TIdHeaderList&)> change;
  qsizetype indexOfC;
  QString valueOfC;
};

class LookupAfterChangeTest : public testing::TestWithParam<ChangeCase> {};

TEST_P(LookupAfterChangeTest, SeesTheChangedLines) {
  const ChangeCase& c = GetParam();
  TIdHeaderList list = ListOf({"A: 1", " B: 2", "C: 3"});
  ASSERT_EQ(list.FindHeader(u"C"), 2);
  c.change(list);
  EXPECT_EQ(list.FindHeader(u"C"), c.indexOfC);
  EXPECT_EQ(list.ReadHeader(u"c"), c.valueOfC);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LookupAfterChangeTest,
    testing::Values(
        ChangeCase{"Add", [](TIdHeaderList& l) { l.Add(" more"); }, 2, "3 more"},
        ChangeCase{"InsertBefore", [](TIdHeaderList& l) { l.Insert(0, "C: 0"); }, 0, "0"},
        ChangeCase{"DeleteAbove", [](TIdHeaderList& l) { l.Delete(0); }, 1, "3"},
        ChangeCase{"PutTurnsLineIntoContinuation", [](TIdHeaderList& l) { l.Put(2, " C: 3"); }, -1,
                   ""},
        ChangeCase{"PutTurnsContinuationIntoHeader", [](TIdHeaderList& l) { l.Put(1, "C: 2"); }, 1,
                   "2"},
        ChangeCase{"RemoveContinuations", [](TIdHeaderList& l) { l.RemoveContinuationLines(0); }, 1,
                   "3"},
        ChangeCase{"WriteHeaderAppends",
                   [](TIdHeaderList& l) {
                     l.WriteHeader("A", "");
                     l.WriteHeader("Z", "9");
                   },
                   0, "3"},
        ChangeCase{"SetText", [](TIdHeaderList& l) { l.SetText(u"X: 1\r\nC: 5\r\n"); }, 1, "5"},
        ChangeCase{"AssignFromOther", [](TIdHeaderList& l) { l.Assign(ListOf({"C: 7"})); }, 0, "7"},
        ChangeCase{"Clear", [](TIdHeaderList& l) { l.Clear(); }, -1, ""}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(HeaderList, ReadsOnlyItsOwnLineWhenUnfoldingIsOff) {
  TIdHeaderList list = ListOf({"X: a", " b"});
  list.SetUnfoldContinuations(false);
  EXPECT_EQ(list.ReadHeader(u"X"), u"a");
}

TEST(HeaderList, SeparatorIsSearchedWithoutTrailingBlanks) {
  TIdHeaderList list = ListOf({"realm=\"x\"", "nonce = 5"});
  list.SetHeaderSeparator(QStringLiteral("= "));
  EXPECT_EQ(list.ReadHeader(u"realm"), u"\"x\"");
  EXPECT_EQ(list.ReadHeader(u"nonce "), u"5");
  list.WriteHeader(QStringLiteral("qop"), QStringLiteral("auth"));
  EXPECT_EQ(list[2], u"qop= auth");
}

TEST(HeaderList, NameAndValueOfLinesOutsideTheListAreEmpty) {
  const TIdHeaderList list = ListOf({"A: 1"});
  EXPECT_EQ(list.HeaderNameOfLine(0), u"A");
  EXPECT_EQ(list.HeaderValueOfLine(0), u"1");
  for (qsizetype index : {-1, 1, 100}) {
    EXPECT_EQ(list.HeaderNameOfLine(index), u"") << index;
    EXPECT_EQ(list.HeaderValueOfLine(index), u"") << index;
  }
}

TEST(HeaderList, CollectsEveryValueInOrderWithContinuations) {
  const TIdHeaderList list = ListOf({"WWW-Authenticate: Foo realm=\"a\"", "Server: x",
                                     "www-authenticate: Basic", "  realm=\"b\"", "X: y"});
  TIdHeaderList values = ListOf({"kept"});
  list.CollectHeaderValues(u"WWW-Authenticate", &values);
  EXPECT_EQ(values.Lines(), QStringList({"kept", "Foo realm=\"a\"", "Basic realm=\"b\""}));
}

TEST(HeaderList, CollectingIntoItselfReadsOnlyTheOriginalLines) {
  TIdHeaderList list = ListOf({"X: 1", "X: 2"});
  list.CollectHeaderValues(u"X", &list);
  EXPECT_EQ(list.Lines(), QStringList({"X: 1", "X: 2", "1", "2"}));
}

// --- Writing --------------------------------------------------------------------------------

struct WriteCase {
  const char* label;
  QStringList before;
  QString name;
  QString value;
  bool fold;
  QStringList after;
};

class WriteHeaderTest : public testing::TestWithParam<WriteCase> {};

TEST_P(WriteHeaderTest, ChangesLinesInPlace) {
  const WriteCase& c = GetParam();
  TIdHeaderList list = ListOf(c.before);
  list.SetFoldLongLines(c.fold);
  list.WriteHeader(c.name, c.value);
  EXPECT_EQ(list.Lines(), c.after);
}

const QStringList kFive = {"A: 1", "B: 2", "Host: old", "D: 4", "E: 5"};

INSTANTIATE_TEST_SUITE_P(
    Table, WriteHeaderTest,
    testing::Values(
        WriteCase{"ReplacedThirdStaysThird",
                  kFive,
                  "HOST",
                  "new",
                  true,
                  {"A: 1", "B: 2", "HOST: new", "D: 4", "E: 5"}},
        WriteCase{"AbsentNameAppended", {"A: 1"}, "B", "2", true, {"A: 1", "B: 2"}},
        WriteCase{"EmptyValueRemovesLineAndContinuations",
                  {"A: 1", "B: 2", " x", "\ty", "C: 3"},
                  "b",
                  "",
                  true,
                  {"A: 1", "C: 3"}},
        WriteCase{"EmptyValueWithoutFoldingLeavesContinuations",
                  {"A: 1", "B: 2", " x", "C: 3"},
                  "B",
                  "",
                  false,
                  {"A: 1", " x", "C: 3"}},
        WriteCase{"EmptyValueForAbsentNameChangesNothing", {"A: 1"}, "B", "", true, {"A: 1"}},
        WriteCase{"ReplacingDropsOldContinuations",
                  {"B: old", " more", "C: 3"},
                  "B",
                  "new",
                  true,
                  {"B: new", "C: 3"}},
        WriteCase{"ReplacingWithoutFoldingKeepsOldContinuations",
                  {"B: old", " more", "C: 3"},
                  "B",
                  "new",
                  false,
                  {"B: new", " more", "C: 3"}},
        WriteCase{
            "OnlyFirstOfRepeatedReplaced", {"X: 1", "X: 2"}, "X", "3", true, {"X: 3", "X: 2"}},
        WriteCase{"WrappedPiecesFollowTheirLine",
                  {"Cookie: x", "Z: 2"},
                  "Cookie",
                  QString(40, u'a') + u' ' + QString(40, u'b'),
                  true,
                  {"Cookie: " + QString(40, u'a'), " " + QString(40, u'b'), "Z: 2"}},
        WriteCase{"LongLineStaysWholeWithoutFolding",
                  {},
                  "Cookie",
                  QString(40, u'a') + u' ' + QString(40, u'b'),
                  false,
                  {"Cookie: " + QString(40, u'a') + u' ' + QString(40, u'b')}}),
    [](const auto& info) { return std::string(info.param.label); });

// A cookie value of pairs of kPairSize characters with their separator.
constexpr qsizetype kPairSize = 18; // "name000=value000; "
QString CookieValue(int pairs) {
  QStringList parts;
  for (int i = 0; i < pairs; ++i) {
    parts << QStringLiteral("name%1=value%1").arg(i, 3, 10, QChar(u'0'));
  }
  return parts.join(QStringLiteral("; "));
}

TEST(HeaderList, FoldsAtTheLastBreakBeforeTheWidthIsPassed) {
  for (const int width : {78, 1024}) {
    TIdHeaderList list;
    list.SetFoldWidth(width);
    const QString value = CookieValue(200);
    list.WriteHeader(QStringLiteral("Cookie"), value);

    ASSERT_GT(list.Count(), 1) << width;
    QString joined;
    for (qsizetype i = 0; i < list.Count(); ++i) {
      const QString& line = list[i];
      const bool last = i + 1 == list.Count();
      // Columns are counted from 1 and the cut comes once the width is passed; the fold space
      // that starts a continuation is not counted.
      const qsizetype counted = line.size() - (i > 0 ? 1 : 0);
      EXPECT_LE(counted, width - 1) << width << " line " << i;
      if (!last) {
        EXPECT_TRUE(line.endsWith(u';')) << line.toStdString();
        // The cut came at the last break that fitted: the next pair's break would not have.
        EXPECT_GE(counted + kPairSize, width) << width << " line " << i;
      }
      if (i > 0) {
        EXPECT_TRUE(line.startsWith(u' ') && !line.startsWith(u"  ")) << line.toStdString();
      }
      joined += i == 0 ? line : line.mid(1);
      if (!last) {
        joined += u' ';
      }
    }
    EXPECT_EQ(joined, QStringLiteral("Cookie: ") + value) << width;
    EXPECT_EQ(list.ReadHeader(u"cookie"), value) << width;
  }
}

TEST(HeaderList, WidthOf1024KeepsAHundredCharacterCookieOnOneLine) {
  TIdHeaderList list;
  list.SetFoldWidth(1024);
  const QString value = CookieValue(6).left(100);
  list.WriteHeader(QStringLiteral("Cookie"), value);
  EXPECT_EQ(list.Lines(), QStringList({"Cookie: " + value}));
}

TEST(HeaderList, RemovesOnlyTheContinuationsDirectlyBelow) {
  TIdHeaderList list = ListOf({"A: 1", " a", "\tb", "C: 3", " c"});
  list.RemoveContinuationLines(0);
  EXPECT_EQ(list.Lines(), QStringList({"A: 1", "C: 3", " c"}));
  list.RemoveContinuationLines(2);
  EXPECT_EQ(list.Lines(), QStringList({"A: 1", "C: 3", " c"}));
}

// --- The list of lines ----------------------------------------------------------------------

struct TextCase {
  QString text;
  QStringList lines;
};

class SetTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(SetTextTest, SplitsAtEveryKindOfLineBreak) {
  TIdHeaderList list = ListOf({"old"});
  list.SetText(GetParam().text);
  EXPECT_EQ(list.Lines(), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Table, SetTextTest,
                         testing::Values(TextCase{"", {}}, TextCase{"a", {"a"}},
                                         TextCase{"a\r\nb\r\n", {"a", "b"}},
                                         TextCase{"a\nb\rc", {"a", "b", "c"}},
                                         TextCase{"a\r\n\r\nb", {"a", "", "b"}},
                                         TextCase{"a\n\r b", {"a", "", " b"}},
                                         TextCase{"\r\n", {""}}, TextCase{"a\r\r\n", {"a", ""}}));

TEST(HeaderList, TextEndsEveryLineWithCrLf) {
  EXPECT_EQ(ListOf({"A: 1", "", " x"}).Text(), u"A: 1\r\n\r\n x\r\n");
  EXPECT_EQ(TIdHeaderList().Text(), u"");
}

TEST(HeaderList, AssignCopiesLinesButNotSettings) {
  TIdHeaderList target = ListOf({"old"});
  target.SetFoldLongLines(false);
  TIdHeaderList source = ListOf({"A: 1", "B: 2"});
  source.SetFoldWidth(10);
  target.Assign(source);
  EXPECT_EQ(target.Lines(), source.Lines());
  EXPECT_FALSE(target.FoldLongLines());
  EXPECT_EQ(target.FoldWidth(), 78);
  target.Assign(target);
  EXPECT_EQ(target.Count(), 2);
}

TEST(HeaderList, IndexOutsideTheListRaisesListError) {
  TIdHeaderList list = ListOf({"A: 1"});
  try {
    (void)list[1];
    FAIL() << "no exception";
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), u"List index out of bounds (1)");
  }
  EXPECT_THROW(list.Put(-1, QString()), EListError);
  EXPECT_THROW(list.Delete(1), EListError);
  EXPECT_THROW(list.Insert(2, QString()), EListError);
  list.Insert(1, QStringLiteral("B: 2"));
  list.Insert(0, QStringLiteral("Z: 0"));
  list.Put(1, QStringLiteral("A: one"));
  list.Delete(2);
  EXPECT_EQ(list.Lines(), QStringList({"Z: 0", "A: one"}));
}

// --- Wrapping -------------------------------------------------------------------------------

struct WrapCase {
  const char* label;
  QString text;
  int width;
  QString wrapped;
};

class WrapTextTest : public testing::TestWithParam<WrapCase> {};

TEST_P(WrapTextTest, BreaksAsTheHeaderRulesSay) {
  const WrapCase& c = GetParam();
  EXPECT_EQ(WrapText(c.text, u"\r\n ", u"\t ,", c.width), c.wrapped);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WrapTextTest,
    testing::Values(
        // The cut comes once the column has passed the width, at the last break met.
        WrapCase{"AtLastSpace", "aaa bbb ccc", 8, "aaa bbb \r\n ccc"},
        WrapCase{"CommaStaysAtLineEnd", "a,b,c", 2, "a,\r\n b,\r\n c"},
        // Blanks after a cut are not scanned again but stay in the text.
        WrapCase{"BlankRunAfterCutKept", "aa  bb", 3, "aa \r\n  bb"},
        WrapCase{"LongWordNeverCut", QString(100, u'x'), 10, QString(100, u'x')},
        WrapCase{"LeadingBlankIsNoBreak", " " + QString(20, u'x'), 5, " " + QString(20, u'x')},
        WrapCase{"QuotedBlanksAreNoBreaks", "a \"b c\" d", 3, "a \r\n \"b c\" \r\n d"},
        WrapCase{"ExistingBreakKept", "ab\r\n cd", 100, "ab\r\n cd"},
        WrapCase{"ExistingBreakRestartsColumn", "aaaa\r\n bb cc", 5, "aaaa\r\n bb cc"},
        WrapCase{"ExistingBreakRestartsColumnThenCuts", "aaaa\r\n bb cc dd", 5,
                 "aaaa\r\n bb \r\n cc dd"},
        WrapCase{"CrLfWithoutSpaceIsNoExistingBreak", "ab\r\ncd ef", 6, "ab\r\ncd \r\n ef"},
        WrapCase{"PassedOnLastCharacterAddsNoBreak", "ab cd", 5, "ab cd"},
        WrapCase{"PassedBeforeLastCharacterCuts", "ab cde", 5, "ab \r\n cde"},
        WrapCase{"SurrogatePairIsOneColumn", QString::fromUtf16(u"\U0001F600\U0001F600 a"), 5,
                 QString::fromUtf16(u"\U0001F600\U0001F600 a")},
        WrapCase{"SurrogatePairsBeforeBreak", QString::fromUtf16(u"\U0001F600\U0001F600 ab"), 4,
                 QString::fromUtf16(u"\U0001F600\U0001F600 \r\n ab")},
        WrapCase{"Empty", "", 5, ""}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(HeaderList, WrapHeaderLineTrimsPiecesAtTheirEnds) {
  TIdHeaderList list;
  list.SetFoldWidth(8);
  EXPECT_EQ(list.WrapHeaderLine(QStringLiteral("aaa bbb \tccc")),
            QStringList({"aaa bbb", " \tccc"}));
  EXPECT_EQ(list.WrapHeaderLine(QStringLiteral("short")), QStringList({"short"}));
}

TEST(HeaderList, FoldingNeverWritesAnEmptyLine) {
  // Pieces made only of control characters, or only of what follows a break already in the
  // value, trim to nothing: an empty line there would end the header block and cut the value.
  const auto visible = [](const QString& text) {
    QString kept;
    for (QChar c : text) {
      if (c.unicode() > 32) {
        kept += c;
      }
    }
    return kept;
  };
  const QString values[] = {QStringLiteral("aaaa \x01 bbbb"), QStringLiteral("aaaa \x01\x02"),
                            QStringLiteral("aaaa\r\n \r\n bbbb")};
  for (const QString& value : values) {
    TIdHeaderList list = ListOf({"A: 1"});
    list.SetFoldWidth(6);
    list.WriteHeader(QStringLiteral("X"), value);
    EXPECT_FALSE(list.Lines().contains(QString())) << list.Lines().join(u'|').toStdString();
    EXPECT_EQ(visible(list.ReadHeader(u"X")), visible(value));
  }
}

TEST(HeaderList, FetchFieldCutsAtTheFirstDelimiter) {
  QString text = QStringLiteral("bytes 0-499/1234");
  EXPECT_EQ(FetchField(text, u" "), u"bytes");
  EXPECT_EQ(FetchField(text, u"/"), u"0-499");
  EXPECT_EQ(text, u"1234");
  EXPECT_EQ(FetchField(text, u" "), u"1234");
  EXPECT_EQ(text, u"");
  EXPECT_EQ(FetchField(text, u" "), u"");
}

} // namespace
