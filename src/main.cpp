// Wires the core and the windows together. The program reads no command-line
// arguments and no environment variables of its own: espa.set and
// comports.cfg in its data folder are its whole configuration.
#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QMessageBox>
#include <QtGlobal>
#include <filesystem>

#include "app/MainWindow.h"
#include "common/Clock.h"
#include "driver/ProgramDataDir.h"
#include "driver/SignalWatch.h"
#include "serial/PortLine.h"

#ifndef ZELVANO_INSTALL_BINDIR
#define ZELVANO_INSTALL_BINDIR ""
#endif

namespace {

// The program's own folder when it is a writable portable copy, else the
// user's data folder. When settings or logs cannot be saved the operator
// hears why before anything else happens.
std::filesystem::path DataDirForThisProgram() {
    const zelvano::DataDirChoice choice = zelvano::ChooseProgramDataDir(ZELVANO_INSTALL_BINDIR);
    if (!choice.problem.empty()) {
        const QString problem = QFile::decodeName(choice.problem.c_str());
        qWarning("zelvano: %s", qPrintable(problem));
        QMessageBox::warning(nullptr, "Zelvano",
                             "A problem with the data folder " +
                                 QFile::decodeName(choice.dir.c_str()) + ":\n\n" + problem +
                                 "\n\nSettings and log files may not be saved.");
    }
    return choice.dir;
}

// The program's icon in the sizes a desktop asks for (title bar to dock).
QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QString(":/icons/%1/zelvano.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QCoreApplication::setApplicationName("zelvano");
    QGuiApplication::setDesktopFileName("zelvano");
    QApplication::setWindowIcon(ProgramIcon());
    const std::filesystem::path dataDir = DataDirForThisProgram();

    zelvano::SystemClock clock;
    zelvano::PortLine line(dataDir);
    zelvano::MainWindow window(clock, line, dataDir);
    // A termination signal closes the window like its close box.
    zelvano::SignalWatch quitOnSignal([&window](int) { window.CloseOnSignal(); });
    // The load step (StartUp, with its message box when the port fails)
    // runs before the window is shown.
    window.Start();
    if (quitOnSignal.Requested())
        return 0;  // ended while the start-up box was open
    window.show();
    return QApplication::exec();
}
