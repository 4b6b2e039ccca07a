#include "faces/qt/text_display.h"

#include "res/resources.h"

namespace zl {

QString DisplayText(const std::u16string& text) {
    QString out;
    out.reserve(static_cast<qsizetype>(text.size()));
    int column = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            out += u'\n';
            column = 0;
        } else if (c == u'\n') {
            out += u'\n';
            column = 0;
        } else if (c == u'\t') {
            do {
                out += u' ';
                ++column;
            } while (column % 8 != 0);
        } else {
            out += (c >= 0xFF80) ? QChar(0xFFFD) : QChar(c);
            ++column;
        }
    }
    return out;
}

QString ControlDescription(int id) {
    const char* what = "";
    switch (id) {
        case IDC_PORT: what = "Port box"; break;
        case IDC_READOUT: what = "Readout button"; break;
        case IDC_PORT_LABEL: what = "Port label"; break;
        case IDC_AUTOLOAD_PATH: what = "Auto-Load path line"; break;
        case IDC_AUTOLOAD_ON: what = "Auto-Load On button"; break;
        case IDC_AUTOLOAD_OFF: what = "Auto-Load Off button"; break;
        case IDC_PROGRESS: what = "Progress bar"; break;
        case IDC_STATUS: what = "Status line"; break;
        case IDC_FW_LEFT: what = "left Firmware panel"; break;
        case IDC_FW_RIGHT: what = "right Firmware panel"; break;
        case IDC_COMPARE: what = "Compare button"; break;
        case IDC_HELP: what = "Help button"; break;
        case IDC_INFO: what = "Info button"; break;
        case IDC_QUIT: what = "Quit button"; break;
        case IDC_AUTOLOAD_GROUP: what = "Auto-Load group"; break;
        case IDC_PATH_LABEL: what = "Path label"; break;
        case IDC_FW_RESULT: what = "Firmware result line"; break;
        case IDC_THREADS: what = "Thread indicator"; break;
        case IDC_DEVICE: what = "Device box"; break;
        case IDC_DEVICE_LABEL: what = "Device label"; break;
        case IDC_DISCONNECT: what = "Disconnect button"; break;
        case IDC_STOPSTART: what = "Stop/Start button"; break;
        default: break;
    }
    return QString::number(id) + QLatin1Char(' ') + QLatin1String(what);
}

}  // namespace zl
