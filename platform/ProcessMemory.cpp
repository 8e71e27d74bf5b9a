#include "platform/ProcessMemory.h"

#if defined(_WIN32)
// windows.h first: psapi.h uses its types without including it.
#include <windows.h>

#include <psapi.h>
#else
#include <sys/resource.h>
#endif

namespace plat {

std::uint64_t PeakResidentBytes() {
#if defined(_WIN32)
  // Looked up at run time: older import libraries name it only through psapi.dll.
  using Query = BOOL(WINAPI*)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto query = kernel ? reinterpret_cast<Query>(
                            reinterpret_cast<void*>(GetProcAddress(kernel, "K32GetProcessMemoryInfo")))
                      : nullptr;
  PROCESS_MEMORY_COUNTERS c{};
  c.cb = sizeof c;
  if (!query || !query(GetCurrentProcess(), &c, sizeof c)) return 0;
  return c.PeakWorkingSetSize;
#else
  rusage u{};
  if (getrusage(RUSAGE_SELF, &u) != 0 || u.ru_maxrss <= 0) return 0;
  return static_cast<std::uint64_t>(u.ru_maxrss) * 1024u;  // kilobytes on Linux
#endif
}

}  // namespace plat
