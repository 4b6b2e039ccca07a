// The device display on arbitrary received bytes: both device kinds, both languages.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/device_info.h"
#include "protocol/wire_text.h"

namespace {

void Check(bool ok) {
    if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text;
    for (size_t i = 0; i < size; ++i) zl::AppendWidened(text, data[i]);

    const zl::Pic32View de = zl::ShowPic32(text, false);
    const zl::Pic32View en = zl::ShowPic32(text, true);
    if (!text.empty()) {
        Check(de.deviceInfo == text);
        // The English words keep the length of the German ones.
        Check(en.deviceInfo.size() == text.size());
    }
    for (const zl::Pic32View* v : {&de, &en}) {
        // The panels are windows of at most 152 characters; the summary is a heading
        // and at most 140 characters.
        Check(v->left.size() <= 152);
        Check(v->right.size() <= 152);
        Check(v->summary.size() <= 34 + 140);
    }

    for (bool english : {false, true}) {
        const zl::HcsView h = zl::ShowHcs(text, english);
        // An answer shows at most the three 8-character fields and their labels.
        if (h.clearSummary) Check(h.setLeft && h.left.size() <= 24 + 11 + 11 + 9);
    }
    return 0;
}
