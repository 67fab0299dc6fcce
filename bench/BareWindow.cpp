// The yardstick of bench_startup: a bare Qt Widgets window of the main
// window's size, shown the way the program shows its own.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("bare window"));
  window.setFixedSize(478, 550);
  window.show();
  return application.exec();
}
