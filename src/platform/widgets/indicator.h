// The numeric indicator: a sunken read-only box that shows one whole number. It keeps
// the value and lays the digits out only when it paints, so writing it costs nothing
// while a reply waits to be answered.
#pragma once

#include <QWidget>

class IndicatorFace;

class Indicator : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int value READ Value WRITE SetValue)
    // Set by the panel file; values outside are shown at the nearer end, as a spin box does.
    Q_PROPERTY(int minimum READ Minimum WRITE SetMinimum)
    Q_PROPERTY(int maximum READ Maximum WRITE SetMaximum)

  public:
    explicit Indicator(QWidget *parent = nullptr);

    int Value() const { return value_; }
    void SetValue(int value);
    int Minimum() const { return minimum_; }
    void SetMinimum(int minimum);
    int Maximum() const { return maximum_; }
    void SetMaximum(int maximum);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

  private:
    friend class IndicatorFace;

    int FrameWidth() const;

    IndicatorFace *face_;
    int value_   = 0;
    int minimum_ = 0;
    int maximum_ = 99;
};
