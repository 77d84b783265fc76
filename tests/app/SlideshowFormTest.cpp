// The main window driven as a user drives it: real widgets under an X display, real clicks and
// keys, the real clipboard, real preview files and the real browser engine.

#include "app/EmbedCode.h"
#include "app/HostNames.h"
#include "app/SlideshowUnit.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/NamedRow.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <ostream>

namespace {

class SlideshowFormTest : public WindowFixture {
protected:
  QLineEdit* Edit(const char* name) { return Control<QLineEdit>(name); }

  // Names in the private temporary directory, links included, in name order.
  QStringList EntriesOfTempDir() const {
    return QDir(temp_.Path()).entryList(QDir::Files | QDir::System, QDir::Name);
  }

  void Fill(const char* edit, const QString& text) { Edit(edit)->setText(text); }

  // The code Create should give for the query after SlideshowBaseAddress.
  static QString ExpectedCode(const QString& query, const char* width = "500",
                              const char* height = "500") {
    return EmbedCode(SlideshowBaseAddress + query, QString::fromLatin1(width),
                     QString::fromLatin1(height));
  }
};

TEST_F(SlideshowFormTest, AFreshStartShowsTheDescribedState) {
  EXPECT_EQ(form_.windowTitle(), QStringLiteral("Marquelo 1.3"));
  EXPECT_EQ(Edit("URLEdit")->text(), PlaceholderAddress);
  EXPECT_EQ(Edit("TagsEdit")->text(), QString());
  EXPECT_EQ(Edit("TextEdit")->text(), QString());
  EXPECT_EQ(Edit("WidthEdit")->text(), QStringLiteral("500"));
  EXPECT_EQ(Edit("HeightEdit")->text(), QStringLiteral("500"));
  EXPECT_FALSE(Control<QCheckBox>("FavoriteCheckBox")->isChecked());
  EXPECT_FALSE(Control<QCheckBox>("FitNarrowCheckBox")->isChecked());
  EXPECT_EQ(Code(), QString());
  EXPECT_TRUE(Memo()->isReadOnly());
  EXPECT_EQ(Memo()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(Memo()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(Memo()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(form_.WebBrowser(), nullptr);
  EXPECT_EQ(form_.findChild<QWidget*>(QStringLiteral("WebBrowser")), nullptr);
  EXPECT_EQ(Control<QLabel>("Image")->pixmap().size(), QSize(251, 27));
  EXPECT_EQ(Control<QLabel>("WebLabel")->text(), ProductSiteHost);
  EXPECT_EQ(form_.palette().color(QPalette::Window), QColor(Qt::white));
}

struct Placement {
  const char* name;
  const char* parent;
  QRect geometry; // labels: only the top-left is fixed, they take the width of their text
  const char* caption;
};

TEST_F(SlideshowFormTest, ControlsSitWhereTheDescriptionPutsThem) {
  const Placement placements[] = {
      {"Image", "SlideshowForm", {26, 12, 251, 27}, ""},
      {"UserTagLabel", "SlideshowForm", {16, 56, 0, 0}, "URL of User, Set or Group"},
      {"UserTagLabel1", "SlideshowForm", {16, 83, 0, 0}, "Tags (Optional, only for group/user)"},
      {"GroupTagLabel",
       "SlideshowForm",
       {16, 110, 0, 0},
       "Full Text* (Optional, only for group/user)"},
      {"GroupTagLabel1", "SlideshowForm", {16, 189, 0, 0}, "Display User's Favorite Photos"},
      {"FitNarrowLabel", "SlideshowForm", {16, 216, 0, 0}, "Shrink to Fit Narrow Screens"},
      {"WidthLabel", "SlideshowForm", {16, 137, 0, 0}, "Slideshow Width"},
      {"HeightLabel", "SlideshowForm", {16, 164, 0, 0}, "Slideshow Height"},
      {"WidthLabel1", "SlideshowForm", {269, 137, 0, 0}, "(px)"},
      {"HeightLabel1", "SlideshowForm", {269, 164, 0, 0}, "(px)"},
      {"WebLabel", "SlideshowForm", {367, 8, 119, 13}, nullptr},
      {"PreviewGroupBox", "SlideshowForm", {16, 329, 460, 302}, "Preview"},
      {"URLEdit", "SlideshowForm", {220, 53, 256, 21}, nullptr},
      {"TagsEdit", "SlideshowForm", {220, 80, 256, 21}, ""},
      {"TextEdit", "SlideshowForm", {220, 107, 256, 21}, ""},
      {"WidthEdit", "SlideshowForm", {220, 134, 43, 21}, "500"},
      {"HeightEdit", "SlideshowForm", {220, 161, 43, 21}, "500"},
      {"FavoriteCheckBox", "SlideshowForm", {220, 188, 15, 17}, ""},
      {"FitNarrowCheckBox", "SlideshowForm", {220, 215, 15, 17}, ""},
      {"GenerateButton", "SlideshowForm", {393, 203, 83, 25}, "Create"},
      {"HTMLGroupBox", "SlideshowForm", {16, 234, 460, 89}, "HTML Code"},
      {"HTMLMemo", "HTMLGroupBox", {17, 22, 347, 56}, ""},
      {"CopyButton", "HTMLGroupBox", {377, 53, 68, 25}, "Copy"},
  };
  for (const Placement& p : placements) {
    SCOPED_TRACE(p.name);
    auto* widget = Control<QWidget>(p.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(p.parent));
    if (p.geometry.width() == 0) {
      EXPECT_EQ(widget->pos(), p.geometry.topLeft());
    } else {
      EXPECT_EQ(widget->geometry(), p.geometry);
    }
    if (p.caption == nullptr) {
      continue;
    }
    QString caption;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      caption = label->text();
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      caption = edit->text();
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      caption = button->text();
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
      caption = group->title();
    } else if (auto* memo = qobject_cast<QPlainTextEdit*>(widget)) {
      caption = memo->toPlainText();
    }
    EXPECT_EQ(caption, QString::fromUtf8(p.caption));
  }
}

TEST_F(SlideshowFormTest, LabelsAreWideEnoughForTheirTextAndClearOfTheFields) {
  for (QLabel* label : form_.findChildren<QLabel*>()) {
    if (label->objectName() == "Image" || label->text().isEmpty()) {
      continue;
    }
    SCOPED_TRACE(label->objectName().toStdString());
    EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()));
    if (label->x() == 16) {
      EXPECT_LT(label->geometry().right(), 220); // the fields start at 220
    }
  }
}

TEST_F(SlideshowFormTest, WidthAndHeightTakeAtMostFourTypedCharacters) {
  for (const char* name : {"WidthEdit", "HeightEdit"}) {
    QLineEdit* edit = Edit(name);
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("123456"));
    EXPECT_EQ(edit->text(), QStringLiteral("1234")) << name;
  }
  const QString longAddress = QStringLiteral("http://host.invalid/") + QString(300, u'p');
  Edit("URLEdit")->clear();
  QTest::keyClicks(Edit("URLEdit"), longAddress);
  EXPECT_EQ(Edit("URLEdit")->text(), longAddress);
}

