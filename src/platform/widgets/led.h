// The LED: a round lamp, lit in its on colour or dark.
#pragma once

#include <QColor>
#include <QWidget>

class Led : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool on READ IsOn WRITE SetOn)
    // Set by the panel file.
    Q_PROPERTY(QColor onColor READ OnColor WRITE SetOnColor)

  public:
    explicit Led(QWidget *parent = nullptr);

    bool IsOn() const { return on_; }
    void SetOn(bool on);
    QColor OnColor() const { return onColor_; }
    void SetOnColor(const QColor &color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    bool on_ = false;
    QColor onColor_;
};
