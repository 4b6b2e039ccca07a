#include "cli/output.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "cli/system.h"
#include "records/json.h"
#include "records/record_line.h"

namespace zl::cli {
namespace {

std::string Fmt(const char* format, double a) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, a);
    return buf;
}

std::string Duration(double s) {
    if (s < 0) return "--";
    const long t = static_cast<long>(s + 0.5);
    char buf[32];
    if (t >= 3600) std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", t / 3600, t / 60 % 60, t % 60);
    else std::snprintf(buf, sizeof buf, "%ld:%02ld", t / 60, t % 60);
    return buf;
}

size_t Characters(const std::string& s) {
    size_t chars = 0;
    for (char c : s) chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return chars;
}

// Cuts a UTF-8 text to n characters.
std::string Fit(const std::string& s, size_t n) {
    size_t chars = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && chars++ == n) return s.substr(0, i);
    }
    return s;
}

// The first of the lines that fits n characters; else the last, cut to n.
std::string FirstThatFits(const std::vector<std::string>& lines, size_t n) {
    for (const std::string& line : lines)
        if (Characters(line) <= n) return line;
    return Fit(lines.back(), n);
}

}  // namespace

std::string Printable(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    char hex[8];
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c < 0x20 || c == 0x7F) {
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) < 0xA0 &&
                   static_cast<unsigned char>(utf8[i + 1]) >= 0x80) {
            // U+0080 to U+009F: the terminal's 8-bit control characters (CSI, OSC, ...).
            std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned char>(utf8[++i]));
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Bytes(int64_t n) {
    if (n < 1024) return std::to_string(n) + " B";
    if (n < 1024 * 1024) return Fmt("%.1f KiB", n / 1024.0);
    return Fmt("%.2f MiB", n / 1048576.0);
}

Reporter::Reporter(Mode mode, std::string port) : mode_(mode), port_(std::move(port)) {
    if (mode_ != Mode::Terminal) return;
    eraseSequence_ = TerminalTakesControlSequences();
    //XX if (const int columns = TerminalColumns(); columns > 20) columns_ = static_cast<size_t>(columns);
}

double Reporter::Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string Reporter::ClearLive(const std::string& next) {
    if (eraseSequence_) return "\r\033[K";
    // A console without control sequences: the live line is covered with spaces.
    const std::string clear = "\r" + std::string(liveChars_, ' ') + "\r";
    liveChars_ = Characters(next);
    return clear;
}

void Reporter::Line(const std::string& raw) {
    // One write per line: the stations of one run share standard output.
    const std::string text = Printable(raw);
    WriteOut((live_ ? ClearLive(text) : "") + text + "\n");
    live_ = false;
    liveChars_ = 0;
    std::fflush(stdout);
}

size_t Reporter::Width() {
    // Asked again every second: the console may have been resized since. Not at every
    // draw: a console's answer can take long (Wine's), and the drawing thread is the
    // transfer's.
    const auto now = std::chrono::steady_clock::now();
    if (now - widthAsked_ >= std::chrono::seconds(1)) {
        widthAsked_ = now;
        if (const int columns = TerminalColumns(); columns > 20) columns_ = static_cast<size_t>(columns);
    }
    return columns_ - 1;  // a character in the last column makes some consoles wrap
}

void Reporter::Live(const std::string& text) {
    const std::string fitted = Fit(Printable(text), Width());
    WriteOut(ClearLive(fitted) + fitted);
    live_ = true;
    std::fflush(stdout);
}

void Reporter::Emit(const std::string& json) {
    std::string line = json + "\n";
    if (station_) line.insert(1, "\"station\":\"" + port_ + "\",");
    WriteOut(line);
    std::fflush(stdout);
}