TEST_F(SlideshowFormTest, TheWindowHasAFixedSizeAndNoMaximiseButton) {
  form_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
  EXPECT_EQ(form_.size(), QSize(494, 648));
  EXPECT_EQ(form_.minimumSize(), QSize(494, 648));
  EXPECT_EQ(form_.maximumSize(), QSize(494, 648));
  const Qt::WindowFlags flags = form_.windowFlags();
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
  form_.resize(800, 900);
  EXPECT_EQ(form_.size(), QSize(494, 648));
  form_.showMaximized();
  QCoreApplication::processEvents();
  EXPECT_EQ(form_.size(), QSize(494, 648));
}

TEST_F(SlideshowFormTest, TabVisitsTheFieldsInTheirOrder) {
  ShowActive();
  Edit("URLEdit")->setFocus();
  QStringList visited{QApplication::focusWidget()->objectName()};
  for (int i = 0; i < 10; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited << QApplication::focusWidget()->objectName();
  }
  EXPECT_EQ(visited, (QStringList{"URLEdit", "TagsEdit", "TextEdit", "WidthEdit", "HeightEdit",
                                  "FavoriteCheckBox", "FitNarrowCheckBox", "GenerateButton",
                                  "HTMLMemo", "CopyButton", "URLEdit"}));
}

