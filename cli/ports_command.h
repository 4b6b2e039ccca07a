// bzl ports: the COM numbers, what is behind each and whether it can be used; and
// ports link / unlink, which give an adapter a COM number of its own.
#pragma once

#include "cli/args.h"

namespace zl::cli {

int RunPorts(const Options& options);
int RunPortsLink(const Options& options);
int RunPortsUnlink(const Options& options);

// One line that says why a port cannot be used and what to do, or empty when it can.
std::string PortProblem(const std::string& name, const std::string& path);

}  // namespace zl::cli
