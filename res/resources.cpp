#include "res/resources.h"

namespace zl {

const DialogTemplate& MainDialogTemplate() {
    static const DialogTemplate t{
        IDD_BOOTLOADERZL_DIALOG,
        u"Bootloader-Software f\u00fcr ZL-Ger\u00e4te",
        258, 316, u"MS Shell Dlg", 8, IDR_MENU,
        {
            {IDC_DEVICE_LABEL, ControlKind::Static, u"Ger\u00e4t:", 41, 17, 30, 8, CS_VISIBLE | CS_CENTER, {}},
            {IDC_DEVICE, ControlKind::ComboBox, u"", 76, 15, 107, 30, CS_VISIBLE | CS_VSCROLL | CS_TABSTOP,
             {u"Corvel 6", u"ZL418 Nord", u"Linkbox K7/9", u"Pallas 2c/3c"}},
            {IDC_DISCONNECT, ControlKind::Button, u"Trennen", 193, 13, 40, 16, CS_VISIBLE | CS_DISABLED | CS_TABSTOP, {}},
            {IDC_STOPSTART, ControlKind::Button, u"Stop", 9, 13, 27, 16, CS_TABSTOP, {}},
            {-1, ControlKind::GroupBox, u"Status", 7, 40, 243, 51, CS_VISIBLE, {}},
            {IDC_PORT_LABEL, ControlKind::Static, u"Port:", 30, 55, 17, 8, CS_VISIBLE, {}},
            {IDC_PORT, ControlKind::ComboBox, u"", 18, 67, 49, 30, CS_VISIBLE | CS_VSCROLL | CS_TABSTOP, {}},
            {IDC_STATUS, ControlKind::Static, u"", 72, 55, 170, 8, CS_VISIBLE | CS_CENTER, {}},
            {IDC_PROGRESS, ControlKind::Progress, u"", 75, 67, 164, 12, CS_VISIBLE, {}},
            {IDC_THREADS, ControlKind::Static, u"X", 75, 81, 164, 8, CS_CENTER, {}},
            {IDC_AUTOLOAD_GROUP, ControlKind::GroupBox, u"Automatisches Dateiladen", 7, 104, 243, 58, CS_VISIBLE, {}},
            {IDC_PATH_LABEL, ControlKind::Static, u"Pfad:", 17, 119, 18, 8, CS_VISIBLE, {}},
            {IDC_AUTOLOAD_PATH, ControlKind::Static, u"keine Datei spezifiziert (Auto-Load aus)", 41, 119, 201, 8,
             CS_VISIBLE, {}},
            {IDC_AUTOLOAD_ON, ControlKind::Button, u"Auto-Load an", 53, 136, 57, 16, CS_VISIBLE | CS_TABSTOP, {}},
            {IDC_AUTOLOAD_OFF, ControlKind::Button, u"Auto-Load aus", 139, 136, 57, 16, CS_VISIBLE | CS_TABSTOP, {}},
            {-1, ControlKind::GroupBox, u"Firmware", 7, 175, 243, 109, CS_VISIBLE, {}},
            {IDC_FW_LEFT, ControlKind::Static, u"", 16, 191, 100, 50, CS_VISIBLE, {}},
            {IDC_FW_RIGHT, ControlKind::Static, u"", 145, 191, 100, 50, CS_VISIBLE, {}},
            {IDC_FW_RESULT, ControlKind::Static, u"", 9, 245, 239, 8, CS_VISIBLE | CS_CENTER, {}},
            {IDC_READOUT, ControlKind::Button, u"Firmware -> Datei", 21, 261, 77, 16, CS_DISABLED | CS_TABSTOP, {}},
            {IDC_COMPARE, ControlKind::Button, u"mit Datei vergleichen", 152, 261, 77, 16,
             CS_VISIBLE | CS_DISABLED | CS_TABSTOP, {}},
            {IDC_HELP, ControlKind::Button, u"Hilfe...", 21, 292, 50, 16, CS_VISIBLE | CS_TABSTOP, {}},
            {IDC_INFO, ControlKind::Button, u"Info...", 100, 292, 50, 16, CS_VISIBLE | CS_TABSTOP, {}},
            {IDC_QUIT, ControlKind::Button, u"Beenden", 179, 292, 50, 16, CS_VISIBLE | CS_TABSTOP, {}},
        }};
    return t;
}

const DialogTemplate& AboutDialogTemplate() {
    static const DialogTemplate t{
        IDD_ABOUTBOX,
        u"Info",
        223, 134, u"MS Shell Dlg", 8, 0,
        {
            {-1, ControlKind::Icon, u"", 11, 14, 21, 20, CS_VISIBLE, {}},
            {-1, ControlKind::Static, u"Bootloader-Software f\u00fcr ZL-Ger\u00e4te\rVersion 1.23", 40, 10, 119, 18,
             CS_VISIBLE | CS_NOPREFIX, {}},
            {IDC_ABOUT_OK, ControlKind::DefButton, u"OK", 166, 15, 50, 16, CS_VISIBLE | CS_TABSTOP, {}},
            {IDC_ABOUT_SUMMARY, ControlKind::Static, u"", 40, 56, 111, 50, CS_VISIBLE, {}},
        }};
    return t;
}

const MenuTemplate& MainMenu() {
    static const MenuTemplate m{
        IDR_MENU, u"&Sprache / Language", {{ID_LANGUAGE_GERMAN, u"&Deutsch"}, {ID_LANGUAGE_ENGLISH, u"&English"}}};
    return m;
}

std::u16string LoadString(int id) {
    if (id == IDS_ABOUTBOX) return u"&Info - Bootloader for ZL";
    return {};
}

const std::vector<std::u16string>& DeviceTypeNames() {
    static const std::vector<std::u16string> names = [] {
        for (const ControlTemplate& t : MainDialogTemplate().controls)
            if (t.id == IDC_DEVICE) return t.items;
        return std::vector<std::u16string>{};
    }();
    return names;
}

std::u16string DeviceTypeName(int sel) {
    const auto& names = DeviceTypeNames();
    return sel >= 0 && sel < static_cast<int>(names.size()) ? names[static_cast<size_t>(sel)] : std::u16string();
}

}  // namespace zl
