// The timer control: an invisible control that ticks at its interval while active.
#pragma once

#include <QTimer>
#include <QWidget>

class TimerControl : public QWidget {
    Q_OBJECT
    // Set by the panel file.
    Q_PROPERTY(int interval READ Interval WRITE SetInterval)
    Q_PROPERTY(bool active READ IsActive WRITE SetActive)

  public:
    explicit TimerControl(QWidget *parent = nullptr);

    int Interval() const { return timer_.interval(); }
    void SetInterval(int milliseconds) { timer_.setInterval(milliseconds); }
    bool IsActive() const { return timer_.isActive(); }
    void SetActive(bool active);

  signals:
    void tick();

  private:
    QTimer timer_;
};
