// frmAbout, "About": the software version, a picture, the data folder in use
// and Close.
#pragma once

#include <QWidget>
#include <filesystem>

class QLabel;
class QPushButton;

namespace zelvano {

class AboutWindow : public QWidget {
    Q_OBJECT
  public:
    explicit AboutWindow(const std::filesystem::path& dataDir, QWidget* parent = nullptr);

    void ClosePressed();

  private:
    QLabel* label4_ = nullptr;
    QLabel* image1_ = nullptr;
    QPushButton* closeButton_ = nullptr;
};

}  // namespace zelvano
