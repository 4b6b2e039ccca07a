#include "faces/qt/combo_box.h"

#include <QTimer>

namespace zl {

void ComboBox::showPopup() {
    if (open_) return QComboBox::showPopup();
    open_ = true;
    if (onDropDown) onDropDown();
    QComboBox::showPopup();
}

void ComboBox::hidePopup() {
    QComboBox::hidePopup();
    if (!open_) return;  // Qt also hides a list that was never shown
    open_ = false;
    // The selection made with the click that closed the list is reported first.
    if (onCloseUp) QTimer::singleShot(0, this, [this] {
        if (onCloseUp) onCloseUp();
    });
}

}  // namespace zl
