#include "windows/FocusKeeper.h"

#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>
#include <algorithm>

namespace zelvano {

namespace {

bool Handles(const QPointer<QWidget>& widget, const QWindow* window) {
    return widget && widget->windowHandle() == window;
}

}  // namespace

FocusKeeper::FocusKeeper(std::function<void()> beep, QObject* parent)
    : QObject(parent), beep_(std::move(beep)) {
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this,
            &FocusKeeper::OnFocusWindowChanged);
}

void FocusKeeper::AddProgramWindow(QWidget* window) {
    programWindows_.emplace_back(window);
}

void FocusKeeper::Keep(QWidget* window) {
    std::erase_if(keepers_, [window](const QPointer<QWidget>& w) { return !w || w == window; });
    keepers_.emplace_back(window);
    window->removeEventFilter(this);
    window->installEventFilter(this);
}

bool FocusKeeper::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) {
        const auto* window = qobject_cast<QWidget*>(watched);
        if (window != nullptr && window->isMinimized()) {
            sinceMinimise_.start();
        }
    }
    return QObject::eventFilter(watched, event);
}

QWidget* FocusKeeper::Keeper() const {
    for (auto it = keepers_.rbegin(); it != keepers_.rend(); ++it) {
        if (*it && (*it)->isVisible() && !(*it)->isMinimized()) {
            return *it;
        }
    }
    return nullptr;
}

bool FocusKeeper::IsProgramWindow(const QWindow* window) const {
    const auto handles = [window](const QPointer<QWidget>& w) { return Handles(w, window); };
    return std::any_of(programWindows_.begin(), programWindows_.end(), handles) ||
           std::any_of(keepers_.begin(), keepers_.end(), handles);
}

void FocusKeeper::OnFocusWindowChanged(QWindow* window) {
    // No window of ours has the focus (another application) or a message
    // box, a list's drop-down and the like took it: leave it there.
    if (window == nullptr || !IsProgramWindow(window)) {
        return;
    }
    QWidget* keeper = Keeper();
    if (keeper == nullptr || keeper->windowHandle() == window || reclaimPending_) {
        return;
    }
    reclaimPending_ = true;
    QTimer::singleShot(0, this, &FocusKeeper::Reclaim);
}

void FocusKeeper::Reclaim() {
    reclaimPending_ = false;
    QWidget* keeper = Keeper();
    if (keeper == nullptr) {
        return;
    }
    keeper->raise();
    keeper->activateWindow();
    ++reclaims_;
    const bool afterMinimise =
        sinceMinimise_.isValid() && sinceMinimise_.elapsed() < kMinimiseGraceMs;
    if (!afterMinimise && (!sinceBeep_.isValid() || sinceBeep_.elapsed() >= kBeepGapMs)) {
        sinceBeep_.start();
        beep_();
    }
}

}  // namespace zelvano
