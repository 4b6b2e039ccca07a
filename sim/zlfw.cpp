// zlfw: makes firmware files for zlsim.
//   zlfw pic32 --length N [--manufacturer S] [--hardware S] [--name S] [--version S] [--date S] [--seed N] -o FILE
//   zlfw sx --length N [--seed N] -o FILE
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

namespace {

std::string Field(const std::string& s, size_t n) {
    std::string f = s.substr(0, n);
    f.resize(n, ' ');
    return f;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: zlfw pic32 --length N [--manufacturer S] [--hardware S] [--name S] [--version S] [--date S]"
                 " [--seed N] -o FILE\n       zlfw sx --length N [--seed N] -o FILE\n");
    return 2;
}

// A *.spic32 image: the identification area (100 bytes) and deterministic data.
std::string Pic32(size_t length, const std::string& maker, const std::string& hardware, const std::string& name,
                  const std::string& version, const std::string& date, unsigned seed) {
    std::string id = "ZLFW" + Field(maker, 16) + Field(hardware, 16) + Field(name, 16) + Field(version, 8) +
                     Field(date, 10);
    id.resize(100, ' ');
    std::mt19937 rng(seed);
    std::string image;
    image.reserve(length);
    for (size_t i = 0; i < length; ++i) image.push_back(i < id.size() ? id[i] : static_cast<char>(rng() & 0xFF));
    return image;
}

char Hex(unsigned v) { return "0123456789ABCDEF"[v & 15]; }

// Motorola S-records: S1 data records of 16 bytes and an S9 end record.
std::string Sx(size_t length, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out = "S00600004844521B\r\n";
    unsigned address = 0x8000;
    while (out.size() + 44 + 14 <= length || address == 0x8000) {
        std::string rec = "S113";
        unsigned sum = 0x13 + (address >> 8) + (address & 0xFF);
        rec += {Hex(address >> 12), Hex(address >> 8), Hex(address >> 4), Hex(address)};
        for (int i = 0; i < 16; ++i) {
            const unsigned b = rng() & 0xFF;
            sum += b;
            rec += {Hex(b >> 4), Hex(b)};
        }
        const unsigned check = ~sum & 0xFF;
        rec += {Hex(check >> 4), Hex(check)};
        out += rec + "\r\n";
        address += 16;
    }
    out += "S9030000FC\r\n";
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string kind = argv[1];
    size_t length = 0;
    unsigned seed = 1;
    std::string out, maker = "Hallwyn Geraete ", hardware = "ZL-Corvel-6 Rev2", name = "Corvel-Basis",
                     version = "3.5.0", date = "07.12.2026";
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        const std::string v = i + 1 < argc ? argv[i + 1] : "";
        if (a == "--length") length = std::strtoull(v.c_str(), nullptr, 10);
        else if (a == "--manufacturer") maker = v;
        else if (a == "--hardware") hardware = v;
        else if (a == "--name") name = v;
        else if (a == "--version") version = v;
        else if (a == "--date") date = v;
        else if (a == "--seed") seed = static_cast<unsigned>(std::strtoul(v.c_str(), nullptr, 10));
        else if (a == "-o") out = v;
        else return Usage();
        ++i;
    }
    if (out.empty() || (kind != "pic32" && kind != "sx")) return Usage();
    const std::string data =
        kind == "pic32" ? Pic32(length, maker, hardware, name, version, date, seed) : Sx(length, seed);
    std::ofstream f(out, std::ios::binary | std::ios::trunc);
    f << data;
    if (!f) {
        std::fprintf(stderr, "zlfw: cannot write %s\n", out.c_str());
        return 1;
    }
    std::printf("%s %zu bytes\n", out.c_str(), data.size());
    return 0;
}
