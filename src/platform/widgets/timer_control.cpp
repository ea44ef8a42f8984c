// The timer control. It runs from the moment it is made, as a timer control of a
// loaded panel does, until it is switched off.
#include "timer_control.h"

namespace {

constexpr int kDefaultIntervalMs = 50;

} // namespace

TimerControl::TimerControl(QWidget *parent) : QWidget(parent) {
    setVisible(false);
    timer_.setInterval(kDefaultIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &TimerControl::tick);
    timer_.start();
}

void TimerControl::SetActive(bool active) {
    if (active == IsActive())
        return;
    if (active)
        timer_.start();
    else
        timer_.stop();
}
