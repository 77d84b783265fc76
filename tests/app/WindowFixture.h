#pragma once

// The real window for a test, with what every window test needs around it: preview files in a
// private temporary directory, message boxes recorded instead of waiting for a click, and the
// controls reached by name and pressed with real mouse clicks.

#include "app/SlideshowUnit.h"
#include "tests/app/AppTestSupport.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

class WindowFixture : public testing::Test {
protected:
  // The control of the window called name (a failure when there is none).
  template <typename Widget> Widget* Control(const char* name) {
    auto* widget = form_.findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QPlainTextEdit* Memo() { return Control<QPlainTextEdit>("HTMLMemo"); }
  QString Code() { return Memo()->toPlainText(); }

  void Press(const char* button) {
    QTest::mouseClick(Control<QPushButton>(button), Qt::LeftButton);
  }

  // Shown and holding the keyboard focus, so that keys reach it as they reach a user's window.
  void ShowActive() {
    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
    form_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form_));
  }

  PrivateTempDir temp_;
  RecordedMessages messages_;
  TSlideshowForm form_;
};
