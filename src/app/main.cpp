#include <QApplication>
#include <QStringList>

#include "app/MainWindow.h"
#include "platform/SystemSerialPort.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  std::optional<std::string> firstArgument;
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() > 1) firstArgument = arguments.at(1).toStdString();

  velutron::TForm1 window(velutron::MakeSystemSerialPort(), std::make_unique<velutron::SystemClock>(),
                          firstArgument);
  window.show();
  return QApplication::exec();
}