// Screen readers announce each field by the label beside it.
TEST_F(SlideshowFormTest, EveryFieldIsNamedByItsLabel) {
  const std::pair<const char*, const char*> names[] = {
      {"URLEdit", "URL of User, Set or Group"},
      {"TagsEdit", "Tags (Optional, only for group/user)"},
      {"TextEdit", "Full Text* (Optional, only for group/user)"},
      {"WidthEdit", "Slideshow Width"},
      {"HeightEdit", "Slideshow Height"},
      {"FavoriteCheckBox", "Display User's Favorite Photos"},
      {"FitNarrowCheckBox", "Shrink to Fit Narrow Screens"},
      {"HTMLMemo", "HTML Code"},
  };
  for (const auto& [field, name] : names) {
    EXPECT_EQ(Control<QWidget>(field)->accessibleName(), QString::fromLatin1(name)) << field;
  }
}

TEST_F(SlideshowFormTest, AfterTheFirstPreviewTabGoesFromCopyIntoTheBrowser) {
  ShowActive();
  Press("GenerateButton");
  ASSERT_NE(form_.WebBrowser(), nullptr);
  // The browser's arrival rebuilds the native window; it must come back active.
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form_));
  Control<QPushButton>("CopyButton")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QWidget* focused = QApplication::focusWidget();
  EXPECT_TRUE(focused == form_.WebBrowser() || form_.WebBrowser()->isAncestorOf(focused))
      << (focused != nullptr ? focused->metaObject()->className() : "nothing");
}

// Whether the preview module is mapped into this process (the test program itself links the
// engine for the demo certificate's tests; the program does not).
bool BrowserEngineLoaded() {
  return ReadWholeFile(QStringLiteral("/proc/self/maps")).contains("marquelo-preview.so");
}

TEST_F(SlideshowFormTest, TheBrowserEngineIsLoadedByTheFirstPreviewAndNotBefore) {
  if (BrowserEngineLoaded()) {
    // Each test runs in a process of its own under ctest; run alone, an earlier test may have
    // made a preview already.
    GTEST_SKIP() << "an earlier test of this process loaded the preview module";
  }
  form_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
  Press("CopyButton");
  EXPECT_FALSE(BrowserEngineLoaded()) << "the window alone must not load the module";
  Press("GenerateButton");
  ASSERT_NE(form_.WebBrowser(), nullptr);
  EXPECT_TRUE(BrowserEngineLoaded());
}

TEST_F(SlideshowFormTest, EnterInAFieldPressesNothing) {
  ShowActive();
  Edit("TagsEdit")->setFocus();
  QTest::keyClick(Edit("TagsEdit"), Qt::Key_Return);
  QTest::keyClick(Edit("TagsEdit"), Qt::Key_Escape);
  EXPECT_EQ(Code(), QString());
  EXPECT_TRUE(form_.isVisible());
}

struct CreateCase : testsupport::NamedRow {
  const char16_t* url;
  const char16_t* tags;
  const char16_t* text;
  const char16_t* width;
  const char16_t* height;
  bool favourites;
  // after Create
  const char16_t* tagsField;
  const char16_t* widthField;
  const char16_t* heightField;
  const char* query;
};

class CreateTable : public SlideshowFormTest, public testing::WithParamInterface<CreateCase> {};

