// zlsim: a simulated ZL device on a pseudo-terminal, published as COM N.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "sim/device.h"
#include "sim/line.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

int Usage() {
    std::fprintf(stderr,
                 "usage: zlsim --kind pic32|hcs --com N [--power on|off] [--flash FILE] [--log FILE]\n"
                 "             [--no-pacing] [--baud N] [--manufacturer S] [--hardware S] [--fault NAME[=ARG]]...\n");
    return 2;
}

void Reply(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    zlsim::DeviceOptions options;
    int com = 0;
    unsigned baud = 0;  // 0: the kind's own line rate
    bool powerOn = false, paced = true, kindGiven = false;
    std::string logPath;
    zlsim::Faults faults;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--kind") {
            const std::string k = value();
            if (k != "pic32" && k != "hcs") return Usage();
            options.kind = k == "pic32" ? zlsim::Kind::Pic32 : zlsim::Kind::Hcs;
            kindGiven = true;
        } else if (a == "--com") {
            com = std::atoi(value().c_str());
        } else if (a == "--power") {
            powerOn = value() == "on";
        } else if (a == "--flash") {
            options.flashPath = value();
        } else if (a == "--log") {
            logPath = value();
        } else if (a == "--no-pacing") {
            paced = false;
        } else if (a == "--baud") {
            const long b = std::atol(value().c_str());
            if (b < 1200 || b > 1000000) return Usage();
            baud = static_cast<unsigned>(b);
        } else if (a == "--manufacturer") {
            options.manufacturer = value();
        } else if (a == "--hardware") {
            options.hardware = value();
        } else if (a == "--fault") {
            const std::string f = value();
            const size_t eq = f.find('=');
            if (!zlsim::SetFault(faults, f.substr(0, eq), eq == std::string::npos ? "" : f.substr(eq + 1))) {
                std::fprintf(stderr, "zlsim: unknown fault %s\n", f.c_str());
                return 2;
            }
        } else {
            return Usage();
        }
    }
    if (!kindGiven || com < 1 || com > 256) return Usage();

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);
    if (baud == 0) baud = options.kind == zlsim::Kind::Pic32 ? 115200 : 57600;
    zlsim::Line line(com, baud, paced, logPath);
    std::string error;
    if (!line.Open(error)) {
        std::fprintf(stderr, "zlsim: %s\n", error.c_str());
        return 2;
    }
    zlsim::Device device(options, line);
    device.faults = faults;
    if (powerOn) device.PowerOn();
    Reply("ready COM" + std::to_string(com) + " " + line.SlavePath());

    std::string input;
    bool stdinOpen = true;
    while (!g_stop && stdinOpen) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {line.PollFd(), POLLIN, 0}};
        // While the pacing holds input back, the line is not watched but looked at again shortly.
        const bool watchLine = line.Plugged() && line.CanReceive();
        int timeout = std::min(line.WaitHintMs(), device.NextTimerMs());
        if (line.Plugged() && !watchLine) timeout = 1;
        const int n = poll(fds, watchLine ? 2 : 1, timeout);
        if (n < 0 && errno != EINTR) break;
        if (n > 0 && (fds[0].revents & (POLLIN | POLLHUP))) {
            char buf[512];
            const ssize_t got = read(STDIN_FILENO, buf, sizeof buf);
            if (got <= 0) stdinOpen = false;
            else input.append(buf, static_cast<size_t>(got));
            for (size_t nl; (nl = input.find('\n')) != std::string::npos;) {
                std::istringstream cmd(input.substr(0, nl));
                input.erase(0, nl + 1);
                std::string verb, arg1, arg2;
                cmd >> verb >> arg1 >> arg2;
                if (verb == "power" && (arg1 == "on" || arg1 == "off")) {
                    arg1 == "on" ? device.PowerOn() : device.PowerOff();
                    Reply("ok power " + arg1);
                } else if (verb == "unplug") {
                    line.LogEvent("unplug");
                    line.Unplug();
                    Reply("ok unplugged");
                } else if (verb == "plug") {
                    if (line.Plugged() || line.Open(error)) {
                        line.LogEvent("plug");
                        Reply("ok plugged " + line.SlavePath());
                    } else {
                        Reply("error " + error);
                    }
                } else if (verb == "fault" && arg1 == "clear") {
                    device.faults = zlsim::Faults{};
                    Reply("ok faults cleared");
                } else if (verb == "fault") {
                    if (zlsim::SetFault(device.faults, arg1, arg2)) Reply("ok fault " + arg1);
                    else Reply("error unknown fault " + arg1);
                } else if (verb == "status") {
                    Reply("ok " + device.Status() + (line.Plugged() ? " plugged" : " unplugged"));
                } else if (verb == "quit") {
                    Reply("ok quit");
                    g_stop = 1;
                } else if (!verb.empty()) {
                    Reply("error unknown command " + verb);
                }
            }
        }
        if (line.Plugged()) {
            if (watchLine && n > 0 && (fds[1].revents & POLLIN)) {
                const std::string bytes = line.Receive();
                if (!bytes.empty()) device.OnInput(bytes);
            }
            device.OnTimer();
            line.Flush();
        }
    }
    return 0;
}
