#include "platform/Registry.h"

#include "platform/Platform.h"
#include "platform/System.h"

namespace plat {

namespace {
// Makes "the system message for the last-error code" name the registry failure that just happened.
LONG Noted(LONG code) {
  if (code != static_cast<LONG>(ERROR_SUCCESS)) {
    if (System* sys = CurrentServices().system) sys->SetLastError(static_cast<DWORD>(code));
  }
  return code;
}
}  // namespace

LONG Registry::RegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result) {
  return Noted(DoRegOpenKeyEx(key, subKey, options, samDesired, result));
}

LONG Registry::RegCreateKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result,
                              DWORD* disposition) {
  return Noted(DoRegCreateKeyEx(key, subKey, options, samDesired, result, disposition));
}

LONG Registry::RegQueryValueEx(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* cbData) {
  return Noted(DoRegQueryValueEx(key, valueName, type, data, cbData));
}

LONG Registry::RegSetValueEx(HKEY key, const char* valueName, DWORD type, const BYTE* data, DWORD cbData) {
  return Noted(DoRegSetValueEx(key, valueName, type, data, cbData));
}

LONG Registry::RegDeleteValue(HKEY key, const char* valueName) {
  return Noted(DoRegDeleteValue(key, valueName));
}

LONG Registry::RegCloseKey(HKEY key) {
  return Noted(DoRegCloseKey(key));
}

const char* RootKeyName(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (key == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (key == HKEY_USERS) return "HKEY_USERS";
  if (key == HKEY_CURRENT_CONFIG) return "HKEY_CURRENT_CONFIG";
  return nullptr;
}

}  // namespace plat
