// Wires the core and the windows together. The program reads no command-line
// arguments and no environment variables of its own: espa.set and
// comports.cfg in its own directory are its whole configuration.
#include <QApplication>
#include <filesystem>

#include "app/MainWindow.h"
#include "common/Clock.h"
#include "serial/QtSerialLine.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const std::filesystem::path programDir = QCoreApplication::applicationDirPath().toStdString();

    zelvano::SystemClock clock;
    zelvano::QtSerialLine line(programDir);
    zelvano::MainWindow window(clock, line, programDir);
    // The load step (StartUp, with its message box when the port fails)
    // runs before the window is shown.
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
