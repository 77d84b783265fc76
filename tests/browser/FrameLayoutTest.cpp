// The embed codes laid out by a real browser engine: headless chromium loads a page that holds
// a code in a column of a given width, and a script in the page reports the frame's box, read
// back from the document chromium dumps once the page has loaded.

#include "app/EmbedCode.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>

namespace {

// A phone's page leaves about 344 CSS pixels for a post's column; headless chromium makes no
// window narrower than 500, so a column of that width stands for the phone. 1264 is a
// desktop's column.
constexpr int kPhoneColumn = 344;
constexpr int kDesktopColumn = 1264;
// Wider than the desktop column, so that the window itself never scrolls.
constexpr const char* kWindowSize = "--window-size=1280,900";
// One page load, engine start included, even on a machine whose cores are all busy.
constexpr int kBrowserRunLimitMs = 90000;

struct FrameSize {
  int width;
  int height;
};

enum class Code { Fixed, Fitting };

void PrintTo(const FrameSize& size, std::ostream* out) {
  *out << size.width << "x" << size.height;
}

void PrintTo(Code code, std::ostream* out) {
  *out << (code == Code::Fitting ? "fitting" : "fixed");
}

struct FrameBox {
  double width;
  double height;
  int columnWidth;       // the column's inner width
  int columnScrollWidth; // what the column's content takes sideways, overflow included
};

// The page: a standards-mode document whose column holds the code, then the script that
// writes the frame's box into the document.
QByteArray PageHolding(const QString& code, int column) {
  return QByteArray("<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head>"
                    "<body style=\"margin:0\"><div id=\"column\" style=\"width:") +
         QByteArray::number(column) + "px\">" + code.toUtf8() +
         "</div><pre id=\"box\"></pre><script>"
         "const frame = document.querySelector('#column iframe').getBoundingClientRect();"
         "const column = document.getElementById('column');"
         "document.getElementById('box').textContent = ['frame-box', frame.width, frame.height,"
         " column.clientWidth, column.scrollWidth].join(' ');"
         "</script></body></html>";
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

class FrameLayoutTest : public testing::TestWithParam<std::tuple<FrameSize, int, Code>> {
protected:
  void SetUp() override {
    browser_ = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (browser_.isEmpty()) {
      GTEST_SKIP() << "chromium is not installed (scripts/bootstrap installs it)";
    }
    ASSERT_TRUE(dir_.isValid());
  }

  // The frame's box as chromium lays out the page holding code in a column; nothing when the
  // page could not be loaded or reported no box (a failure says why).
  std::optional<FrameBox> LayOut(const QString& code, int column) {
    const QString page = dir_.filePath(QStringLiteral("page.html"));
    if (!WriteFile(page, PageHolding(code, column)) ||
        !WriteFile(dir_.filePath(QStringLiteral("player.html")), "<body>player</body>")) {
      ADD_FAILURE() << "cannot write the page into " << dir_.path().toStdString();
      return std::nullopt;
    }
    QProcess chromium;
    chromium.start(browser_,
                   {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                    QStringLiteral("--disable-gpu"),
                    QStringLiteral("--disable-background-networking"),
                    QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                    QStringLiteral("--no-first-run"),
                    QStringLiteral("--user-data-dir=") + dir_.filePath(QStringLiteral("profile")),
                    QString::fromLatin1(kWindowSize), QStringLiteral("--dump-dom"),
                    QUrl::fromLocalFile(page).toString()});
    if (!chromium.waitForFinished(kBrowserRunLimitMs)) {
      chromium.kill();
      chromium.waitForFinished();
      ADD_FAILURE() << "chromium did not finish loading the page";
      return std::nullopt;
    }
    const QString dom = QString::fromUtf8(chromium.readAllStandardOutput());
    static const QRegularExpression kBox(
        QStringLiteral("frame-box ([0-9.]+) ([0-9.]+) ([0-9]+) ([0-9]+)"));
    const QRegularExpressionMatch box = kBox.match(dom);
    if (!box.hasMatch()) {
      ADD_FAILURE() << "the page reported no frame box; chromium said:\n"
                    << chromium.readAllStandardError().right(2000).toStdString();
      return std::nullopt;
    }
    return FrameBox{box.captured(1).toDouble(), box.captured(2).toDouble(), box.captured(3).toInt(),
                    box.captured(4).toInt()};
  }

private:
  QString browser_;
  QTemporaryDir dir_;
};

TEST_P(FrameLayoutTest, FrameTakesItsBoxInTheColumn) {
  const auto& [size, column, kind] = GetParam();
  const QString player = QStringLiteral("player.html");
  const QString code =
      kind == Code::Fitting
          ? FittingEmbedCode(player, size.width, size.height,
                             FrameTitle({QStringLiteral("48213907@N03"), {}, {}}))
          : EmbedCode(player, QString::number(size.width), QString::number(size.height));
  const std::optional<FrameBox> box = LayOut(code, column);
  ASSERT_TRUE(box.has_value());
  ASSERT_EQ(box->columnWidth, column);

  if (kind == Code::Fixed) {
    // As it always was: Width x Height whatever the column, spilling out of a narrow one.
    EXPECT_DOUBLE_EQ(box->width, size.width);
    EXPECT_DOUBLE_EQ(box->height, size.height);
    return;
  }
  // The column's width up to Width, the shape kept, nothing sideways beyond the column.
  EXPECT_DOUBLE_EQ(box->width, std::min(column, size.width));
  const double shape = static_cast<double>(size.height) / size.width;
  EXPECT_NEAR(box->height / box->width, shape, shape / 100);
  EXPECT_LE(box->columnScrollWidth, column);
}

std::string RowName(const testing::TestParamInfo<FrameLayoutTest::ParamType>& info) {
  const auto& [size, column, kind] = info.param;
  return "Frame" + std::to_string(size.width) + "x" + std::to_string(size.height) + "InColumn" +
         std::to_string(column) + (kind == Code::Fitting ? "Fitting" : "Fixed");
}

INSTANTIATE_TEST_SUITE_P(Table, FrameLayoutTest,
                         testing::Combine(testing::Values(FrameSize{500, 400}, FrameSize{400, 250},
                                                          FrameSize{1000, 300}),
                                          testing::Values(kPhoneColumn, kDesktopColumn),
                                          testing::Values(Code::Fixed, Code::Fitting)),
                         RowName);

} // namespace
