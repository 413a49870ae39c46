// Wires the core and the windows together. The program reads no command-line
// arguments and no environment variables of its own: espa.set and
// comports.cfg in its data folder are its whole configuration.
#include <QApplication>
#include <QIcon>
#include <QStandardPaths>
#include <QtGlobal>
#include <filesystem>

#include "app/DataDir.h"
#include "app/MainWindow.h"
#include "common/Clock.h"
#include "serial/QtSerialLine.h"

#ifndef ZELVANO_INSTALL_BINDIR
#define ZELVANO_INSTALL_BINDIR ""
#endif

namespace {

// The program's own folder when it is a writable portable copy, else
// ~/.local/share/zelvano (XDG_DATA_HOME respected).
std::filesystem::path DataDirForThisProgram() {
    const std::filesystem::path programDir = QCoreApplication::applicationDirPath().toStdString();
    const std::filesystem::path userDir =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString();
    const zelvano::DataDirChoice choice = zelvano::ChooseDataDir(
        programDir, userDir, zelvano::SystemProgramDirs(ZELVANO_INSTALL_BINDIR));
    if (!choice.problem.empty()) {
        qWarning("zelvano: cannot use the user data folder (%s); keeping files in %s",
                 choice.problem.c_str(), choice.dir.c_str());
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
    zelvano::QtSerialLine line(dataDir);
    zelvano::MainWindow window(clock, line, dataDir);
    // The load step (StartUp, with its message box when the port fails)
    // runs before the window is shown.
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
