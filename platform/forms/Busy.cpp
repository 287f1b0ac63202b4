// The window thread's long runs: busy cursor, paints let through.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "platform/forms/Forms.h"

namespace {

int depth = 0;
int interval = 30;
bool pumping = false;
qint64 lastRound = 0;
TCursor cursorBefore = crDefault;

QElapsedTimer& Clock() {
    static QElapsedTimer clock;
    if (!clock.isValid()) clock.start();
    return clock;
}

// Paints and the window system's expose and close requests go through; the
// person's clicks and keys wait until the run is over.
void LetPaintsThrough() {
    // Other threads may pulse too: they leave before reading the window
    // thread's state.
    const QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() != app->thread()) return;
    if (depth == 0 || pumping) return;
    const qint64 now = Clock().elapsed();
    if (now - lastRound < interval) return;
    pumping = true;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    pumping = false;
    lastRound = Clock().elapsed();
}

}  // namespace

TBusyScope::TBusyScope() {
    if (depth++ > 0) return;
    cursorBefore = Screen()->Cursor();
    Screen()->SetCursor(crHourGlass);
    // The first pulse paints at once what the run's start left (a pressed
    // button, a closed dialog). Not here: calls queued for later (a box's
    // own timer) would run before the run has opened anything.
    lastRound = Clock().elapsed() - interval;
    progress::SetPulse(&LetPaintsThrough);
}

TBusyScope::~TBusyScope() {
    if (--depth > 0) return;
    progress::SetPulse(nullptr);
    Screen()->SetCursor(cursorBefore);
}

bool TBusyScope::Active() { return depth > 0; }

void TBusyScope::SetPaintInterval(int milliseconds) { interval = milliseconds < 0 ? 0 : milliseconds; }

TBusyScope::TPause::TPause() : paused_(depth > 0 && Screen()->Cursor() == crHourGlass) {
    if (paused_) Screen()->SetCursor(cursorBefore);
}

TBusyScope::TPause::~TPause() {
    if (paused_ && depth > 0) Screen()->SetCursor(crHourGlass);
}
