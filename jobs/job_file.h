// A production job (*.zljob, JSON, schema 1): the firmware a line loads, pinned by its
// SHA-256 and size, the device type, whether each load is verified, and optionally the
// firmware the device must report afterwards.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/firmware_id.h"

namespace zl {

constexpr int kJobSchema = 1;

struct JobFile {
    std::string name;
    int device = 0;                 // the Device box entry
    std::string file;               // as written: relative to the job's folder, or absolute
    std::string sha256;             // of the firmware file, lowercase hex
    int64_t size = 0;
    bool verify = false;
    std::optional<FirmwareId> expectFirmware;

    // Filled in when read: the firmware's path and the SHA-256 of the job file itself.
    std::string filePath;
    std::string jobSha256;
};

enum class JobProblemKind {
    None,
    Syntax,    // the job file is no valid job: its fault, not the firmware's
    File,      // a file cannot be read, or the firmware is not the one pinned
};

struct JobProblem {
    JobProblemKind kind = JobProblemKind::None;
    std::string message;  // one line, says what is wrong and where
};

// Reads and checks a job file (paths UTF-8). The firmware is not read here.
bool ReadJobFile(const std::string& path, JobFile& job, JobProblem& problem);

// The firmware file as the job pins it: it exists and has the job's size and SHA-256.
// On a mismatch the message names both hashes.
bool CheckJobFirmware(const JobFile& job, JobProblem& problem);

// SHA-256 (lowercase hex) and size of a whole file; false with the reason.
bool HashFile(const std::string& path, std::string& sha256, int64_t& size, std::string& reason);

// The job as its file holds it: one JSON object and a line end.
std::string FormatJobFile(const JobFile& job);

// "NAME,VERSION,DATE" as the firmware a device must report; none when malformed.
std::optional<FirmwareId> ParseFirmwareTriple(const std::string& text);

}  // namespace zl
