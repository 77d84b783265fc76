#pragma once

// The real window driven end to end: addresses typed into the address field as a user types
// them, and the embed code a page should lead to, spelled out.

#include "app/HostNames.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/QtPrinters.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLineEdit>

#include <chrono>

namespace testsupport {

class EndToEndFixture : public WindowFixture {
protected:
  QLineEdit* AddressField() { return Control<QLineEdit>("URLEdit"); }

  // Replaces the address field's text with address, typed key by key as a user would.
  void TypeAddress(const QString& address) {
    AddressField()->selectAll();
    QTest::keyClick(AddressField(), Qt::Key_Delete);
    QTest::keyClicks(AddressField(), address);
  }
  // Presses Create and waits (at most limit) until its page read has ended.
  void PressCreate(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    Press("GenerateButton");
    EXPECT_TRUE(WaitUntil([this] { return !form_.PageReading(); }, limit));
  }

  // Runs the event loop until done() holds or limit passes; whether it holds.
  template <typename Condition>
  static bool WaitUntil(Condition done, std::chrono::milliseconds limit) {
    QDeadlineTimer deadline(limit);
    while (!done() && !deadline.hasExpired()) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return done();
  }

  // The embed code for the player's query (what follows base, the http or https player's
  // address), with the default width and height, spelled out as the user gets it.
  static QString ExpectedCode(const QString& query, const QString& base = SlideshowBaseAddress) {
    return QStringLiteral("<iframe align=\"center\" src=\"%1\" frameBorder=\"0\" width=\"500\" "
                          "height=\"500\" scrolling=\"no\"></iframe><br /><center><small>Created "
                          "with <a href=\"http://%2\" title=\"marquelo\">marquelo</a> from <a "
                          "href=\"http://%3\">Tarnwick</a>.</small></center>")
        .arg(base + query, CreditLinkHost, MakerSiteHost);
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
};

} // namespace testsupport
