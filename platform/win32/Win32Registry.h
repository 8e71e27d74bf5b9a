// The registry on Windows: each call forwards to the advapi32 call of the same name ("A" flavour); codes
// and handles pass through unchanged.
#pragma once

#include "platform/Registry.h"

namespace plat::win32 {

class Win32Registry final : public Registry {
 protected:
  LONG DoRegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result) override;
  LONG DoRegCreateKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result,
                        DWORD* disposition) override;
  LONG DoRegQueryValueEx(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* cbData) override;
  LONG DoRegSetValueEx(HKEY key, const char* valueName, DWORD type, const BYTE* data, DWORD cbData) override;
  LONG DoRegDeleteValue(HKEY key, const char* valueName) override;
  LONG DoRegCloseKey(HKEY key) override;
};

}  // namespace plat::win32
