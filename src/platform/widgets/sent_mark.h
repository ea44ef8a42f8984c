// The marks of a numeric control, drawn over it as an overlay so that the control keeps its
// size and nothing on the panel moves.
//
// Not sent: the control is told the value last exchanged for it (sent to or read from the
// controller or a file); while it shows another value a thick frame with a flag in its top
// left corner is drawn, its tooltip names the value last exchanged and its accessible
// description ends in " (not sent)". It is checked only when the control's value changes or
// a new exchanged value is given.
//
// A note: a text on the value (the reference taught on the controller, say) shows as a dot in
// the bottom left corner, leads the tooltip and ends the accessible description, until it is
// taken away.
//
// A refusal: a typed number the control did not take (NumericInput) shows as the note does,
// in a line of its own, until the control's value changes.
//
// A default: while the value shown was not read from a controller, the digits are grey and
// slanted and the accessible description ends in " (default)".
//
// The tooltip given to the control stays below the marks' lines.
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
    static bool ReadNote(const QWidget *control, QString &note);
    static bool ReadDefault(const QWidget *control, int &isDefault);

    void SetSentValue(int value);
    void SetNote(const QString &note);
    void SetDefault(bool isDefault);
    void SetRefusal(const QString &refusal);
    // The control's own tooltip, plain text, below the marks' lines.
    void SetToolTip(const QString &toolTip);

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

  private:
    explicit SentMark(QSpinBox *control);
    static const SentMark *Find(const QSpinBox *control);
    void Check();

    QSpinBox *control_;
    QString description_; // the control's own accessible description
    QString toolTip_;     // and its own tooltip, plain text
    QString note_;
    QString refusal_;
    int sent_     = 0;
    bool marked_  = false;
    bool default_ = false;
};
