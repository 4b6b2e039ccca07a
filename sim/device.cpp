#include "sim/device.h"

#include <fstream>
#include <random>
#include <sstream>

namespace zlsim {
namespace {

using std::chrono::milliseconds;

constexpr size_t kBlock = 512;
// How long a verify without any block waits before it reports. The program reads the
// first answer until the line has been quiet for its read time-out (up to 400 ms on a
// port left open by a readout) before it sends the first block, so this is well past that.
constexpr milliseconds kNoBlocksWait(1000);
// A load or verify ends when no byte has come for this long. The program writes block
// after block without a gap on the line, but its blocks reach an unpaced zlsim as bursts
// one block time apart (44 ms at 115200 baud); after the last block it waits 500 ms or
// more before it reads the result, so the device has answered by then.
constexpr milliseconds kEndOfData(250);
const char* const kWords[] = {"menu", "load", "prog", "make", "read", "verify", "reset"};

long Number(const std::string& s) {
    try {
        return std::stol(s);
    } catch (...) {
        return -1;
    }
}

bool HasEndRecord(const std::string& sx) {
    for (const char* r : {"\nS9", "\nS8", "\nS7"})
        if (sx.find(r) != std::string::npos) return sx.rfind('\n') > sx.find(r);
    return sx.rfind("S9", 0) == 0 && sx.find('\n') != std::string::npos;
}

}  // namespace

bool SetFault(Faults& f, const std::string& name, const std::string& arg) {
    if (name == "silent") f.silent = true;
    else if (name == "garbage") f.garbage = true;
    else if (name == "no-make-end") f.noMakeEnd = true;
    else if (name == "make-split") f.makeSplit = true;
    else if (name == "verify-mismatch") f.verifyMismatch = true;
    else if (name == "zero-before") f.zeroBefore = true;
    else if (name == "split") f.split = true;
    else if (name == "no-blank") f.noBlank = true;
    else if (name == "noise-prefix") f.noisePrefix = true;
    else if (name == "menu-at-start") f.menuAtStart = true;
    else if (name == "no-load-start") f.noLoadStart = true;
    else if (name == "no-verify-start") f.noVerifyStart = true;
    else if (name == "drop-dots") f.dropDots = static_cast<int>(Number(arg));
    else if (name == "extra-dots") f.extraDots = static_cast<int>(Number(arg));
    else if (name == "late-dots") f.lateDotsMs = static_cast<int>(Number(arg));
    else if (name == "hangup-after") f.hangupAfter = Number(arg);
    else if (name == "readout-length") f.readoutLength = Number(arg);
    else if (name == "chatter") f.chatter = true;
    else return false;
    return true;
}

Device::Device(const DeviceOptions& options, Line& line) : options_(options), line_(line) {
    options_.manufacturer = Field(options_.manufacturer, 16);
    options_.hardware = Field(options_.hardware, 16);
    // The chip runs what the flash holds when the simulator starts.
    const std::string flash = ReadFlash();
    if (flash.size() >= 100 && flash.compare(0, 4, "ZLFW") == 0) {
        chipName_ = flash.substr(36, 16);
        chipVersion_ = flash.substr(52, 8);
        chipDate_ = flash.substr(60, 10);
    }
}

std::string Device::Field(const std::string& s, size_t n) {
    std::string f = s.substr(0, n);
    f.resize(n, ' ');
    return f;
}

void Device::PowerOn() {
    mode_ = Mode::WaitWake;
    answered_ = false;
    window_.clear();
    onAt_ = line_.ReceivedTotal();
    line_.LogEvent("power_on");
}

void Device::PowerOff() {
    mode_ = Mode::Off;
    line_.LogEvent("power_off");
}

std::string Device::Status() const {
    static const char* names[] = {"off", "waiting-for-wake-up", "menu", "load", "verify", "hcs-load", "running"};
    return names[static_cast<int>(mode_)];
}

void Device::Answer(const std::string& text, milliseconds delay) {
    if (faults.silent || text.empty()) return;
    std::string t = text;
    if (faults.garbage) {
        std::mt19937 rng(static_cast<unsigned>(t.size()));
        for (char& c : t) c = static_cast<char>(rng() & 0x7F);
        for (char& c : t)
            if (c == 'l' || c == '.') c = '#';
    }
    if (faults.zeroBefore) t.insert(t.begin(), '\0');
    if (faults.split && t.size() > 1) {
        const size_t half = t.size() / 2;
        line_.Send(t.substr(0, half), delay);
        line_.Send(t.substr(half), delay + milliseconds(options_.kind == Kind::Hcs ? 700 : 100));
    } else {
        line_.Send(t, delay);
    }
    lastAnswer_ = Clock::now();
}

std::string Device::ReadFlash() const {
    if (options_.flashPath.empty()) return {};
    std::ifstream in(options_.flashPath, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void Device::WriteFlash(const std::string& data) {
    if (options_.flashPath.empty()) return;
    std::ofstream(options_.flashPath, std::ios::binary | std::ios::trunc) << data;
}

std::string Device::Description() const {
    const std::string flash = ReadFlash();
    const bool image = flash.size() >= 100 && flash.compare(0, 4, "ZLFW") == 0;
    auto line = [](const std::string& s) { return s + "\r\n"; };
    std::string d = faults.menuAtStart ? "" : "\r\n";
    // "Hersteller:" stands 13 characters after "Bootloader"; every value 12 after its key.
    d += line("Bootloader:");
    d += line("Hersteller: " + options_.manufacturer);
    d += line("Hardware  : " + options_.hardware);
    d += line("Version   : 2.10 vom 12.03.2024");
    d += line("Speicher  : 2fach gesichert");
    std::string current = "aktuelle Firmware:\r\n";
    if (chipName_.empty()) {
        current += line("(keine)");
    } else {
        current += line("Name   : " + chipName_);
        current += line("Version: " + chipVersion_);
        current += line("Datum  : " + chipDate_);
    }
    current.resize(152, ' ');
    d += current;
    d += "\r\nFirmware im Flash:\r\n";
    if (!image) {
        d += line("Keine Firmware geladen.");
    } else {
        d += line("Name   : " + flash.substr(36, 16));
        d += line("Version: " + flash.substr(52, 8));
        // The result of the last update begins 23 characters after "Datum".
        d += "Datum  : " + flash.substr(60, 10) + "  \r\n";
        d += line(lastResult_);
    }
    return d;
}

std::string Device::HcsAnswer() const {
    std::string a = faults.noBlank ? "BOOT" : "BOOT ";
    a += "HCS-Loader 2.0";
    a.resize(26, ' ');
    a += "ZL418NRD" "V04.07.1" "07.12.26" "\r\n";
    if (faults.noisePrefix) a = std::string("\r\n\0\xff\x81", 5) + a;
    return a;
}

void Device::OnInput(const std::string& bytes) {
    if (mode_ == Mode::Off || mode_ == Mode::Running) return;
    if (faults.hangupAfter >= 0 && line_.ReceivedTotal() - onAt_ >= static_cast<uint64_t>(faults.hangupAfter)) {
        line_.LogEvent("unplug", "hangup-after");
        line_.Unplug();
        return;
    }
    switch (mode_) {
        case Mode::WaitWake:
            window_ += bytes;
            if (window_.find("BoOt\r") != std::string::npos) {
                if (options_.kind == Kind::Pic32) {
                    Answer("l");
                    answered_ = true;
                    mode_ = Mode::Menu;
                    line_.LogEvent("answered");
                    window_.clear();
                } else if (!answered_ || Clock::now() - lastAnswer_ >= milliseconds(500)) {
                    Answer(HcsAnswer());
                    answered_ = true;
                    line_.LogEvent("answered");
                }
            }
            if (window_.size() > 16) window_.erase(0, window_.size() - 8);
            break;
        case Mode::Menu:
            window_ += bytes;
            ParseCommands();
            break;
        case Mode::Load:
        case Mode::Verify:
            blockBuf_ += bytes;
            while (blockBuf_.size() >= kBlock) {
                std::string block = blockBuf_.substr(0, kBlock);
                blockBuf_.erase(0, kBlock);
                if (mode_ == Mode::Load) {
                    blocks_.push_back(block);
                    if (static_cast<int>(blocks_.size()) > faults.dropDots) Answer(".", milliseconds(faults.lateDotsMs));
                    // Surplus dots come with the first block, while the program still collects them.
                    if (blocks_.size() == 1 && faults.extraDots > 0) Answer(std::string(static_cast<size_t>(faults.extraDots), '.'));
                } else {
                    const std::string flash = ReadFlash();
                    const size_t at = blocks_.size() * kBlock;
                    const bool same = flash.size() >= at + kBlock && flash.compare(at, kBlock, block) == 0;
                    marks_ += (same && !faults.verifyMismatch) ? '.' : '?';
                    blocks_.push_back(block);
                }
            }
            break;
        case Mode::HcsLoad:
            hcsLoaded_ += bytes;
            blockBuf_ += bytes;
            while (blockBuf_.size() >= kBlock) {
                blockBuf_.erase(0, kBlock);
                Answer(".");
            }
            if (HasEndRecord(hcsLoaded_)) FinishHcsLoad(true);
            break;
        default:
            break;
    }
}

void Device::ParseCommands() {
    for (;;) {
        size_t best = std::string::npos;
        std::string word;
        for (const char* w : kWords) {
            const size_t p = window_.find(std::string("\rS") + w + "\r");
            if (p < best) {
                best = p;
                word = w;
            }
        }
        if (best == std::string::npos) break;
        window_.erase(0, best + word.size() + 3);
        Command(word);
        if (mode_ != Mode::Menu) {
            // What follows the command already belongs to the new mode.
            std::string rest;
            rest.swap(window_);
            if (!rest.empty()) OnInput(rest);
            return;
        }
    }
    if (window_.size() > 64) window_.erase(0, window_.size() - 16);
}

void Device::Command(const std::string& word) {
    line_.LogEvent("cmd", word);
    if (options_.kind == Kind::Hcs) {
        if (word == "load") {
            Answer(faults.noLoadStart ? "Fehler\r\n" : "Load gestartet\r\n");
            if (faults.noLoadStart) return;
            mode_ = Mode::HcsLoad;
            hcsLoaded_.clear();
            blockBuf_.clear();
            modeSince_ = Clock::now();
        } else if (word == "reset") {
            mode_ = Mode::Running;
        }
        return;
    }
    if (word == "menu") {
        Answer(Description());
    } else if (word == "load" || word == "verify") {
        const bool load = word == "load";
        if (load ? faults.noLoadStart : faults.noVerifyStart) return Answer("?\r\n");
        Answer(load ? "\r\nLoad gestartet\r\n" : "\r\nVerify gestartet\r\n");
        mode_ = load ? Mode::Load : Mode::Verify;
        blocks_.clear();
        blockBuf_.clear();
        marks_.clear();
        modeSince_ = Clock::now();
    } else if (word == "prog") {
        Prog();
    } else if (word == "make") {
        Answer("Bitte warten ...\r\n");
        if (faults.noMakeEnd) return;
        if (faults.makeSplit) {
            // Delays count from now, so the second part goes 250 ms after the first.
            Answer("Make b", milliseconds(300));
            Answer("eendet\r\nREST-OF-BURST", milliseconds(550));
        } else {
            Answer("Make beendet\r\n", milliseconds(300));
        }
    } else if (word == "read") {
        std::string image = ReadFlash();
        if (faults.readoutLength >= 0) {
            image.resize(static_cast<size_t>(faults.readoutLength), '\x5A');
        }
        // The image goes out as it is, not through Answer's faults.
        line_.Send(image);
    } else if (word == "reset") {
        mode_ = Mode::Running;
    }
}

void Device::FinishLoad() {
    std::string image;
    for (const std::string& b : blocks_) image += b;
    WriteFlash(image);
    line_.LogEvent("loaded", std::to_string(blocks_.size()));
    mode_ = Mode::Menu;
    window_ = blockBuf_;  // a partial block is the next command
    blockBuf_.clear();
    ParseCommands();
}

void Device::FinishVerify() {
    Answer(marks_ + "Verify beendet\r\n");
    mode_ = Mode::Menu;
    window_ = blockBuf_;
    blockBuf_.clear();
    ParseCommands();
}

void Device::FinishHcsLoad(bool complete) {
    WriteFlash(hcsLoaded_);
    Answer(complete ? "\r\nLoad beendet, 0 Fehler aufgetreten\r\n" : "\r\nLoad beendet, 1 Fehler aufgetreten\r\n");
    line_.LogEvent("loaded", std::to_string(hcsLoaded_.size()));
    mode_ = Mode::Menu;
    window_.clear();
}

void Device::Prog() {
    const std::string flash = ReadFlash();
    const std::string header = flash.substr(0, 100);
    const bool identified = flash.size() >= 100 && flash.compare(0, 4, "ZLFW") == 0 &&
                            header.find(options_.manufacturer) != std::string::npos &&
                            header.find(options_.hardware) != std::string::npos;
    if (blocks_.empty() || !identified) {
        lastResult_ = blocks_.empty() ? "Update fehlerhaft, Fehlercode: 1" : "Update fehlerhaft, Fehlercode: 2";
    } else {
        chipName_ = flash.substr(36, 16);
        chipVersion_ = flash.substr(52, 8);
        chipDate_ = flash.substr(60, 10);
        lastResult_ = "Update erfolgreich";
    }
    line_.LogEvent("prog", lastResult_);
}

void Device::OnTimer() {
    if (faults.chatter && mode_ != Mode::Off && !line_.SendPending()) line_.Send(std::string(64, '~'));
    const auto idle = Clock::now() - line_.LastInput();
    switch (mode_) {
        case Mode::WaitWake:
            // The HCS device is connected once the wake-ups have stopped after its answer.
            if (options_.kind == Kind::Hcs && answered_ && idle >= milliseconds(150)) {
                mode_ = Mode::Menu;
                window_.clear();
            }
            break;
        case Mode::Load:
            if (idle >= kEndOfData && (!blocks_.empty() || !blockBuf_.empty())) FinishLoad();
            break;
        case Mode::Verify:
            if ((idle >= kEndOfData && (!blocks_.empty() || !blockBuf_.empty())) ||
                (blocks_.empty() && Clock::now() - modeSince_ >= kNoBlocksWait && idle >= kEndOfData))
                FinishVerify();
            break;
        case Mode::HcsLoad:
            if (!hcsLoaded_.empty() && idle >= milliseconds(150)) FinishHcsLoad(false);
            break;
        default:
            break;
    }
}

int Device::NextTimerMs() const {
    if (faults.chatter && mode_ != Mode::Off) return 2;
    switch (mode_) {
        case Mode::Load:
        case Mode::Verify:
        case Mode::HcsLoad:
        case Mode::WaitWake:
            return 5;
        default:
            return 100;
    }
}

}  // namespace zlsim
