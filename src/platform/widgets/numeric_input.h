// The numeric input of the panel: a spin box that never changes a typed value in silence.
//
// What the operator types stays in the box as typed, also a number outside the control's
// range or below 0, until Enter or leaving the box. A number outside the range is then
// refused: the value before the edit comes back, and a note on the control (the note mark,
// SentMark) says what was typed and the range the control takes, until its value changes.
#pragma once

#include <QSpinBox>

class NumericInput : public QSpinBox {
    Q_OBJECT

  public:
    explicit NumericInput(QWidget *parent = nullptr);

  protected:
    QValidator::State validate(QString &text, int &position) const override;
    void fixup(QString &input) const override;
    void keyPressEvent(QKeyEvent *event) override;

  private:
    void EndEdit();

    int settled_  = 0;        // the value before the operator began to type
    bool editing_ = false;    // typing since the last Enter or leaving the box
    bool noted_   = false;    // a refusal is shown
    mutable QString refused_; // a number out of range the edit ended with
};
