#include "files/fit_path.h"

namespace zl {
namespace {

constexpr char16_t kSep = u'\\';
constexpr char16_t kLiteralBackslash = u'\xE000';  // a backslash inside a Linux file name
constexpr size_t npos = std::u16string::npos;

// Linux paths are worked on in the Windows form: "/a/b" becomes "C:\a\b".
std::u16string ToWorkForm(const std::u16string& path) {
    std::u16string t = u"C:";
    for (char16_t c : path) t.push_back(c == u'/' ? kSep : (c == kSep ? kLiteralBackslash : c));
    return t;
}

std::u16string FromWorkForm(const std::u16string& t) {
    std::u16string path;
    for (size_t i = 2; i < t.size(); ++i) path.push_back(t[i] == kSep ? u'/' : (t[i] == kLiteralBackslash ? kSep : t[i]));
    return path;
}

// The index of the last separator before the last one, or npos.
size_t SecondLast(const std::u16string& t) {
    const size_t last = t.rfind(kSep);
    if (last == npos || last == 0) return npos;
    return t.rfind(kSep, last - 1);
}

// One shortening pass; false when nothing could be taken away.
bool Pass(std::u16string& t) {
    const size_t s = SecondLast(t);
    if (s == npos) {  // a
        if (t.size() < 4) return false;
        t.erase(3, 1);
        return true;
    }
    if (s >= 2 && t[s - 2] == u':') {  // c
        if (s + 1 < t.size()) t.erase(s + 1, 1);
        t.erase(s - 1, 1);
        return true;
    }
    if (s >= 1 && t[s - 1] == u':') {  // b
        if (s + 1 >= t.size()) return false;
        t.erase(s + 1, 1);
        return true;
    }
    if (s >= 2) {  // d
        const size_t before = t.rfind(kSep, s - 2);
        if (before != npos) {
            t.erase(before + 1, s - before - 1);
            return true;
        }
    }
    // A path of another form (no drive, a network path): eat the part before the
    // last two separators from its start.
    if (s >= 1) {
        t.erase(0, 1);
        return true;
    }
    if (s + 1 < t.size()) {
        t.erase(s + 1, 1);
        return true;
    }
    return false;
}

}  // namespace

void FitPath(std::u16string& path, int widthPx, const std::function<int(const std::u16string&)>& measure) {
    if (measure(path) <= widthPx) return;
    const bool unixPath = !path.empty() && path[0] == u'/';
    std::u16string t = unixPath ? ToWorkForm(path) : path;
    auto width = [&](const std::u16string& text) { return measure(unixPath ? FromWorkForm(text) : text); };
    const int dots = measure(u"...");
    while (width(t) + dots > widthPx) {
        if (!Pass(t)) break;
    }
    const size_t s = SecondLast(t);
    size_t at = (s == npos || (s >= 1 && t[s - 1] == u':')) ? 3 : s;
    if (at > t.size()) at = t.size();
    t.insert(at, u"...");
    path = unixPath ? FromWorkForm(t) : t;
}

}  // namespace zl
