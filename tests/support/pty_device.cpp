#include "tests/support/pty_device.h"

#include <poll.h>
#include <unistd.h>

namespace zl::test {

namespace {
const std::string kDescription =
    "\r\nBootloader:\r\nHersteller: Hallwyn Geraete \r\nHardware  : ZL-Corvel-6 Rev2\r\n" + std::string(200, '.');
}

PtyDevice::PtyDevice() : thread_([this] { Run(); }) {}

PtyDevice::~PtyDevice() {
    stop_ = true;
    thread_.join();
}

void PtyDevice::Run() {
    std::string window;  // recent bytes, to find commands split over reads
    char buf[4096];
    while (!stop_) {
        pollfd fd{pty_.master(), POLLIN, 0};
        if (poll(&fd, 1, 20) <= 0 || !(fd.revents & POLLIN)) continue;
        ssize_t n = read(pty_.master(), buf, sizeof buf);
        if (n <= 0) continue;
        std::string bytes(buf, static_cast<size_t>(n));
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back({Clock::now(), bytes});
        }
        window += bytes;
        if (!on_) {
            window.clear();
            continue;
        }
        if (!answered_ && window.find("BoOt\r") != std::string::npos) {
            answered_ = true;
            pty_.Send("l");
            window.clear();
        }
        if (answered_ && window.find("\rSmenu\r") != std::string::npos) {
            pty_.Send(kDescription);
            window.clear();
        }
        if (window.find("\rSreset\r") != std::string::npos) {
            answered_ = false;
            window.clear();
        }
        if (window.size() > 64) window.erase(0, window.size() - 16);
    }
}

std::vector<PtyDevice::Chunk> PtyDevice::Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

std::string PtyDevice::ReceivedBytes() const {
    std::string all;
    for (const Chunk& c : Received()) all += c.bytes;
    return all;
}

size_t PtyDevice::Count(const std::string& what) const {
    const std::string all = ReceivedBytes();
    size_t n = 0;
    for (size_t p = all.find(what); p != std::string::npos; p = all.find(what, p + what.size())) ++n;
    return n;
}

bool PtyDevice::FindAfter(const std::string& what, Clock::time_point t, Clock::time_point& found) const {
    std::string all;
    for (const Chunk& c : Received()) {
        if (c.time < t) continue;
        all += c.bytes;
        if (all.find(what) != std::string::npos) {
            found = c.time;
            return true;
        }
    }
    return false;
}

}  // namespace zl::test
