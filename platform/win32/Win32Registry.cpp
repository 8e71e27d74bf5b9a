#include "platform/win32/Win32Registry.h"

#include "platform/win32/Win32Api.h"

namespace plat::win32 {

static_assert(sizeof(::DWORD) == sizeof(plat::DWORD), "DWORD size");
static_assert(sizeof(::LONG) == sizeof(plat::LONG), "LONG size");

namespace {
// The platform's predefined root handles carry the Windows values, so the real API accepts them as they are.
::HKEY Key(HKEY key) {
  return H<::HKEY>(key);
}
::DWORD* Dw(DWORD* p) {
  return reinterpret_cast<::DWORD*>(p);
}
}  // namespace

LONG Win32Registry::DoRegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM samDesired,
                                   HKEY* result) {
  ::HKEY out = nullptr;
  const LONG rc = ::RegOpenKeyExA(Key(key), subKey, options, samDesired, &out);
  if (result) *result = rc == ERROR_SUCCESS ? H<HKEY>(out) : nullptr;
  return rc;
}

LONG Win32Registry::DoRegCreateKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM samDesired,
                                     HKEY* result, DWORD* disposition) {
  ::HKEY out = nullptr;
  const LONG rc =
      ::RegCreateKeyExA(Key(key), subKey, 0, nullptr, options, samDesired, nullptr, &out, Dw(disposition));
  if (result) *result = rc == ERROR_SUCCESS ? H<HKEY>(out) : nullptr;
  return rc;
}

LONG Win32Registry::DoRegQueryValueEx(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                                      DWORD* cbData) {
  return ::RegQueryValueExA(Key(key), valueName, nullptr, Dw(type), data, Dw(cbData));
}

LONG Win32Registry::DoRegSetValueEx(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                                    DWORD cbData) {
  return ::RegSetValueExA(Key(key), valueName, 0, type, data, cbData);
}

LONG Win32Registry::DoRegDeleteValue(HKEY key, const char* valueName) {
  return ::RegDeleteValueA(Key(key), valueName);
}

LONG Win32Registry::DoRegCloseKey(HKEY key) {
  return ::RegCloseKey(Key(key));
}

}  // namespace plat::win32
