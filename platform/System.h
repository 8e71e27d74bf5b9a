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

// The running program's file, with links resolved, from the name it was started as (argv[0]): a name with
// a directory in it is taken as it stands, a bare name is looked up on PATH; when that finds nothing, the
// system's own record of the running executable, where it keeps one. Empty when nothing is found.
std::string ProgramFile(const std::string& startedAs);

}  // namespace plat
