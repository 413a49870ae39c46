#include "windows/AboutWindow.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "windows/AboutPicture.h"
#include "windows/AboutText.h"
#include "windows/QtLook.h"
#include "windows/WindowKeys.h"

namespace zelvano {

namespace {

// Layout in twips: the picture on the left, the version and Close beside it,
// the data folder in a row of its own below.
constexpr int kClientWidth = 6015;
constexpr int kClientHeight = 3375;
constexpr int kPictureSize = 2415;
constexpr int kFolderTop = 2880;
constexpr int kFolderWidth = kClientWidth - 2 * 240;
constexpr int kFolderCaptionWidth = 1095;

// "Data folder:" and the whole path in a read-only box without a frame: a
// long path scrolls and can always be selected and copied whole.
void ShowDataFolder(QWidget* parent, const std::filesystem::path& dataDir) {
    auto* caption = new QLabel("Data folder:", parent);
    caption->setObjectName("LabDataFolder");
    PlaceTwips(caption, 240, kFolderTop, kFolderCaptionWidth, 315);
    const QString path = QFile::decodeName(dataDir.c_str());
    auto* box = new QLineEdit(path, parent);
    box->setObjectName("TxtDataFolder");
    box->setReadOnly(true);
    box->setFrame(false);
    box->setToolTip(path);
    box->setCursorPosition(0);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, parent->palette().color(QPalette::Window));
    box->setPalette(palette);
    PlaceTwips(box, 240 + kFolderCaptionWidth, kFolderTop, kFolderWidth - kFolderCaptionWidth, 315);
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

    ShowDataFolder(this, dataDir);

    closeButton_ = new QPushButton("Close", this);
    closeButton_->setObjectName("CmdSluit");
    PlaceTwips(closeButton_, 4320, 2280, 1455, 375);
    closeButton_->setDefault(true);
    connect(closeButton_, &QPushButton::clicked, this, &AboutWindow::ClosePressed);
    // The window opens with the focus on Close; Return and Escape close it.
    closeButton_->setFocus();
    BindWindowKeys(this, closeButton_, [this] { closeButton_->click(); });
}

void AboutWindow::ClosePressed() {
    close();
}

}  // namespace zelvano
