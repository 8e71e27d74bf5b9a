#include "platform/win32/Win32System.h"

#include "platform/win32/Win32Api.h"

namespace plat::win32 {

DWORD Win32System::GetLastError() {
  return ::GetLastError();
}

void Win32System::SetLastError(DWORD code) {
  ::SetLastError(code);
}

std::string Win32System::FormatMessageText(DWORD code) {
  // The system allocates the text: a fixed buffer could cut a long message short.
  char* text = nullptr;
  const DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
      code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result;
  if (n != 0 && text) result.assign(text, n);
  if (text) ::LocalFree(text);
  return result;
}

}  // namespace plat::win32
