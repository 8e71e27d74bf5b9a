// Process-wide system services: the calling thread's last-error code and the system's message texts.
#pragma once

#include <string>

#include "platform/Types.h"

namespace plat {

class System {
 public:
  virtual ~System() = default;
  virtual DWORD GetLastError() = 0;
  virtual void SetLastError(DWORD code) = 0;
  // The system's own wording for an error code, as the system gives it (it may end in ".\r\n"); empty when
  // the system has no text for the code.
  virtual std::string FormatMessageText(DWORD code) = 0;
};

// The system message for a code with every trailing control character, space and full stop removed.
std::string SysErrorMessage(DWORD code);

}  // namespace plat
