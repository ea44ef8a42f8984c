// Rings: their items, the value of each item, and which selection the operator committed.
#include "panel_internal.h"

#include <QComboBox>

namespace {

// The index of the item the operator last committed, kept on the ring itself.
constexpr const char *kCommittedIndexProperty = "committedIndex";

} // namespace

namespace platform {

void NoteRingSelection(QComboBox *ring) {
    ring->setProperty(kCommittedIndexProperty, ring->currentIndex());
}

bool RingSelectionChanged(const QComboBox *ring) {
    return ring->property(kCommittedIndexProperty).toInt() != ring->currentIndex();
}

int RingValue(const QComboBox *ring, int index) {
    const QVariant data = ring->itemData(index);
    return data.isValid() ? data.toInt() : index;
}

bool SelectRingValue(QComboBox *ring, int value) {
    for (int index = 0; index < ring->count(); ++index) {
        if (platform::RingValue(ring, index) == value) {
            ring->setCurrentIndex(index);
            platform::NoteRingSelection(ring);
            return true;
        }
    }
    return false;
}

} // namespace platform

int ClearListCtrl(int panel, int control) {
    int error  = 0;
    auto *ring = platform::FindControlAs<QComboBox>(panel, control, error);
    if (!ring)
        return error;
    ring->clear();
    platform::NoteRingSelection(ring);
    return 0;
}

int InsertListItem(int panel, int control, int index, const char *label, int value) {
    int error  = 0;
    auto *ring = platform::FindControlAs<QComboBox>(panel, control, error);
    if (!ring)
        return error;
    if (!label || index < -1 || index > ring->count())
        return platform::kErrBadArgument;
    ring->insertItem(index < 0 ? ring->count() : index, QString::fromUtf8(label), value);
    platform::NoteRingSelection(ring);
    return 0;
}
