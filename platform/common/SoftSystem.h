// The soft system service: the calling thread's last-error code and the system message table in the
// wording Windows gives (English), each text ending in ".\r\n" as FormatMessage returns it.
#pragma once

#include <map>
#include <string>

#include "platform/System.h"

namespace plat::soft {

class SoftSystem : public System {
 public:
  // Starts the calling thread with last-error code 0, so each soft platform begins clean.
  SoftSystem();

  DWORD GetLastError() override;
  void SetLastError(DWORD code) override;
  std::string FormatMessageText(DWORD code) override;

  // Adds or replaces the text for a code (tests give a code a text of their own; "" removes the text).
  void SetMessageText(DWORD code, const std::string& text);

 private:
  std::map<DWORD, std::string> overrides_;
};

// The built-in table: the Windows text for a code, or "" when the table has none.
std::string StandardMessageText(DWORD code);

}  // namespace plat::soft
