// The mark of a value not sent yet. A numeric control is told the value last exchanged
// for it (sent to or read from the controller or a file); while it shows another value a
// thick frame with a flag in its corner is drawn over it, its tooltip names the value
// last exchanged and its accessible description ends in " (not sent)". The mark is an
// overlay, so the control keeps its size and nothing on the panel moves. It is checked
// only when the control's value changes or a new exchanged value is given.
#pragma once

#include <QString>
#include <QWidget>

class QSpinBox;

class SentMark : public QWidget {
    Q_OBJECT

  public:
    // The mark of a numeric control, made on first use; nullptr for another kind.
    static SentMark *Of(QWidget *control);
    // A control never given a sent value counts as sent. False for another kind.
    static bool ReadSentValue(const QWidget *control, int &value);
    static bool ReadMarked(const QWidget *control, int &marked);

    void SetSentValue(int value);

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

  private:
    explicit SentMark(QSpinBox *control);
    static const SentMark *Find(const QSpinBox *control);
    void Check();

    QSpinBox *control_;
    QString description_; // the control's own accessible description and tooltip
    QString toolTip_;
    int sent_    = 0;
    bool marked_ = false;
};
