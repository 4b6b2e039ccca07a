// Turning a device text into what the dialog shows: the Firmware panels, the result
// line, the stored device text and the bootloader summary.
#pragma once

#include <string>

namespace zl {

// The display of a PIC32 device's self-description.
struct Pic32View {
    std::u16string deviceInfo;  // the stored device text (translated while English)
    std::u16string summary;     // the bootloader summary of the About box
    std::u16string left;        // left Firmware panel: the current firmware
    std::u16string right;       // right Firmware panel: the firmware in flash
    std::u16string result;      // result line: the previous update
};
Pic32View ShowPic32(std::u16string text, bool english);

// The display of an HCS answer or end-of-load report: only the left panel changes,
// and the summary is emptied when the text is an answer.
struct HcsView {
    bool setLeft = false;
    std::u16string left;
    bool clearSummary = false;
};
HcsView ShowHcs(std::u16string text, bool english);

// Replaces every occurrence of from by to.
void ReplaceAll(std::u16string& text, const std::u16string& from, const std::u16string& to);

}  // namespace zl
