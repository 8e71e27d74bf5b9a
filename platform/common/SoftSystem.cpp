#include "platform/common/SoftSystem.h"

namespace plat::soft {

namespace {
// Per thread, as the real code is.
thread_local DWORD t_lastError = 0;

struct MessageEntry {
  DWORD code;
  const char* text;
};

// The system's own wording. Codes are those the program, its framework and the soft services produce.
constexpr MessageEntry kMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {13, "The data is invalid.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {120, "This function is not supported on this system.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {161, "The specified path is invalid.\r\n"},
    {234, "More data is available.\r\n"},
    {259, "No more data is available.\r\n"},
    {1009, "The configuration registry database is corrupt.\r\n"},
    {1010, "The configuration registry key is invalid.\r\n"},
    {1011, "The configuration registry key could not be opened.\r\n"},
    {1012, "The configuration registry key could not be read.\r\n"},
    {1013, "The configuration registry key could not be written.\r\n"},
    {1015,
     "The registry is corrupted. The structure of one of the files containing registry data is corrupted, or "
     "the system's memory image of the file is corrupted, or the file could not be recovered because the "
     "alternate copy or log was absent or corrupted.\r\n"},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {1400, "Invalid window handle.\r\n"},
    {1407, "Cannot find window class.\r\n"},
    {1411, "Class does not exist.\r\n"},
};
}  // namespace

std::string StandardMessageText(DWORD code) {
  for (const MessageEntry& e : kMessages) {
    if (e.code == code) return e.text;
  }
  return std::string();
}

SoftSystem::SoftSystem() {
  t_lastError = 0;
}

DWORD SoftSystem::GetLastError() {
  return t_lastError;
}

void SoftSystem::SetLastError(DWORD code) {
  t_lastError = code;
}

std::string SoftSystem::FormatMessageText(DWORD code) {
  auto it = overrides_.find(code);
  if (it != overrides_.end()) return it->second;
  return StandardMessageText(code);
}

void SoftSystem::SetMessageText(DWORD code, const std::string& text) {
  overrides_[code] = text;
}

}  // namespace plat::soft