TEST_P(CreateTable, RewritesTheFieldsAndComposesTheCode) {
  const CreateCase& c = GetParam();
  Fill("URLEdit", QString::fromUtf16(c.url));
  Fill("TagsEdit", QString::fromUtf16(c.tags));
  Fill("TextEdit", QString::fromUtf16(c.text));
  Fill("WidthEdit", QString::fromUtf16(c.width));
  Fill("HeightEdit", QString::fromUtf16(c.height));
  Control<QCheckBox>("FavoriteCheckBox")->setChecked(c.favourites);

  Press("GenerateButton");

  EXPECT_EQ(Edit("TagsEdit")->text(), QString::fromUtf16(c.tagsField));
  EXPECT_EQ(Edit("WidthEdit")->text(), QString::fromUtf16(c.widthField));
  EXPECT_EQ(Edit("HeightEdit")->text(), QString::fromUtf16(c.heightField));
  const QByteArray width = QString::fromUtf16(c.widthField).toLatin1();
  const QByteArray height = QString::fromUtf16(c.heightField).toLatin1();
  EXPECT_EQ(Code(),
            ExpectedCode(QString::fromUtf8(c.query), width.constData(), height.constData()));
  EXPECT_TRUE(messages_.Shown().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, CreateTable,
    testing::Values(
        CreateCase{"Defaults", u"http://www.vantrel.com/photos/username/", u"", u"", u"500", u"500",
                   false, u"", u"500", u"500", ""},
        CreateCase{"EmptyAddress", u"", u"", u"", u"500", u"500", false, u"", u"500", u"500", ""},
        CreateCase{"TagsAndFavourites", u"", u"red", u"", u"500", u"500", true, u"red", u"500",
                   u"500", "tags=red&favorites=own"},
        CreateCase{"TagsTrimmed", u"", u"  red  ", u"", u"500", u"500", false, u"red", u"500",
                   u"500", "tags=red"},
        CreateCase{"ControlCharactersTrimmed", u"", u"\tred\x01", u" sea\t", u"500", u"500", false,
                   u"red", u"500", u"500", "tags=red&text=sea"},
        CreateCase{"UnusableWidthAndHeight", u"", u"", u"", u"abc", u"abc", false, u"", u"500",
                   u"400", ""},
        CreateCase{"ZeroWidthAndHeight", u"", u"", u"", u"0", u"0", false, u"", u"500", u"400", ""},
        CreateCase{"NegativeWidthAndHeight", u"", u"", u"", u"-5", u"-5", false, u"", u"500",
                   u"400", ""},
        CreateCase{"EmptyWidthAndHeight", u"", u"", u"", u"", u"", false, u"", u"500", u"400", ""},
        CreateCase{"LeadingSpaceAndZero", u"", u"", u"", u" 300", u"0500", false, u"", u"300",
                   u"500", ""},
        CreateCase{"HexadecimalAndSign", u"", u"", u"", u"$64", u"+7", false, u"", u"100", u"7",
                   ""},
        CreateCase{"ZeroXHexadecimal", u"", u"", u"", u"0x1F", u"250", false, u"", u"31", u"250",
                   ""},
        CreateCase{"TagsHoldingTheJoint", u"", u"?&", u"", u"500", u"500", false, u"?&", u"500",
                   u"500", "tags=%3F%26"},
        CreateCase{"QuoteInTags", u"", u"a\"b", u"", u"500", u"500", false, u"a\"b", u"500", u"500",
                   "tags=a%22b"},
        CreateCase{"CommaListStays", u"", u"red,blue", u"cats & dogs #1", u"500", u"500", false,
                   u"red,blue", u"500", u"500", "tags=red,blue&text=cats%20%26%20dogs%20%231"},
        CreateCase{"NonAsciiTags", u"", u"\u00e9t\u00e9", u"", u"500", u"500", false,
                   u"\u00e9t\u00e9", u"500", u"500", "tags=%C3%A9t%C3%A9"}),
    testsupport::RowName());

TEST_F(SlideshowFormTest, CreateTrimsTheAddressAndLeavesAnUnusedFieldAlone) {
  Fill("URLEdit", QStringLiteral("  ") + PlaceholderAddress + QStringLiteral("\t"));
  Fill("WidthEdit", QStringLiteral("300"));
  Press("GenerateButton");
  EXPECT_EQ(Edit("URLEdit")->text(), PlaceholderAddress);
  EXPECT_EQ(Edit("WidthEdit")->text(), QStringLiteral("300"));
}

TEST_F(SlideshowFormTest, CreateTwiceGivesTheSameCodeAndANewPreviewFile) {
  Fill("TagsEdit", QStringLiteral("red"));
  Press("GenerateButton");
  const QString first = Code();
  EXPECT_EQ(EntriesOfTempDir(), QStringList{"mqtemp.html"});

  Press("GenerateButton");
  EXPECT_EQ(Code(), first);
  const QStringList entries = EntriesOfTempDir();
  ASSERT_EQ(entries.size(), 2);
  EXPECT_EQ(entries[0], QStringLiteral("mqtemp.html"));
  EXPECT_TRUE(
      QRegularExpression(QStringLiteral("^mqtemp[0-9A-F]{8}\\.html$")).match(entries[1]).hasMatch())
      << entries[1].toStdString();

  const QByteArray page =
      "<html><body style=\"margin:0;padding:0;\">" + first.toUtf8() + "</body></html>\r\n";
  for (const QString& entry : entries) {
    EXPECT_EQ(ReadWholeFile(temp_.File(entry)), page) << entry.toStdString();
  }
}

TEST_F(SlideshowFormTest, ThePreviewBrowserAppearsInItsBoxAndLoadsTheFile) {
  Press("GenerateButton");
  QWidget* browser = form_.WebBrowser();
  ASSERT_NE(browser, nullptr);
  EXPECT_EQ(browser->objectName(), QStringLiteral("WebBrowser"));
  EXPECT_EQ(browser->parentWidget(), Control<QGroupBox>("PreviewGroupBox"));
  EXPECT_EQ(browser->geometry(), QRect(17, 21, 424, 278));
  QSignalSpy loaded(browser, SIGNAL(loadFinished(bool)));
  ASSERT_TRUE(loaded.isValid());
  if (loaded.isEmpty()) {
    ASSERT_TRUE(loaded.wait(30000));
  }
  EXPECT_TRUE(loaded.first().first().toBool());
  EXPECT_EQ(browser->property("url").toUrl(), QUrl::fromLocalFile(temp_.File("mqtemp.html")));
}

TEST_F(SlideshowFormTest, AnExistingLinkUnderThePreviewNameIsNotFollowed) {
  const QString victim = temp_.File("victim.html");
  ASSERT_TRUE(WriteWholeFile(victim, "users own file"));
  ASSERT_TRUE(QFile::link(victim, temp_.File("mqtemp.html")));
  Press("GenerateButton");
  EXPECT_EQ(ReadWholeFile(victim), QByteArray("users own file"));
  EXPECT_EQ(QFile::symLinkTarget(temp_.File("mqtemp.html")), victim);
  const QStringList entries = EntriesOfTempDir();
  ASSERT_EQ(entries.size(), 3); // the link, the preview, the victim
  EXPECT_TRUE(ReadWholeFile(temp_.File(entries[1])).startsWith("<html><body style="))
      << entries[1].toStdString();
}

TEST_F(SlideshowFormTest, APreviewThatCannotBeWrittenIsReportedAndTheCodeStays) {
  const QString notADirectory = temp_.File("plain-file");
  ASSERT_TRUE(WriteWholeFile(notADirectory));
  qputenv("TMPDIR", QFile::encodeName(notADirectory));
  Press("GenerateButton");
  ASSERT_EQ(messages_.Shown().size(), 1U);
  EXPECT_EQ(messages_.Shown()[0].icon, QMessageBox::Critical);
  EXPECT_EQ(messages_.Shown()[0].title, QStringLiteral("Marquelo"));
  EXPECT_EQ(
      messages_.Shown()[0].text,
      QStringLiteral("Cannot create file \"%1/mqtemp.html\". Not a directory.").arg(notADirectory));
  EXPECT_EQ(Code(), ExpectedCode(QString()));
  EXPECT_EQ(form_.WebBrowser(), nullptr);

  // The program goes on: with a usable directory the next Create previews.
  qputenv("TMPDIR", QFile::encodeName(temp_.Path()));
  Press("GenerateButton");
  EXPECT_NE(form_.WebBrowser(), nullptr);
}

TEST_F(SlideshowFormTest, CopyPutsExactlyTheCodeOnTheClipboard) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  Fill("TagsEdit", QStringLiteral("\u00e9t\u00e9"));
  Press("GenerateButton");
  clipboard->setText(QStringLiteral("something else"));
  Press("CopyButton");
  EXPECT_EQ(clipboard->text(), Code());
  EXPECT_FALSE(clipboard->text().contains(u'\n'));
  EXPECT_EQ(Memo()->textCursor().selectedText(), Code());
  Press("CopyButton");
  EXPECT_EQ(clipboard->text(), Code());
}

