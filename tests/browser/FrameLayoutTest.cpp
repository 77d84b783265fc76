// The embed codes laid out by a real browser engine: headless chromium loads a page that holds
// a code in a column of a given width, and a script in the page reports the frame as the engine
// sees it, read back from the document chromium dumps once the page has loaded.

#include "app/EmbedCode.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <tuple>

namespace {

// A phone's page leaves about 344 CSS pixels for a post's column; headless chromium makes no
// window narrower than 500, so a column of that width stands for the phone. 1264 is a
// desktop's column; the window is wider, so that it never scrolls itself.
constexpr int kPhoneColumn = 344;
constexpr int kDesktopColumn = 1264;
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

// A standards-mode page whose column holds the code, then a script that writes what the engine
// made of the frame into the document as one JSON object after the word "frame:".
QByteArray PageHolding(const QString& code, int column) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body style=\"margin:0\">"
         "<div id=\"column\" style=\"width:" +
         QByteArray::number(column) + "px\">" + code.toUtf8() +
         "</div><pre id=\"report\"></pre><script>"
         "const frame = document.querySelector('#column iframe');"
         "const box = frame.getBoundingClientRect();"
         "const column = document.getElementById('column');"
         "document.getElementById('report').textContent = 'frame:' + JSON.stringify({"
         "width: box.width, height: box.height, column: column.clientWidth,"
         "content: column.scrollWidth, title: frame.title, loading: frame.loading,"
         "fullscreen: frame.allowFullscreen});"
         "</script></body></html>";
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

  // What the page holding code in a column reports of its frame; empty (and a failure saying
  // why) when chromium did not load it.
  QJsonObject LayOut(const QString& code, int column) {
    const QString page = dir_.filePath(QStringLiteral("page.html"));
    QFile file(page);
    const QByteArray bytes = PageHolding(code, column);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
      ADD_FAILURE() << "cannot write " << page.toStdString();
      return {};
    }
    file.close();
    QProcess chromium;
    chromium.start(browser_,
                   {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                    QStringLiteral("--disable-gpu"),
                    QStringLiteral("--disable-background-networking"),
                    QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                    QStringLiteral("--no-first-run"),
                    QStringLiteral("--user-data-dir=") + dir_.filePath(QStringLiteral("profile")),
                    QStringLiteral("--window-size=1280,900"), QStringLiteral("--dump-dom"),
                    QUrl::fromLocalFile(page).toString()});
    if (!chromium.waitForFinished(kBrowserRunLimitMs)) {
      chromium.kill();
      chromium.waitForFinished();
      ADD_FAILURE() << "chromium did not finish loading the page";
      return {};
    }
    const QByteArray dom = chromium.readAllStandardOutput();
    const qsizetype start = dom.indexOf("frame:{");
    const QJsonObject report =
        start < 0 ? QJsonObject()
                  : QJsonDocument::fromJson(dom.mid(start + 6, dom.indexOf('}', start) - start - 5))
                        .object();
    if (report.isEmpty()) {
      ADD_FAILURE() << "the page reported no frame; chromium said:\n"
                    << chromium.readAllStandardError().right(2000).toStdString();
    }
    return report;
  }

private:
  QString browser_;
  QTemporaryDir dir_;
};

TEST_P(FrameLayoutTest, FrameTakesItsBoxInTheColumn) {
  const auto& [size, column, kind] = GetParam();
  // The frame's own page is of no account to its box; a file beside the page keeps the test
  // off the network.
  const QString player = QStringLiteral("player.html");
  const QString title = FrameTitle({QStringLiteral("48213907@N03"), {}, {}});
  const QString fixed =
      EmbedCode(player, QString::number(size.width), QString::number(size.height));
  const QString code =
      kind == Code::Fitting ? FittingEmbedCode(player, size.width, size.height, title) : fixed;
  const QJsonObject frame = LayOut(code, column);
  ASSERT_FALSE(frame.isEmpty());
  ASSERT_EQ(frame[u"column"].toInt(), column);
  const double width = frame[u"width"].toDouble();
  const double height = frame[u"height"].toDouble();

  if (kind == Code::Fixed) {
    // As it always was: Width x Height whatever the column, spilling out of a narrow one.
    EXPECT_DOUBLE_EQ(width, size.width);
    EXPECT_DOUBLE_EQ(height, size.height);
    return;
  }
  // The column's width up to Width, the shape kept, nothing sideways beyond the column.
  EXPECT_DOUBLE_EQ(width, std::min(column, size.width));
  const double shape = static_cast<double>(size.height) / size.width;
  EXPECT_NEAR(height / width, shape, shape / 100);
  EXPECT_LE(frame[u"content"].toInt(), column);
  // Named, lazy, allowed full screen, and credited as the fixed code is.
  EXPECT_EQ(frame[u"title"].toString(), title);
  EXPECT_EQ(frame[u"loading"].toString(), QStringLiteral("lazy"));
  EXPECT_TRUE(frame[u"fullscreen"].toBool());
  EXPECT_TRUE(code.endsWith(fixed.sliced(fixed.indexOf(QStringLiteral("<center>")))));
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
