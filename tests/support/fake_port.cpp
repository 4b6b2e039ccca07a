#include "tests/support/fake_port.h"

namespace zl::test {

void FakePort::Feed(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (char c : bytes) input_.push_back(static_cast<uint8_t>(c));
    cv_.notify_all();
}

std::vector<FakePort::Write> FakePort::Writes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
}

std::string FakePort::Written() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string all;
    for (const Write& w : writes_) all += w.bytes;
    return all;
}

// How many copies of piece the write is made of (0 when it holds anything else).
static size_t Copies(const std::string& write, const std::string& piece) {
    if (piece.empty() || write.empty() || write.size() % piece.size() != 0) return 0;
    for (size_t p = 0; p < write.size(); p += piece.size())
        if (write.compare(p, piece.size(), piece) != 0) return 0;
    return write.size() / piece.size();
}

size_t FakePort::CountWrites(const std::string& bytes, std::thread::id thread) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const Write& w : writes_)
        if (thread == std::thread::id{} || w.thread == thread) n += Copies(w.bytes, bytes);
    return n;
}

bool FakePort::IsClosed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

bool FakePort::SetCommTimeouts(const COMMTIMEOUTS& t) {
    std::lock_guard<std::mutex> lock(mutex_);
    timeout_ = std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
    return !closed_;
}

bool FakePort::GetCommTimeouts(COMMTIMEOUTS& t) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto ms = static_cast<uint32_t>(timeout_.count());
    t = COMMTIMEOUTS{ms, 0, ms, 0, 0};
    return !closed_;
}

bool FakePort::ReadFile(uint8_t* buf, uint32_t n, uint32_t& read) {
    read = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    if (closed_) return false;
    cv_.wait_for(lock, timeout_, [this] { return closed_ || !input_.empty(); });
    while (read < n && !input_.empty()) {
        buf[read++] = input_.front();
        input_.pop_front();
    }
    return true;
}

void FakePort::SetResponder(std::function<std::string(const std::string&)> responder) {
    std::lock_guard<std::mutex> lock(mutex_);
    responder_ = std::move(responder);
}

bool FakePort::WriteFile(const uint8_t* buf, uint32_t n, uint32_t& written) {
    written = 0;
    const std::string bytes(reinterpret_cast<const char*>(buf), n);
    std::function<std::string(const std::string&)> responder;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return false;
        writes_.push_back({std::this_thread::get_id(), std::chrono::steady_clock::now(), bytes});
        responder = responder_;
    }
    if (responder) {
        const std::string answer = responder(bytes);
        if (!answer.empty()) Feed(answer);
    }
    written = n;
    // A line at 115200 baud takes about 87 us a byte; keep writers from spinning.
    std::this_thread::sleep_for(std::chrono::microseconds(20 * n));
    return true;
}

void FakePort::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    cv_.notify_all();
}

}  // namespace zl::test