void Reporter::Start(const std::string& command, const std::string& devicePath, const std::string& file, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode_ == Mode::Json) {
        JsonObject o;
        o.Int("v", kEventSchema).Str("event", "start").Real("t", Elapsed(), 3).Str("port", port_);
        o.Str("command", command).Str("device_path", devicePath);
        if (!file.empty()) o.Str("file", file);
        if (command == "load") o.Int("count", count);
        return Emit(o.Text());
    }
    std::string text = (station_ ? port_ + "  " : "") + "bzl " + command + " on " + port_ + " (" + devicePath + ")";
    if (!file.empty()) text += ", file " + file;
    if (command == "load") text += count == 0 ? ", devices until interrupted" : ", " + std::to_string(count) + " device(s)";
    Line(text);
}

void Reporter::Status(const std::string& text, bool searching) {
    std::lock_guard<std::mutex> lock(mutex_);
    lastDecile_ = lastPercent_ = -1;
    status_ = text;
    if (mode_ == Mode::Json) {
        JsonObject o;
        o.Int("v", kEventSchema).Str("event", searching ? "searching" : "status").Real("t", Elapsed(), 3).Str("port", port_);
        o.Str("text", text);
        return Emit(o.Text());
    }
    if (mode_ == Mode::Terminal) {
        if (live_) WriteOut("\n");
        live_ = false;
        Live(port_ + "  " + text);
        return;
    }
    Line(port_ + "  " + text);
}

void Reporter::Searching(double seconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode_ != Mode::Terminal || !live_) return;
    static const char* kSpin = "|/-\\";
    const std::string text = port_ + "  " + status_ + Fmt("  %.0f s ", seconds) + kSpin[static_cast<int>(seconds * 4) % 4];
    Live(text);
}

void Reporter::Connected(const DeviceView& d) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode_ == Mode::Json) {
        JsonObject o;
        o.Int("v", kEventSchema).Str("event", "connected").Real("t", Elapsed(), 3).Str("port", port_);
        o.Str("device_kind", d.pic32 ? "pic32" : "hcs");
        if (d.pic32)
            o.Str("manufacturer", d.manufacturer).Str("hardware", d.hardware).Str("firmware", d.firmware)
                .Str("flash", d.flash).Str("previous_update", d.previous);
        else
            o.Str("software", d.software).Str("version", d.version).Str("date", d.date);
        return Emit(o.Text());
    }
    auto field = [&](const char* name, const std::string& value) {
        if (!value.empty()) Line((station_ ? port_ : "") + "    " + name + value);
    };
    if (live_) WriteOut("\n"), live_ = false;
    if (d.pic32) {
        field("manufacturer:    ", d.manufacturer);
        field("hardware:        ", d.hardware);
        field("firmware:        ", d.firmware);
        field("in flash:        ", d.flash);
        field("previous update: ", d.previous);
    } else {
        field("software: ", d.software);
        field("version:  ", d.version);
        field("date:     ", d.date);
    }
}

// The phase as the live line and plain lines name it.
static const char* PhaseLabel(const std::string& phase, bool english) {
    if (phase == "program") return english ? "device programs the chip" : "Ger\u00e4t programmiert den Chip";
    if (phase == "receive") return english ? "receiving" : "Empfangen";
    if (phase == "compare") return english ? "comparing" : "Vergleichen";
    return english ? "sending" : "Senden";
}

