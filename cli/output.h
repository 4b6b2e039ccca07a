// What bzl prints: on a terminal one live line per state, in a log plain lines with
// progress at most every 10 %, or with --json one JSON object per event (schema 1).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace zl::cli {

constexpr int kEventSchema = 1;

// What the window's panels show of a device.
struct DeviceView {
    bool pic32 = true;
    std::string manufacturer, hardware;        // PIC32
    std::string firmware, flash, previous;     // PIC32: the panels, cleaned of line noise
    std::string software, version, date;       // HCS
};

// A transfer phase's own figures.
struct ProgressView {
    std::string phase = "send";  // "send", "program", "receive", "compare"
    bool bytes = true;       // done and total are bytes; else milliseconds (program)
    int percent = 0;         // done of total; -1 when the total is unknown (readout)
    int64_t done = 0;
    int64_t total = -1;      // -1 when unknown
    double bytesPerSecond = 0;
    double secondsLeft = -1; // -1 when unknown
};

struct TransferView {
    std::string operation;   // "load", "readout", "verify"
    bool ok = false;
    int code = 0;
    std::string outcome, failure, box;
    std::string firmwareAfter;  // a load: what the device reported after it
    std::vector<uint32_t> mismatchBlocks;  // a verify: the blocks the device marked as different
    std::string unitId;         // the unit's ID, when one was given
    int64_t bytes = 0;
    double seconds = 0;
    bool reachedDevice = false;
};

class Reporter {
public:
    enum class Mode { Terminal, Plain, Json };
    Reporter(Mode mode, std::string port);
    // One of several stations of a run: its JSON events carry "station" (its port), its
    // notes on standard error name its port.
    void MarkStation() { station_ = true; }
    // The language of the phase names on the live line and in plain lines.
    void SetEnglish(bool english) { english_ = english; }

    // The header of a run: what is done where.
    void Start(const std::string& command, const std::string& devicePath, const std::string& file, int count);
    // A new status text; searching: it is the search's (event "searching" in JSON).
    void Status(const std::string& text, bool searching = false);
    // While searching: the live line counts the seconds (terminal only).
    void Searching(double seconds);
    void Connected(const DeviceView& device);
    void Progress(const ProgressView& progress);
    void Box(const std::string& title, const std::string& text, const char* icon, const char* answer);
    void Transfer(const TransferView& transfer);
    // The station waits for the next unit's ID on standard input (--ask-unit), and has it.
    void AskUnit();
    void UnitTaken(const std::string& id);
    // A warning that does not stop the run (stderr in text modes).
    void Note(const std::string& text);
    void Result(int code, int good, int failed, const std::string& message);

private:
    void Line(const std::string& text);     // a finished line
    void Live(const std::string& text);     // the current state's live line
    size_t Width();                         // the characters the live line may have now
    std::string ClearLive(const std::string& next);  // what clears the live line before next
    void Emit(const std::string& json);
    double Elapsed() const;

    std::mutex mutex_;
    Mode mode_;
    std::string port_;
    bool station_ = false;
    bool english_ = false;
    std::string phase_;   // the phase of the last progress shown
    std::string status_;  // the current state's status text
    bool live_ = false;
    bool eraseSequence_ = true;  // the live line is cleared with a control sequence
    size_t liveChars_ = 0;       // else: the characters on it, to be covered with spaces
    int lastDecile_ = -1;
    int lastPercent_ = -1;
    std::chrono::steady_clock::time_point lastDraw_{};
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    size_t columns_ = 100;
    std::chrono::steady_clock::time_point widthAsked_ = std::chrono::steady_clock::now();
};

// text as a terminal may show it: control characters (C0, DEL, C1) escaped as \n, \r,
// \t, \x1b, \u009b; everything else as it is. Every text line bzl prints passes here,
// since file names, paths and links come from outside; JSON stays exact.
std::string Printable(const std::string& utf8);

// "blocks 3-4, 9 differ (bytes 0x000600-0x0009FF, 0x001200-0x0013FF)": the blocks a verify
// found different, 512 bytes each.
std::string MismatchText(const std::vector<uint32_t>& blocks);

// "12.3 KiB", "1.0 MiB"
std::string Bytes(int64_t n);

}  // namespace zl::cli
