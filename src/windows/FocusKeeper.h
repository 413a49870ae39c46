// Keeps the focus on the secondary window the operator opened last: when
// another window of this program (the main window or an older secondary
// window) becomes active, the kept window takes the focus back and the
// program beeps.
//
// Only the most recently opened window reclaims, so two secondary windows
// never pass the focus back and forth; the reclaim runs from a zero timer
// (never inside the activation itself) and the beep is rate-limited, so a
// burst of clicks gives at most one beep per kBeepGapMs.
//
// Switching to another application is not "another window of the program":
// the kept window then neither hides nor beeps, so the operator can use the
// desktop while a call or settings window is open.
//
// Minimising is not a theft either: a minimised window keeps no focus until
// it is shown again, and a window that takes the focus back just after the
// operator minimised another one does so without a beep.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <vector>

class QWindow;

namespace zelvano {

class FocusKeeper : public QObject {
    Q_OBJECT
  public:
    static constexpr int kBeepGapMs = 300;
    // How long after a minimise a reclaim counts as its consequence.
    static constexpr int kMinimiseGraceMs = 1000;

    FocusKeeper(std::function<void()> beep, QObject* parent = nullptr);

    // A window of the program that does not keep the focus (the main window).
    void AddProgramWindow(QWidget* window);
    // A secondary window was opened or shown again: it now keeps the focus.
    void Keep(QWidget* window);

    // The window that currently keeps the focus (shown, not minimised), or null.
    QWidget* Keeper() const;
    int Reclaims() const { return reclaims_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void OnFocusWindowChanged(QWindow* window);
    bool IsProgramWindow(const QWindow* window) const;
    void Reclaim();

    std::function<void()> beep_;
    std::vector<QPointer<QWidget>> programWindows_;
    std::vector<QPointer<QWidget>> keepers_;  // most recent last
    bool reclaimPending_ = false;
    QElapsedTimer sinceBeep_;
    QElapsedTimer sinceMinimise_;
    int reclaims_ = 0;
};

}  // namespace zelvano