void Reporter::Progress(const ProgressView& p) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (p.phase != phase_) {
        // Each phase counts from its own start.
        phase_ = p.phase;
        lastDecile_ = lastPercent_ = -1;
    }
    const std::string left = p.secondsLeft >= 0 ? Duration(p.secondsLeft) + (english_ ? " left" : " verbleibend") : "";
    std::string numbers;
    if (p.bytes) {
        numbers = Bytes(p.done) + (p.total >= 0 ? " / " + Bytes(p.total) : "") + ", " + Fmt("%.0f B/s", p.bytesPerSecond) +
                  (left.empty() ? "" : ", " + left);
    } else {
        numbers = left;
    }
    const std::string label = PhaseLabel(p.phase, english_);
    const auto now = std::chrono::steady_clock::now();
    const bool unknown = p.percent < 0;
    if (mode_ == Mode::Json) {
        if (unknown ? now - lastDraw_ < std::chrono::seconds(1) : p.percent == lastPercent_) return;
        lastPercent_ = p.percent;
        lastDraw_ = now;
        JsonObject o;
        o.Int("v", kEventSchema).Str("event", "progress").Real("t", Elapsed(), 3).Str("port", port_);
        o.Str("phase", p.phase).Int("done", p.done);
        if (p.total >= 0) o.Int("total", p.total);
        else o.Null("total");
        if (unknown) o.Null("percent");
        else o.Int("percent", p.percent);
        if (p.bytes) o.Real("bytes_per_s", p.bytesPerSecond, 0);
        else o.Null("bytes_per_s");
        if (p.secondsLeft >= 0) o.Real("eta_s", p.secondsLeft, 1);
        else o.Null("eta_s");
        return Emit(o.Text());
    }
    if (mode_ == Mode::Plain) {
        // At most every 10 %; without a total, every 10 seconds.
        if (unknown) {
            if (lastDecile_ >= 0 && now - lastDraw_ < std::chrono::seconds(10)) return;
            lastDecile_ = 0;
            lastDraw_ = now;
            return Line(port_ + "  " + label + "  " + numbers);
        }
        if (p.percent / 10 <= lastDecile_) return;
        lastDecile_ = p.percent / 10;
        return Line(port_ + "  " + label + "  " + std::to_string(p.percent) + " %  " + numbers);
    }
    if (now - lastDraw_ < std::chrono::milliseconds(200) && p.percent == lastPercent_) return;
    lastDraw_ = now;
    lastPercent_ = p.percent;
    // A narrow console loses whole fields, the least needed first, never half a number.
    const std::string head = port_ + "  " + status_ + "  " + label + "  ";
    const std::string shortHead = port_ + "  " + label + "  ";
    const std::string done = p.bytes ? Bytes(p.done) + (p.total >= 0 ? " / " + Bytes(p.total) : "") : left;
    const std::string least = p.bytes ? Bytes(p.done) : left;
    if (unknown) return Live(FirstThatFits({head + numbers, head + done, shortHead + done, port_ + "  " + done}, Width()));
    auto bar = [&](int width) {
        const int filled = p.percent * width / 100;
        return "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(width - filled), '.') + "] ";
    };
    const std::string percent = std::to_string(p.percent) + " %";
    Live(FirstThatFits({head + bar(20) + percent + "  " + numbers, head + bar(20) + percent + "  " + done,
                        head + bar(10) + percent + "  " + least, shortHead + bar(10) + percent + "  " + least,
                        shortHead + percent, port_ + "  " + percent},
                       Width()));
}

void Reporter::Box(const std::string& title, const std::string& text, const char* icon, const char* answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode_ == Mode::Json) {
        JsonObject o;
        o.Int("v", kEventSchema).Str("event", "box").Real("t", Elapsed(), 3).Str("port", port_);
        o.Str("title", title).Str("text", text).Str("icon", icon).Str("answer", answer);
        return Emit(o.Text());
    }
    // The box's own line breaks become blanks; any other control character is escaped.
    std::string flat;
    for (char c : text) flat += (c == '\n' || c == '\r') ? ' ' : c;
    while (flat.find("  ") != std::string::npos) flat.erase(flat.find("  "), 1);
    Line(port_ + "  [" + title + "] " + flat + (std::string(answer) == "cancel" ? "  -> cancel" : ""));
}

