#include "platform/comm_dcb.h"

#include <cctype>
#include <string>
#include <vector>

namespace zl {
namespace {

std::string Lower(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        if (c > 0x7F) return {};  // not a mode string
        out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    return out;
}

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

bool ParseNumber(const std::string& s, uint32_t& value) {
    if (s.empty() || s.size() > 9) return false;
    value = 0;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return true;
}

bool ParseBaud(const std::string& s, bool oldForm, uint32_t& baud) {
    uint32_t n;
    if (!ParseNumber(s, n) || n == 0) return false;
    if (oldForm) {
        // The two-digit abbreviations of the old mode command.
        switch (n) {
            case 11: n = 110; break;
            case 15: n = 150; break;
            case 30: n = 300; break;
            case 60: n = 600; break;
            case 12: n = 1200; break;
            case 24: n = 2400; break;
            case 48: n = 4800; break;
            case 96: n = 9600; break;
            case 19: n = 19200; break;
            default: break;
        }
    }
    baud = n;
    return true;
}

bool ParseParity(const std::string& s, uint8_t& parity) {
    if (s == "n") parity = NOPARITY;
    else if (s == "o") parity = ODDPARITY;
    else if (s == "e") parity = EVENPARITY;
    else if (s == "m") parity = MARKPARITY;
    else if (s == "s") parity = SPACEPARITY;
    else return false;
    return true;
}

bool ParseData(const std::string& s, uint8_t& bits) {
    uint32_t n;
    if (!ParseNumber(s, n) || n < 5 || n > 8) return false;
    bits = static_cast<uint8_t>(n);
    return true;
}

bool ParseStop(const std::string& s, uint8_t& stop) {
    if (s == "1") stop = ONESTOPBIT;
    else if (s == "1.5") stop = ONE5STOPBITS;
    else if (s == "2") stop = TWOSTOPBITS;
    else return false;
    return true;
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            parts.push_back(Trim(cur));
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    parts.push_back(Trim(cur));
    return parts;
}

// "baud,parity,data,stop[,x|p]"
bool ParseOldForm(const std::string& s, DCB& d) {
    std::vector<std::string> p = Split(s, ',');
    if (p.empty() || p.size() > 5) return false;
    if (!ParseBaud(p[0], true, d.BaudRate)) return false;
    d.Parity = NOPARITY;
    d.ByteSize = 7;
    d.StopBits = ONESTOPBIT;
    if (p.size() > 1 && !p[1].empty() && !ParseParity(p[1], d.Parity)) return false;
    if (p.size() > 2 && !p[2].empty() && !ParseData(p[2], d.ByteSize)) return false;
    if (p.size() > 3 && !p[3].empty() && !ParseStop(p[3], d.StopBits)) return false;
    d.fOutX = d.fInX = false;
    d.fOutxCtsFlow = d.fOutxDsrFlow = false;
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.fRtsControl = RTS_CONTROL_ENABLE;
    if (p.size() == 5) {
        if (p[4] == "x") {
            d.fOutX = d.fInX = true;
        } else if (p[4] == "p") {
            d.fOutxCtsFlow = d.fOutxDsrFlow = true;
            d.fDtrControl = DTR_CONTROL_HANDSHAKE;
            d.fRtsControl = RTS_CONTROL_HANDSHAKE;
        } else if (!p[4].empty()) {
            return false;
        }
    }
    return true;
}

bool ParseOnOff(const std::string& v, bool& out) {
    if (v == "on") out = true;
    else if (v == "off") out = false;
    else return false;
    return true;
}

// "baud=115200 parity=n data=8 stop=1 xon=off ..."
bool ParseKeywordForm(const std::string& s, DCB& d) {
    std::vector<std::string> words;
    std::string cur;
    for (char c : s) {
        if (c == ' ' || c == '\t') {
            if (!cur.empty()) words.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) words.push_back(cur);
    if (words.empty()) return false;
    for (const std::string& w : words) {
        size_t eq = w.find('=');
        if (eq == std::string::npos) return false;
        std::string key = w.substr(0, eq), value = w.substr(eq + 1);
        bool flag;
        if (key == "baud") {
            if (!ParseBaud(value, false, d.BaudRate)) return false;
        } else if (key == "parity") {
            if (!ParseParity(value, d.Parity)) return false;
        } else if (key == "data") {
            if (!ParseData(value, d.ByteSize)) return false;
        } else if (key == "stop") {
            if (!ParseStop(value, d.StopBits)) return false;
        } else if (key == "xon") {
            if (!ParseOnOff(value, flag)) return false;
            d.fOutX = d.fInX = flag;
        } else if (key == "octs") {
            if (!ParseOnOff(value, d.fOutxCtsFlow)) return false;
        } else if (key == "odsr") {
            if (!ParseOnOff(value, d.fOutxDsrFlow)) return false;
        } else if (key == "dtr") {
            if (value == "on") d.fDtrControl = DTR_CONTROL_ENABLE;
            else if (value == "off") d.fDtrControl = DTR_CONTROL_DISABLE;
            else if (value == "hs") d.fDtrControl = DTR_CONTROL_HANDSHAKE;
            else return false;
        } else if (key == "rts") {
            if (value == "on") d.fRtsControl = RTS_CONTROL_ENABLE;
            else if (value == "off") d.fRtsControl = RTS_CONTROL_DISABLE;
            else if (value == "hs") d.fRtsControl = RTS_CONTROL_HANDSHAKE;
            else return false;
        } else if (key == "to" || key == "idsr") {
            if (!ParseOnOff(value, flag)) return false;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

bool BuildCommDCB(const std::u16string& mode, DCB& dcb) {
    std::string s = Trim(Lower(mode));
    if (s.empty()) return false;
    // An optional "comN:" in front names the port; it does not change the settings.
    if (s.rfind("com", 0) == 0) {
        size_t colon = s.find(':');
        if (colon == std::string::npos) return false;
        s = Trim(s.substr(colon + 1));
    }
    DCB d = dcb;
    d.fBinary = true;
    bool ok = s.find('=') != std::string::npos ? ParseKeywordForm(s, d) : ParseOldForm(s, d);
    if (!ok) return false;
    d.fParity = d.Parity != NOPARITY;
    dcb = d;
    return true;
}

}  // namespace zl
