// The ports of the stations: their names, the list kept in the profile, and the ports
// a tile may offer.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ports/com_name.h"

namespace zl::stations {

// The number of "COMn" (any case, blanks around it allowed), 1 to 256; or nothing.
std::optional<int> ComNumber(const std::u16string& name);

// The profile's list "COM5,COM7": the numbers in order, each once; entries that are
// not a port name are left out.
std::vector<int> ParsePortList(const std::u16string& text);
std::u16string FormatPortList(const std::vector<int>& ports);

// The COM numbers a tile may offer, leaving out those in 'held' (the other tiles'
// ports, which are never opened here): a link in the port directory whose device is
// there (open or not), or one of the machine's own ports that can be opened now.
std::vector<int> OfferablePorts(const std::vector<int>& held);

}  // namespace zl::stations
