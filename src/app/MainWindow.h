// frmMain: the line indicators, the link label, the ten buffer rows, the
// screen log, the menu and the three timers that drive the core. It is the
// core's operator view.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <filesystem>
#include <functional>
#include <optional>

#include "app/MainTicks.h"
#include "driver/Driver.h"
#include "paging/PagingCore.h"
#include "windows/AboutWindow.h"
#include "windows/CallWindow.h"
#include "windows/SettingsWindow.h"

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace zelvano {

class ClickLabel;
class FocusKeeper;
class Indicator;

enum class MessageAnswer { Ok, Cancel };

class MainWindow : public QMainWindow, public PagingEvents {
    Q_OBJECT
  public:
    using MessageBoxHandler =
        std::function<MessageAnswer(const std::string& text, const std::string& title)>;

    MainWindow(Clock& clock, SerialLine& port, std::filesystem::path dataDir,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    PagingCore& core() { return core_; }
    Driver& driver() { return *driver_; }
    Console& console() { return console_; }

    // The load step: StartUp, then the timers start. Runs before show().
    void Start();

    // Tests answer message boxes, count beeps and see the end of the program
    // through these instead of a modal loop, a speaker and an exit.
    void SetMessageBoxHandler(MessageBoxHandler handler) { messageBox_ = std::move(handler); }
    void SetBeepHandler(std::function<void()> handler) { beep_ = std::move(handler); }
    void SetQuitHandler(std::function<void()> handler) { quit_ = std::move(handler); }

    // The outer height last set by ApplyWindowHeight, in twips.
    int WindowHeightTwips() const { return heightTwips_; }

    CallWindow* callWindow() const { return callWindow_; }
    SettingsWindow* settingsWindow() const { return settingsWindow_; }
    AboutWindow* aboutWindow() const { return aboutWindow_; }
    FocusKeeper* focusKeeper() const { return focusKeeper_; }

    // Menu handlers.
    void OpenCallWindow();
    void OpenSettings();
    void OpenAbout();
    void Quit();
    // A termination signal: any open box is closed first (it would keep the
    // program running), then the window, like its close box.
    void CloseOnSignal();

    // Timer handlers.
    void LedTick();

    // The core's events.
    void CallChanged(const CallChange& change) override;
    void LogChanged(const ScreenLines& lines) override;
    void PortOpened(const std::string& caption, bool manualRts) override;
    void PortProblem(const std::string& reason) override;

    void SetWindowHeight(int twips);
    MessageAnswer ShowMessageBox(const std::string& text, const std::string& title);
    void Beep();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildMenu();
    void BuildSerialFrame(QWidget* client);
    void BuildCallsFrame(QWidget* client);
    void BuildDiagnoseFrame(QWidget* client);
    void BuildAutoRepeatLine(QWidget* client);
    // Shows the running auto-repeat (what and how often), or nothing.
    void ShowAutoRepeat();
    void StopAutoRepeat();
    void BuildTimers();
    void DrawRows();
    void RemoveByDoubleClick(int index);
    void UseSettings(const Settings& settings);
    void ShowPortError(PortOpen opened);
    void ShowLineStates();
    void PaintLook(const LedLook& look);
    void ShowSecondary(QWidget* window);
    void Terminate();
    MessageAnswer DefaultMessageBox(const std::string& text, const std::string& title);

    PagingCore core_;
    Driver* driver_;
    Console console_;
    Blinks blinks_;
    QWidget* client_ = nullptr;
    QGroupBox* portFrame_ = nullptr;
    Indicator* txLight_ = nullptr;
    Indicator* rxLight_ = nullptr;
    Indicator* rtsLight_ = nullptr;
    Indicator* ctsLight_ = nullptr;
    ClickLabel* rtsLabel_ = nullptr;
    QLabel* linkLabel_ = nullptr;
    std::array<QLabel*, 10> addressCells_{};
    std::array<QLabel*, 10> textCells_{};
    std::array<QLabel*, 10> bleepCells_{};
    std::array<QLabel*, 10> callTypeCells_{};
    std::array<QLabel*, 10> priorityCells_{};
    std::array<ClickLabel*, 10> stateCells_{};
    std::array<QLineEdit*, 10> logBoxes_{};
    QLabel* repeatLabel_ = nullptr;
    QPushButton* stopRepeatButton_ = nullptr;
    // What the indicators and the link label show (PaintLook); empty until painted.
    LedLook shownLook_;
    std::optional<CellColor> shownCts_;
    std::optional<CellColor> shownRts_;
    QTimer* ledTimer_ = nullptr;
    FocusKeeper* focusKeeper_ = nullptr;
    QPointer<CallWindow> callWindow_;
    QPointer<SettingsWindow> settingsWindow_;
    QPointer<AboutWindow> aboutWindow_;

    MessageBoxHandler messageBox_;
    std::function<void()> beep_;
    std::function<void()> quit_;
    int heightTwips_ = 0;
    bool terminated_ = false;
};

}  // namespace zelvano
