// The ring: a drop-down list that says when its list is about to open, so that its items
// can be brought up to date first, and whose open list is as wide as its widest item.
#pragma once

#include <QComboBox>

class Ring : public QComboBox {
    Q_OBJECT

  public:
    using QComboBox::QComboBox;
    void showPopup() override;

  signals:
    void aboutToOpen();
};
