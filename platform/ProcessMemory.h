// What the running process itself has used of the machine, for the reports of headless runs.
#pragma once

#include <cstdint>

namespace plat {

// The most memory the process has held resident so far, in bytes; 0 where the system does not tell.
std::uint64_t PeakResidentBytes();

}  // namespace plat
