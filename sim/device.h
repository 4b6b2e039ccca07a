// The bootloader of a simulated ZL device, of either kind.
#pragma once

#include <string>
#include <vector>

#include "sim/line.h"

namespace zlsim {

enum class Kind { Pic32, Hcs };

struct Faults {
    bool silent = false;         // no answers at all
    bool garbage = false;        // random bytes instead of answers
    bool noMakeEnd = false;      // never "Make beendet"
    bool makeSplit = false;      // "Make beendet" split over two read passes, bytes after it
    bool verifyMismatch = false; // every verify block marked "?"
    bool zeroBefore = false;     // a zero byte before every answer
    bool split = false;          // answers in two parts with a pause between
    bool noBlank = false;        // HCS: "BOOT" without the blank
    bool noisePrefix = false;    // HCS: control bytes and bytes above 0x7F before the answer
    bool menuAtStart = false;    // PIC32: the self-description begins with "Bootloader"
    bool noLoadStart = false;    // no "Load gestartet"
    bool noVerifyStart = false;  // no "Verify gestartet"
    int dropDots = 0;            // PIC32 load: this many blocks are not acknowledged
    int extraDots = 0;           // PIC32 load: this many dots more
    int lateDotsMs = 0;          // PIC32 load: every dot this many ms after its block (a busy device)
    long hangupAfter = -1;       // hang up after this many bytes received since power-on
    long readoutLength = -1;     // PIC32: send this many bytes as the flash image
    bool chatter = false;        // a switched-on device sends without pause, never falling silent
};

// Sets a fault by name ("drop-dots", "hangup-after", ...; arg for the numeric ones).
bool SetFault(Faults& f, const std::string& name, const std::string& arg);

struct DeviceOptions {
    Kind kind = Kind::Pic32;
    std::string flashPath;
    std::string manufacturer = "Hallwyn Geraete ";  // 16 characters
    std::string hardware = "ZL-Corvel-6 Rev2";      // 16 characters
};

class Device {
public:
    Device(const DeviceOptions& options, Line& line);

    void PowerOn();
    void PowerOff();
    bool On() const { return mode_ != Mode::Off; }
    void OnInput(const std::string& bytes);
    void OnTimer();
    int NextTimerMs() const;
    std::string Status() const;
    // The self-description as the device sends it for "\rSmenu\r".
    std::string Description() const;

    Faults faults;

private:
    enum class Mode { Off, WaitWake, Menu, Load, Verify, HcsLoad, Running };

    void Answer(const std::string& text, std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    void Command(const std::string& word);
    void ParseCommands();
    void FinishLoad();
    void FinishVerify();
    void FinishHcsLoad(bool complete);
    void Prog();
    std::string ReadFlash() const;
    void WriteFlash(const std::string& data);
    std::string HcsAnswer() const;
    static std::string Field(const std::string& s, size_t n);

    DeviceOptions options_;
    Line& line_;
    Mode mode_ = Mode::Off;
    std::string window_;   // recent input, where commands are looked for
    std::string blockBuf_;
    std::vector<std::string> blocks_;
    std::string marks_;
    int dotsSent_ = 0;
    Clock::time_point modeSince_;
    Clock::time_point lastAnswer_;
    bool answered_ = false;
    uint64_t onAt_ = 0;  // bytes received at power-on
    // What the chip runs and how the last update went.
    std::string chipName_, chipVersion_, chipDate_;
    std::string lastResult_ = "Update erfolgreich";
    std::string hcsLoaded_;
};

}  // namespace zlsim
