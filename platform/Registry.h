// The registry service: hierarchical keys under a few predefined roots, each key holding typed values.
// The calls have the shape, codes and numbers of the Windows registry API (8-bit character names and
// strings), so a Windows backend forwards each call unchanged.
//
// Last-error rule: the real open and query calls return their error code and leave the thread's
// last-error code alone, yet callers report "the system message for the last-error code" after a failed
// open. The public calls below therefore set the calling thread's last-error code (plat::Sys()) to the
// returned code whenever a call fails; a successful call leaves it unchanged. Backends implement the
// protected Do* functions and never touch the last-error code themselves.
#pragma once

#include <cstdint>

#include "platform/Types.h"

namespace plat {

using REGSAM = DWORD;

// Predefined root keys, with the handle values Windows uses (sign-extended like the Windows headers).
inline HKEY RootKeyHandle(DWORD value) {
  return reinterpret_cast<HKEY>(
      static_cast<std::uintptr_t>(static_cast<std::intptr_t>(static_cast<LONG>(value))));
}
inline const HKEY HKEY_CLASSES_ROOT = RootKeyHandle(0x80000000u);
inline const HKEY HKEY_CURRENT_USER = RootKeyHandle(0x80000001u);
inline const HKEY HKEY_LOCAL_MACHINE = RootKeyHandle(0x80000002u);
inline const HKEY HKEY_USERS = RootKeyHandle(0x80000003u);
inline const HKEY HKEY_CURRENT_CONFIG = RootKeyHandle(0x80000005u);

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_LITTLE_ENDIAN = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_RESOURCE_LIST = 8;
constexpr DWORD REG_FULL_RESOURCE_DESCRIPTOR = 9;
constexpr DWORD REG_RESOURCE_REQUIREMENTS_LIST = 10;
constexpr DWORD REG_QWORD = 11;
constexpr DWORD REG_QWORD_LITTLE_ENDIAN = 11;

// Access masks.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM READ_CONTROL = 0x00020000;
constexpr REGSAM SYNCHRONIZE = 0x00100000;
constexpr REGSAM STANDARD_RIGHTS_READ = READ_CONTROL;
constexpr REGSAM STANDARD_RIGHTS_WRITE = READ_CONTROL;
constexpr REGSAM STANDARD_RIGHTS_ALL = 0x001F0000;
constexpr REGSAM KEY_READ =
    (STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY) & ~SYNCHRONIZE;
constexpr REGSAM KEY_WRITE = (STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY) & ~SYNCHRONIZE;
constexpr REGSAM KEY_EXECUTE = KEY_READ & ~SYNCHRONIZE;
constexpr REGSAM KEY_ALL_ACCESS =
    (STANDARD_RIGHTS_ALL | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS |
     KEY_NOTIFY | KEY_CREATE_LINK) &
    ~SYNCHRONIZE;
static_assert(KEY_READ == 0x20019, "KEY_READ has the Windows value");
static_assert(KEY_WRITE == 0x20006, "KEY_WRITE has the Windows value");
static_assert(KEY_ALL_ACCESS == 0xF003F, "KEY_ALL_ACCESS has the Windows value");

// Options and dispositions.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_OPTION_VOLATILE = 1;
constexpr DWORD REG_OPTION_OPEN_LINK = 8;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Registry error codes beyond those in Types.h.
constexpr DWORD ERROR_BAD_PATHNAME = 161;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_BADDB = 1009;
constexpr DWORD ERROR_BADKEY = 1010;
constexpr DWORD ERROR_CANTOPEN = 1011;
constexpr DWORD ERROR_CANTWRITE = 1013;
constexpr DWORD ERROR_KEY_DELETED = 1018;

class Registry {
 public:
  virtual ~Registry() = default;

  // Opens subKey below key ("" or null: a new handle to key itself). Names compare ignoring case; a
  // leading backslash is not part of a valid path. On success *result is a handle for RegCloseKey.
  LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result);
  // Opens subKey, creating it and any missing keys on the way. disposition may be null.
  LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result,
                      DWORD* disposition);
  // Reads a value (null or "" names the key's default value). type, data and cbData may each be null:
  // with data null the call reports type and size only; with data given, *cbData is the buffer size on
  // entry and the data size on return; a buffer too small gives ERROR_MORE_DATA and the size needed. A
  // missing value gives ERROR_FILE_NOT_FOUND. Strings come back as stored, terminating zero included.
  LONG RegQueryValueEx(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* cbData);
  LONG RegSetValueEx(HKEY key, const char* valueName, DWORD type, const BYTE* data, DWORD cbData);
  LONG RegDeleteValue(HKEY key, const char* valueName);
  LONG RegCloseKey(HKEY key);

 protected:
  virtual LONG DoRegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM samDesired,
                              HKEY* result) = 0;
  virtual LONG DoRegCreateKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result,
                                DWORD* disposition) = 0;
  virtual LONG DoRegQueryValueEx(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* cbData) = 0;
  virtual LONG DoRegSetValueEx(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                               DWORD cbData) = 0;
  virtual LONG DoRegDeleteValue(HKEY key, const char* valueName) = 0;
  virtual LONG DoRegCloseKey(HKEY key) = 0;
};

// The full name of a predefined root key ("HKEY_CURRENT_USER"), or null for any other handle.
const char* RootKeyName(HKEY key);

}  // namespace plat
