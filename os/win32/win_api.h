// The Windows headers for the Win32 face. Include this last: <windows.h> defines
// macros under names the platform layer uses too (MessageBox, SetWindowText,
// LoadString, GetProfileInt, ReplaceFile, MB_OK, NOPARITY, ...). The layer's own
// headers are read first, so their declarations keep their names; the name macros
// are taken back here, and the W functions are called by their full names. The
// constant macros that stay have the same values as the layer's constants.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#undef MessageBox
#undef SetWindowText
#undef GetWindowText
#undef LoadString
#undef GetProfileInt
#undef GetProfileString
#undef WriteProfileString
#undef ReplaceFile
#undef CreateFile
#undef DialogBox
#undef Yield

#include <string>

namespace zl::win {

inline std::wstring Wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }
inline std::u16string Narrow16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }
inline std::u16string Narrow16(const wchar_t* s) { return s ? Narrow16(std::wstring(s)) : std::u16string(); }

// The system's words for an error code, without the line end.
inline std::wstring SystemWords(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring words = n ? std::wstring(text, n) : L"error " + std::to_wstring(code);
    if (text) LocalFree(text);
    while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' '))
        words.pop_back();
    return words;
}

}  // namespace zl::win
