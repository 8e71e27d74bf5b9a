// The system service on Windows: the thread's own last-error code and the system's message texts.
#pragma once

#include "platform/System.h"

namespace plat::win32 {

class Win32System final : public System {
 public:
  DWORD GetLastError() override;
  void SetLastError(DWORD code) override;
  std::string FormatMessageText(DWORD code) override;
};

}  // namespace plat::win32
