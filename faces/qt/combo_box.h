// A drop-down combo box that reports its list opening and closing.
#pragma once

#include <QComboBox>

#include <functional>

namespace zl {

class ComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    std::function<void()> onDropDown;
    std::function<void()> onCloseUp;

    void showPopup() override;
    void hidePopup() override;

private:
    bool open_ = false;
};

}  // namespace zl
