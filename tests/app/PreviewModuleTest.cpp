// Finding and loading the preview module: the real module of the build, and places where it
// is missing or is no module at all.

#include "app/PreviewModule.h"
#include "app/Application.h"
#include "app/GraphicsContext.h"
#include "tests/app/AppTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QOpenGLContext>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

std::string MessageOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const EPreviewModuleError& failure) {
    return failure.what();
  }
  return "nothing raised";
}

TEST(PreviewModule, IsFoundBesideTheProgramFirst) {
  const QStringList directories = PreviewModuleDirectories();
  ASSERT_EQ(directories.size(), 2);
  EXPECT_EQ(directories[0], QCoreApplication::applicationDirPath());
  // The installed library directory is reached from the program's own, never by a fixed path.
  EXPECT_TRUE(directories[1].startsWith(QDir::cleanPath(directories[0] + QStringLiteral("/.."))))
      << directories[1].toStdString();
}

// The engine draws with the graphics hardware only when the application's shared context
// exists before the engine starts; loading the engine makes sure of it.
TEST(PreviewModule, MakesABrowserThatLoadsALocalPage) {
  TPreviewEngine& engine = LoadPreviewEngine();
  QOpenGLContext* shared = QOpenGLContext::globalShareContext();
  ASSERT_NE(shared, nullptr);
  EXPECT_TRUE(shared->isValid());
  ShareGraphicsContext();
  EXPECT_EQ(QOpenGLContext::globalShareContext(), shared) << "one shared context for the run";
  EXPECT_EQ(&LoadPreviewEngine(), &engine) << "one engine for the run";
  QWidget parent;
  QWidget* browser = engine.CreateBrowser(&parent);
  ASSERT_NE(browser, nullptr);
  EXPECT_EQ(browser->parentWidget(), &parent);
  PrivateTempDir temp;
  const QString page = temp.File(QStringLiteral("page.html"));
  ASSERT_TRUE(WriteWholeFile(page, "<html><body>here</body></html>\r\n"));
  QSignalSpy loaded(browser, SIGNAL(loadFinished(bool)));
  ASSERT_TRUE(loaded.isValid());
  engine.Navigate(browser, QUrl::fromLocalFile(page));
  ASSERT_TRUE(loaded.wait(30000));
  EXPECT_TRUE(loaded.first().first().toBool());
  EXPECT_EQ(browser->property("url").toUrl(), QUrl::fromLocalFile(page));
}

// The program's work after start waits for the window to be on the screen, and runs once.
TEST(PreviewModule, WorkAfterTheFirstPaintRunsOnceThePaintIsDone) {
  QWidget window;
  window.resize(200, 100);
  int runs = 0;
  AfterFirstPaint(window, [&] { ++runs; });
  QCoreApplication::processEvents();
  EXPECT_EQ(runs, 0) << "ran before the window was shown";
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_TRUE(QTest::qWaitFor([&] { return runs > 0; }));
  window.hide();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.repaint();
  QCoreApplication::processEvents();
  EXPECT_EQ(runs, 1);
}

TEST(PreviewModule, MissingEverywhereNamesThePlacesSearched) {
  QTemporaryDir first;
  QTemporaryDir second;
  const QStringList directories{first.path(), second.path()};
  EXPECT_EQ(MessageOf([&] { LoadPreviewEngine(directories); }),
            QStringLiteral("Can't load the preview module \"marquelo-preview.so\": it is in none "
                           "of %1, %2")
                .arg(first.path(), second.path())
                .toStdString());
}

TEST(PreviewModule, AFileThatIsNoModuleIsReportedWithTheLoadersReason) {
  QTemporaryDir empty;
  QTemporaryDir broken;
  const QString fake = QDir(broken.path()).filePath(kPreviewModuleFileName);
  ASSERT_TRUE(WriteWholeFile(fake, "not a shared object"));
  const std::string message = MessageOf([&] { LoadPreviewEngine({empty.path(), broken.path()}); });
  const std::string expectedStart =
      QStringLiteral("Can't load the preview module \"%1\": ").arg(fake).toStdString();
  EXPECT_EQ(message.substr(0, expectedStart.size()), expectedStart);
  EXPECT_GT(message.size(), expectedStart.size()) << "the loader's reason follows";
}

} // namespace
