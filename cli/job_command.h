// bzl job make / bzl job show: production jobs (*.zljob) that pin a firmware by hash.
#pragma once

#include <string>
#include <vector>

#include "jobs/job_file.h"

namespace zl::cli {

// Runs "bzl job ..." (args: the words after "job"); the exit code.
int RunJobCommand(const std::vector<std::string>& args);

// Reads the job given to load --job and checks its firmware, before any device is
// touched. 0, or the exit code with the reason printed (1: the job file is no valid
// job; 7: a file cannot be read or the firmware is not the one pinned).
int OpenJob(const std::string& path, JobFile& job);

std::string JobHelpText();

}  // namespace zl::cli