void Reporter::Transfer(const TransferView& t) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode_ == Mode::Json) {
        JsonObject o;
        o.Int("v", kEventSchema).Str("event", "transfer").Real("t", Elapsed(), 3).Str("port", port_);
        o.Str("operation", t.operation).Bool("ok", t.ok).Int("code", t.code).Str("outcome", t.outcome);
        if (!t.ok) o.Str("failure", t.failure);
        o.Int("bytes", t.bytes).Real("duration_s", t.seconds, 3).Bool("reached_device", t.reachedDevice).Str("box", t.box);
        if (t.operation == "load") o.Str("firmware_after", t.firmwareAfter);
        if (!t.unitId.empty()) o.Str("unit_id", t.unitId);
        if (!t.mismatchBlocks.empty()) o.Str("mismatch", MismatchText(t.mismatchBlocks));
        return Emit(o.Text());
    }
    std::string text = port_ + "  " + t.operation + (t.ok ? " good" : " FAILED (" + t.outcome + (t.failure.empty() ? "" : ": " + t.failure) + ", exit code " + std::to_string(t.code) + ")");
    if (t.reachedDevice) text += ", " + Bytes(t.bytes) + " in " + Fmt("%.1f s", t.seconds);
    if (!t.unitId.empty()) text += ", unit " + Printable(t.unitId);
    Line(text);
    if (!t.mismatchBlocks.empty()) Line((station_ ? port_ : "") + "    " + MismatchText(t.mismatchBlocks));
    if (!t.firmwareAfter.empty()) Line((station_ ? port_ : "") + "    firmware now:    " + t.firmwareAfter);
}

void Reporter::AskUnit() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode_ == Mode::Json) {
        JsonObject o;
        o.Int("v", kEventSchema).Str("event", "unit_wanted").Real("t", Elapsed(), 3).Str("port", port_);
        return Emit(o.Text());
    }
    Line(port_ + (english_ ? "  unit ID? Scan the label or type it, then Enter (an empty line ends the run)"
                           : "  Geräte-ID? Etikett scannen oder eintippen, dann Enter (leere Zeile beendet)"));
}

void Reporter::UnitTaken(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode_ == Mode::Json) {
        JsonObject o;
        o.Int("v", kEventSchema).Str("event", "unit").Real("t", Elapsed(), 3).Str("port", port_).Str("unit_id", id);
        return Emit(o.Text());
    }
    Line(port_ + (english_ ? "  unit " : "  Gerät ") + Printable(id));
}

std::string MismatchText(const std::vector<uint32_t>& blocks) {
    std::string which, bytes;
    for (const auto& [first, last] : MismatchRanges(blocks)) {
        if (!which.empty()) which += ", ", bytes += ", ";
        which += first == last ? std::to_string(first) : std::to_string(first) + "-" + std::to_string(last);
        char range[48];
        std::snprintf(range, sizeof range, "0x%06llX-0x%06llX", static_cast<unsigned long long>(first) * 512,
                      static_cast<unsigned long long>(last) * 512 + 511);
        bytes += range;
    }
    return (blocks.size() == 1 ? "block " : "blocks ") + which + (blocks.size() == 1 ? " differs (bytes " : " differ (bytes ") +
           bytes + ")";
}

void Reporter::Note(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode_ == Mode::Json) {
        JsonObject o;
        o.Int("v", kEventSchema).Str("event", "note").Real("t", Elapsed(), 3).Str("port", port_).Str("text", text);
        return Emit(o.Text());
    }
    if (live_) WriteOut("\n"), live_ = false;
    std::fflush(stdout);
    WriteErr("bzl: " + (station_ ? port_ + ": " : std::string()) + Printable(text) + "\n");
}

void Reporter::Result(int code, int good, int failed, const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode_ == Mode::Json) {
        JsonObject o;
        o.Int("v", kEventSchema).Str("event", "result").Real("t", Elapsed(), 3).Str("port", port_);
        o.Bool("ok", code == 0).Int("code", code).Int("good", good).Int("failed", failed).Str("message", message);
        return Emit(o.Text());
    }
    Line(port_ + "  " + message + " (exit code " + std::to_string(code) + ")");
}

}  // namespace zl::cli
