#include "driver/ProgramDataDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace zelvano {

DataDirChoice ChooseProgramDataDir(const char* installBinDir) {
    QString userDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (!QDir::isAbsolutePath(userDir))
        userDir = QDir::homePath() + "/.local/share/" + QCoreApplication::applicationName();
    return ChooseDataDir(QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString(),
                         QFile::encodeName(userDir).toStdString(),
                         SystemProgramDirs(installBinDir));
}

}  // namespace zelvano
