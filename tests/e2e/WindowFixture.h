#pragma once

// The real window, driven as a user drives it: addresses typed into the address field, the
// buttons clicked. Preview files go to a private temporary directory and message boxes are
// recorded instead of waiting for a click.

#include "app/HostNames.h"
#include "app/SlideshowUnit.h"
#include "tests/app/AppTestSupport.h"
#include "tests/http/QtPrinters.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace testsupport {

class WindowFixture : public testing::Test {
protected:
  template <typename Widget> Widget* Control(const char* name) {
    auto* widget = form_.findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QLineEdit* AddressField() { return Control<QLineEdit>("URLEdit"); }
  QString Code() { return Control<QPlainTextEdit>("HTMLMemo")->toPlainText(); }

  // Replaces the address field's text by typing address, as a user pasting it would.
  void TypeAddress(const QString& address) {
    AddressField()->selectAll();
    QTest::keyClick(AddressField(), Qt::Key_Delete);
    QTest::keyClicks(AddressField(), address);
  }
  void Press(const char* button) {
    QTest::mouseClick(Control<QPushButton>(button), Qt::LeftButton);
  }
  void PressCreate() { Press("GenerateButton"); }

  // Shown and active, so that it is the window a user would see and type into.
  void ShowActive() {
    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
    form_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form_));
  }

  // The embed code for the player's query (what follows SlideshowBaseAddress), with the
  // default width and height, spelled out as the user gets it.
  static QString ExpectedCode(const QString& query) {
    return QStringLiteral("<iframe align=\"center\" src=\"%1\" frameBorder=\"0\" width=\"500\" "
                          "height=\"500\" scrolling=\"no\"></iframe><br /><center><small>Created "
                          "with <a href=\"http://%2\" title=\"marquelo\">marquelo</a> from <a "
                          "href=\"http://%3\">Tarnwick</a>.</small></center>")
        .arg(SlideshowBaseAddress + query, CreditLinkHost, MakerSiteHost);
  }

  // The texts of the message boxes shown so far.
  QStringList ShownTexts() const {
    QStringList texts;
    for (const ShownMessage& message : messages_.Shown()) {
      texts << message.text;
    }
    return texts;
  }

  static inline const QString CantRead = QStringLiteral("Can't read this vantrel web page.");

  PrivateTempDir temp_;
  RecordedMessages messages_;
  TSlideshowForm form_;
};

} // namespace testsupport
