#include "windows/AboutWindow.h"

#include <QLabel>
#include <QPushButton>

#include "windows/AboutPicture.h"
#include "windows/AboutText.h"
#include "windows/QtLook.h"

namespace zelvano {

namespace {

// Layout in twips: the picture on the left, the version and Close beside it,
// the data folder in a row of its own below.
constexpr int kClientWidth = 6015;
constexpr int kClientHeight = 3375;
constexpr int kPictureSize = 2415;
constexpr int kFolderTop = 2880;
constexpr int kFolderWidth = kClientWidth - 2 * 240;

// "Data folder: <path>", shortened in the middle when the row is too narrow;
// the tool tip and a selection always give the whole path.
void ShowDataFolder(QLabel* label, const std::filesystem::path& dataDir) {
    const QString path = QString::fromStdString(dataDir.string());
    const QString full = "Data folder: " + path;
    label->setText(label->fontMetrics().elidedText(full, Qt::ElideMiddle, label->width()));
    label->setToolTip(path);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
}

}  // namespace

AboutWindow::AboutWindow(const std::filesystem::path& dataDir, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setObjectName("frmAbout");
    ApplyDesignFont(this);
    setWindowTitle("About");
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(TwipsToPixels(kClientWidth, logicalDpiX()),
                 TwipsToPixels(kClientHeight, logicalDpiY()));

    image1_ = new QLabel(this);
    image1_->setObjectName("Image1");
    PlaceTwips(image1_, 240, 240, kPictureSize, kPictureSize);
    image1_->setPixmap(DrawAboutPicture(image1_->width(), image1_->height()));

    // Window load: the version caption from the program's version record.
    label4_ = new QLabel(QString::fromStdString(ProgramVersionCaption()), this);
    label4_->setObjectName("Label4");
    PlaceTwips(label4_, 2880, 600, 2895, 315);

    labDataFolder_ = new QLabel(this);
    labDataFolder_->setObjectName("LabDataFolder");
    PlaceTwips(labDataFolder_, 240, kFolderTop, kFolderWidth, 315);
    ShowDataFolder(labDataFolder_, dataDir);

    cmdSluit_ = new QPushButton("Close", this);
    cmdSluit_->setObjectName("CmdSluit");
    PlaceTwips(cmdSluit_, 4320, 2280, 1455, 375);
    cmdSluit_->setDefault(true);
    connect(cmdSluit_, &QPushButton::clicked, this, &AboutWindow::CmdSluit_Click);
}

void AboutWindow::CmdSluit_Click() {
    close();
}

}  // namespace zelvano