TEST_F(SlideshowFormTest, TheFitBoxChoosesTheCodeOfTheBoxThePreviewAndTheClipboard) {
  Fill("TagsEdit", QStringLiteral("a\"b"));
  Fill("WidthEdit", QStringLiteral("400"));
  Fill("HeightEdit", QStringLiteral("0"));
  QTest::mouseClick(Control<QCheckBox>("FitNarrowCheckBox"), Qt::LeftButton);
  ASSERT_TRUE(Control<QCheckBox>("FitNarrowCheckBox")->isChecked());
  Press("GenerateButton");

  const QString fitting = FittingEmbedCode(SlideshowBaseAddress + QStringLiteral("tags=a%22b"), 400,
                                           400, QStringLiteral("vantrel slideshow"));
  EXPECT_EQ(Code(), fitting);
  EXPECT_EQ(ReadWholeFile(temp_.File("mqtemp.html")),
            "<html><body style=\"margin:0;padding:0;\">" + fitting.toUtf8() + "</body></html>\r\n");
  Press("CopyButton");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), fitting);

  // Cleared again, the code is the usual one.
  QTest::mouseClick(Control<QCheckBox>("FitNarrowCheckBox"), Qt::LeftButton);
  Press("GenerateButton");
  EXPECT_EQ(Code(), ExpectedCode(QStringLiteral("tags=a%22b"), "400", "400"));
  EXPECT_TRUE(messages_.Shown().empty());
}

TEST_F(SlideshowFormTest, CopyWithAnEmptyBoxLeavesTheClipboardAlone) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText(QStringLiteral("kept"));
  Press("CopyButton");
  EXPECT_EQ(clipboard->text(), QStringLiteral("kept"));
  EXPECT_TRUE(messages_.Shown().empty());
}

class OpenedAddresses : public QObject {
  Q_OBJECT

public:
  QList<QUrl> urls;

public slots:
  void Open(const QUrl& url) { urls << url; }
};

TEST_F(SlideshowFormTest, TheWebLabelOpensTheProductSite) {
  OpenedAddresses opened;
  QDesktopServices::setUrlHandler(QStringLiteral("http"), &opened, "Open");
  form_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
  QTest::mouseClick(Control<QLabel>("WebLabel"), Qt::LeftButton);
  QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
  EXPECT_EQ(opened.urls, QList<QUrl>{QUrl(QStringLiteral("http://") + ProductSiteHost)});
  EXPECT_EQ(Control<QLabel>("WebLabel")->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_TRUE(Control<QLabel>("WebLabel")->font().underline());
  EXPECT_EQ(Code(), QString());
}

} // namespace

#include "SlideshowFormTest.moc"
