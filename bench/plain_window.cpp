// plain_window: the yardstick for Marquelo's start-up. A Qt Widgets window of Marquelo's size
// with nothing in it, started and shown the way Marquelo is; bench/startup_time.sh times both.
// Built a second time as text_window, with one line of editable text in it: the difference
// between the two is what a window pays for having any text at all (the font configuration
// and the first font, both loaded before the window is mapped).

#include <QApplication>
#include <QWidget>
#ifdef PLAIN_WINDOW_WITH_TEXT
#include <QLineEdit>
#endif

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Plain window"));
  window.setFixedSize(494, 648);
#ifdef PLAIN_WINDOW_WITH_TEXT
  auto* line = new QLineEdit(QStringLiteral("https://"), &window);
  line->move(8, 8);
#endif
  window.show();
  return QApplication::exec();
}
