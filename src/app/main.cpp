#include <QApplication>
#include <QSocketNotifier>
#include <QStringList>

#include "app/MainWindow.h"
#include "gui/Translations.h"
#include "platform/Process.h"
#include "platform/SystemSerialPort.h"

int main(int argc, char* argv[]) {
  velutron::EnsureStandardDescriptors();
  QApplication app(argc, argv);
  velutron::InstallQtTranslations(app);
  // SIGINT, SIGTERM or SIGHUP: every open dialog and the main loop end, a running operation stops at its
  // next exchange (a short write into the logger is finished first) and removes the file it had begun to
  // write, and the program exits.
  velutron::InstallInterruptHandlers();
  if (const int fd = velutron::InterruptNotifierFd(); fd >= 0) {
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::exit(130); });
  }
  std::optional<std::string> firstArgument;
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() > 1) firstArgument = arguments.at(1).toStdString();

  velutron::TForm1 window(velutron::MakeSystemSerialPort(), std::make_unique<velutron::SystemClock>(),
                          firstArgument);
  window.show();
  return QApplication::exec();
}
