// plain_window: the yardstick for Marquelo's start-up. A Qt Widgets window of Marquelo's size
// with nothing in it, started and shown the way Marquelo is; bench/startup_time.sh times both.

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Plain window"));
  window.setFixedSize(494, 648);
  window.show();
  return QApplication::exec();
}
