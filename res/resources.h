// The program's resources: dialog templates 100 and 102, menu 129, string 101,
// the icon 128 (files beside this one) and the Device box list.
#pragma once

#include <string>

#include "platform/dialog_template.h"

namespace zl {

// Control identifiers of the main dialog (template 102).
enum : int {
    IDC_PORT = 1000,          // Port box
    IDC_READOUT = 1001,       // "Firmware -> Datei"
    IDC_PORT_LABEL = 1002,
    IDC_AUTOLOAD_PATH = 1003,
    IDC_AUTOLOAD_ON = 1004,
    IDC_AUTOLOAD_OFF = 1005,
    IDC_PROGRESS = 1006,
    IDC_STATUS = 1007,
    IDC_FW_LEFT = 1008,
    IDC_FW_RIGHT = 1009,
    IDC_COMPARE = 1010,
    IDC_HELP = 1011,
    IDC_INFO = 1012,
    IDC_QUIT = 1013,
    IDC_AUTOLOAD_GROUP = 1014,
    IDC_PATH_LABEL = 1015,
    IDC_FW_RESULT = 1016,
    IDC_THREADS = 1017,       // thread indicator
    IDC_DEVICE = 1018,        // Device box
    IDC_DEVICE_LABEL = 1019,
    IDC_DISCONNECT = 1020,
    IDC_STOPSTART = 1021,
};

// About box (template 100).
enum : int {
    IDC_ABOUT_OK = 1,
    IDC_ABOUT_SUMMARY = 1012,
};

enum : int {
    IDD_ABOUTBOX = 100,
    IDS_ABOUTBOX = 101,
    IDD_BOOTLOADERZL_DIALOG = 102,
    IDR_MAINFRAME = 128,
    IDR_MENU = 129,
    ID_CHOOSE_AUTOLOAD_FILE = 32776,
    ID_LANGUAGE_GERMAN = 32783,
    ID_LANGUAGE_ENGLISH = 32784,
    IDM_ABOUTBOX = 0x0010,
};

const DialogTemplate& MainDialogTemplate();   // 102
const DialogTemplate& AboutDialogTemplate();  // 100
const MenuTemplate& MainMenu();                // 129
std::u16string LoadString(int id);             // empty when there is none
// The Device box entries ("Corvel 6", ...), in their order: the one list of them.
const std::vector<std::u16string>& DeviceTypeNames();
// The Device box entry of a selection, empty for none.
std::u16string DeviceTypeName(int sel);

}  // namespace zl
