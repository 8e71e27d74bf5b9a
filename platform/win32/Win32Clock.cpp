#include "platform/win32/Win32Clock.h"

#include "platform/win32/Win32Api.h"

namespace plat::win32 {

BOOL Win32Clock::QueryPerformanceCounter(LONGLONG* count) {
  ::LARGE_INTEGER v;
  if (!::QueryPerformanceCounter(&v)) return FALSE;
  if (count) *count = v.QuadPart;
  return TRUE;
}

BOOL Win32Clock::QueryPerformanceFrequency(LONGLONG* frequency) {
  ::LARGE_INTEGER v;
  if (!::QueryPerformanceFrequency(&v)) return FALSE;
  if (frequency) *frequency = v.QuadPart;
  return TRUE;
}

DWORD Win32Clock::GetTickCount() {
  return ::GetTickCount();
}

DWORD Win32Clock::timeGetTime() {
  return ::timeGetTime();
}

void Win32Clock::Sleep(DWORD ms) {
  ::Sleep(ms);
}

}  // namespace plat::win32
