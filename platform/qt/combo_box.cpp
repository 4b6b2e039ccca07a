#include "platform/qt/combo_box.h"

#include <QTimer>

namespace zl {

void ComboBox::showPopup() {
    if (onDropDown) onDropDown();
    QComboBox::showPopup();
}

void ComboBox::hidePopup() {
    QComboBox::hidePopup();
    // The selection made with the click that closed the list is reported first.
    if (onCloseUp) QTimer::singleShot(0, this, [this] {
        if (onCloseUp) onCloseUp();
    });
}

}  // namespace zl
