// The in-memory DLGTEMPLATE of a dialog template: the dialog manager creates the
// controls and converts dialog units to pixels in the dialog's font itself.
#include <cstdint>
#include <vector>

#include "platform/dialog_template.h"
#include "faces/win32/dialog_window.h"
#include "res/resources.h"
#include "os/win32/win_api.h"

namespace zl::win {
namespace {

class Writer {
public:
    void Word(uint16_t w) { data_.push_back(w); }
    void Dword(uint32_t d) {
        Word(static_cast<uint16_t>(d & 0xFFFF));
        Word(static_cast<uint16_t>(d >> 16));
    }
    void Text(const std::u16string& s) {
        for (char16_t c : s) Word(c);
        Word(0);
    }
    void Ordinal(uint16_t n) {
        Word(0xFFFF);
        Word(n);
    }
    void AlignDword() {
        if (data_.size() % 2) Word(0);
    }
    std::vector<uint16_t> Take() { return std::move(data_); }

private:
    std::vector<uint16_t> data_;
};

// The predefined window classes by their atoms.
constexpr uint16_t kButton = 0x0080;
constexpr uint16_t kStatic = 0x0082;
constexpr uint16_t kComboBox = 0x0085;

DWORD CommonStyle(const ControlTemplate& t) {
    DWORD style = WS_CHILD;
    if (t.style & CS_VISIBLE) style |= WS_VISIBLE;
    if (t.style & CS_DISABLED) style |= WS_DISABLED;
    if (t.style & CS_TABSTOP) style |= WS_TABSTOP;
    return style;
}

}  // namespace

std::vector<uint16_t> BuildDialogTemplate(const DialogTemplate& dlg, bool mainWindow) {
    Writer w;
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SHELLFONT | DS_CENTER;
    if (mainWindow) style |= WS_MINIMIZEBOX;
    w.Dword(style);
    w.Dword(mainWindow ? WS_EX_APPWINDOW : 0);
    w.Word(static_cast<uint16_t>(dlg.controls.size()));
    w.Word(0);
    w.Word(0);
    w.Word(static_cast<uint16_t>(dlg.cx));
    w.Word(static_cast<uint16_t>(dlg.cy));
    w.Word(0);  // no menu: the menu bar is added at run time from its own template
    w.Word(0);  // the dialog class
    w.Text(dlg.title);
    w.Word(static_cast<uint16_t>(dlg.pointSize));
    w.Text(dlg.fontName);

    for (const ControlTemplate& t : dlg.controls) {
        w.AlignDword();
        DWORD itemStyle = CommonStyle(t);
        DWORD exStyle = 0;
        uint16_t cls = kStatic;
        const wchar_t* className = nullptr;
        bool iconTitle = false;
        switch (t.kind) {
            case ControlKind::Static:
                itemStyle |= (t.style & CS_CENTER) ? SS_CENTER : SS_LEFT;
                if (t.style & CS_NOPREFIX) itemStyle |= SS_NOPREFIX;
                break;
            case ControlKind::Button: cls = kButton; itemStyle |= BS_PUSHBUTTON; break;
            case ControlKind::DefButton: cls = kButton; itemStyle |= BS_DEFPUSHBUTTON; break;
            case ControlKind::GroupBox: cls = kButton; itemStyle |= BS_GROUPBOX; break;
            case ControlKind::ComboBox:
                cls = kComboBox;
                itemStyle |= CBS_DROPDOWN | CBS_AUTOHSCROLL;
                if (t.style & CS_VSCROLL) itemStyle |= WS_VSCROLL;
                break;
            case ControlKind::Progress:
                className = PROGRESS_CLASSW;
                itemStyle |= WS_BORDER;
                break;
            case ControlKind::Icon:
                itemStyle |= SS_ICON;
                iconTitle = true;
                break;
        }
        w.Dword(itemStyle);
        w.Dword(exStyle);
        w.Word(static_cast<uint16_t>(t.x));
        w.Word(static_cast<uint16_t>(t.y));
        w.Word(static_cast<uint16_t>(t.cx));
        w.Word(static_cast<uint16_t>(t.cy));
        w.Word(static_cast<uint16_t>(t.id < 0 ? 0xFFFF : t.id));
        if (className) {
            for (const wchar_t* p = className; *p; ++p) w.Word(static_cast<uint16_t>(*p));
            w.Word(0);
        } else {
            w.Ordinal(cls);
        }
        if (iconTitle)
            w.Ordinal(IDR_MAINFRAME);  // the program icon in the executable's resources
        else
            w.Text(t.text);
        w.Word(0);  // no creation data
    }
    return w.Take();
}

}  // namespace zl::win
