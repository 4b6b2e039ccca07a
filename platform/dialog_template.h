// Dialog templates as data: what the window system builds a dialog from.
#pragma once

#include <string>
#include <vector>

namespace zl {

enum class ControlKind { Static, Button, DefButton, GroupBox, ComboBox, Progress, Icon };

// Style bits of a control in a template.
enum : unsigned {
    CS_VISIBLE = 1u << 0,
    CS_DISABLED = 1u << 1,
    CS_CENTER = 1u << 2,      // centred static text
    CS_NOPREFIX = 1u << 3,    // '&' shown as it is
    CS_VSCROLL = 1u << 4,     // combo box with vertical scroll bar
    CS_TABSTOP = 1u << 5,
};

struct ControlTemplate {
    int id;  // -1 for controls without an id of their own (group boxes, labels, icons)
    ControlKind kind;
    std::u16string text;
    int x, y, cx, cy;  // dialog units
    unsigned style;
    std::vector<std::u16string> items;  // initial entries of a combo box
};

struct MenuItemTemplate {
    int command;
    std::u16string text;
};

struct MenuTemplate {
    int id;
    std::u16string popup;  // the one pop-up of the menu bar
    std::vector<MenuItemTemplate> items;
};

struct DialogTemplate {
    int id;
    std::u16string title;
    int cx, cy;  // dialog units
    std::u16string fontName;
    int pointSize;
    int menuId;  // 0 for none
    std::vector<ControlTemplate> controls;
};

}  // namespace zl
