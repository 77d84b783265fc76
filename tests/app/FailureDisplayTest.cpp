#include "app/FailureDisplay.h"
#include "http/IdHTTPProtocol.h"
#include "net/IdException.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/NamedRow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <stdexcept>

namespace {

struct FullStopCase {
  const char16_t* message;
  const char16_t* shown;
};

// Names the case in test listings instead of its bytes.
void PrintTo(const FullStopCase& c, std::ostream* out) {
  *out << QString::fromUtf16(c.message).toStdString();
}

class FullStopRule : public testing::TestWithParam<FullStopCase> {};

TEST_P(FullStopRule, AppendsOnlyAfterCharactersAboveTheFullStop) {
  EXPECT_EQ(WithClosingFullStop(QString::fromUtf16(GetParam().message)),
            QString::fromUtf16(GetParam().shown));
}

INSTANTIATE_TEST_SUITE_P(
    Table, FullStopRule,
    testing::Values(FullStopCase{u"Disk full", u"Disk full."}, FullStopCase{u"Done.", u"Done."},
                    FullStopCase{u"Stop!", u"Stop!"}, FullStopCase{u"(see log)", u"(see log)"},
                    FullStopCase{u"Cut -", u"Cut -"}, FullStopCase{u"Name \"x\"", u"Name \"x\""},
                    FullStopCase{u"Error 42", u"Error 42."}, FullStopCase{u"Why?", u"Why?."},
                    FullStopCase{u"Path /", u"Path /."}, FullStopCase{u"caf\u00e9", u"caf\u00e9."},
                    FullStopCase{u"", u""}));

// Whose bytes a failure's text holds decides how it is shown: the library's own text as it is,
// what a peer sent (a status line) or what nobody vouches for escaped.
struct FailureTextCase : testsupport::NamedRow {
  std::function<void()> raise;
  QString shown;
};

class FailureTexts : public testing::TestWithParam<FailureTextCase> {};

TEST_P(FailureTexts, EscapeOnlyWhatTheLibraryDidNotWrite) {
  try {
    GetParam().raise();
    FAIL() << "nothing raised";
  } catch (const std::exception& failure) {
    EXPECT_EQ(FailureText(failure), GetParam().shown);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FailureTexts,
    testing::Values(FailureTextCase{"LibraryTextKeepsItsLineBreak",
                                    [] {
                                      throw EIdSocketError(
                                          10061,
                                          QStringLiteral("Socket Error # 10061\r\nConnection "
                                                         "refused."));
                                    },
                                    QStringLiteral("Socket Error # 10061\r\nConnection refused.")},
                    FailureTextCase{"PeersStatusLineIsEscaped",
                                    [] {
                                      throw EIdHTTPProtocolException(
                                          502, QStringLiteral("HTTP/1.1 502 \x1b[2J\tgone\u009b"),
                                          QStringLiteral("<p>\x07</p>"));
                                    },
                                    QStringLiteral("HTTP/1.1 502 \\x1b[2J\\tgone\\x9b")},
                    FailureTextCase{"ForeignTextIsEscaped",
                                    [] { throw std::runtime_error("line\none\x7f"); },
                                    QStringLiteral("line\\none\\x7f")}),
    testsupport::RowName());

TEST(ShowFailure, ShowsTheMessageInAnErrorBoxTitledWithTheApplication) {
  RecordedMessages messages;
  ShowFailure(Exception(QStringLiteral("Socket Error # 10061\nConnection refused")));
  ShowFailure(std::runtime_error("plain failure"));
  ASSERT_EQ(messages.Shown().size(), 2U);
  EXPECT_EQ(messages.Shown()[0].icon, QMessageBox::Critical);
  EXPECT_EQ(messages.Shown()[0].title, QStringLiteral("Marquelo"));
  EXPECT_EQ(messages.Shown()[0].text, QStringLiteral("Socket Error # 10061\nConnection refused."));
  EXPECT_EQ(messages.Shown()[1].text, QStringLiteral("plain failure."));
}

TEST(ShowNotice, ShowsTheTextAsItIs) {
  RecordedMessages messages;
  ShowNotice(QStringLiteral("Can't read this vantrel web page."));
  ASSERT_EQ(messages.Shown().size(), 1U);
  EXPECT_EQ(messages.Shown()[0].title, QStringLiteral("Marquelo"));
  EXPECT_EQ(messages.Shown()[0].text, QStringLiteral("Can't read this vantrel web page."));
}

TEST(RunGuarded, ShowsWhatAHandlerRaisesAndReturns) {
  RecordedMessages messages;
  RunGuarded([] { throw EConvertError(QStringLiteral("'x' is not a valid integer value")); });
  RunGuarded([] { throw 42; });
  bool ran = false;
  RunGuarded([&ran] { ran = true; });
  EXPECT_TRUE(ran);
  ASSERT_EQ(messages.Shown().size(), 2U);
  EXPECT_EQ(messages.Shown()[0].text, QStringLiteral("'x' is not a valid integer value."));
  EXPECT_EQ(messages.Shown()[1].text, QStringLiteral("An unknown failure occurred."));
}

TEST(ShowFailure, TheRealBoxIsModalTitledAndClosesWithOk) {
  ShownMessage seen{QMessageBox::NoIcon, {}, {}};
  // Closes the box once it is up, after noting what it shows; ShowFailure returns only then.
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&seen] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      seen = {box->icon(), box->windowTitle(), box->text(), box->detailedText()};
      box->button(QMessageBox::Ok)->click();
    }
  });
  closer.start(20);
  ShowFailure(Exception(QStringLiteral("Can't create temp file \"/tmp/mqtemp{UniqueID}.html\"")));
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.title, QStringLiteral("Marquelo"));
  EXPECT_EQ(seen.text, QStringLiteral("Can't create temp file \"/tmp/mqtemp{UniqueID}.html\""));
  EXPECT_EQ(seen.details, QString());

  ShowNotice(QStringLiteral("Can't read this vantrel web page."),
             QStringLiteral("Socket Error # 11001\r\nHost not found."));
  EXPECT_EQ(seen.text, QStringLiteral("Can't read this vantrel web page."));
  // The box's details are plain text, which keeps the line break as a line break.
  EXPECT_EQ(seen.details, QStringLiteral("Socket Error # 11001\nHost not found."));
}

} // namespace
