// Feeds arbitrary bytes to the registry-file reader and applies whatever it accepts to a fresh registry.
// A malformed file must end in RegFileError; anything else escaping is a fault.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/common/RegFile.h"
#include "platform/common/SoftRegistry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  plat::soft::SoftRegistry registry;
  try {
    plat::soft::LoadRegFile(registry, std::string_view(reinterpret_cast<const char*>(data), size));
    (void)registry.Dump();
  } catch (const plat::soft::RegFileError&) {
  }
  return 0;
}
