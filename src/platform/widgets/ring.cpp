// The ring. The closed ring keeps the size the panel file gives it; only its open list
// grows, so that long item texts are read whole.
#include "ring.h"

#include <QAbstractItemView>
#include <QStyle>

void Ring::showPopup() {
    emit aboutToOpen();
    QAbstractItemView *list = view();
    list->setMinimumWidth(list->sizeHintForColumn(0) +
                          style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    QComboBox::showPopup();
}
