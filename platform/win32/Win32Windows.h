// The window manager on Windows: each member forwards to the user32 call of the same name ("A" flavour).
// Window procedures are the one translation: the platform's procedures use the C calling convention, so
// every class registered here gets a common real procedure that looks up the platform procedure of the
// window (or of its class, while the window is being created) and calls it. An exception thrown by a
// platform procedure must not unwind through the system's frames; it is held and thrown again when the
// forwarding call that led to it returns.
#pragma once

#include <cstdint>
#include <exception>
#include <unordered_map>
#include <unordered_set>

#include "platform/Windows.h"

namespace plat::win32 {

class Win32WindowSystem final : public WindowSystem {
 public:
  Win32WindowSystem();
  ~Win32WindowSystem() override;
  Win32WindowSystem(const Win32WindowSystem&) = delete;
  Win32WindowSystem& operator=(const Win32WindowSystem&) = delete;

  ATOM RegisterClass(const WNDCLASS& wc) override;
  BOOL UnregisterClass(const char* className, HINSTANCE instance) override;
  BOOL GetClassInfo(HINSTANCE instance, const char* className, WNDCLASS* out) override;

  HWND CreateWindowEx(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y,
                      int width, int height, HWND parentOrOwner, HMENU menu, void* createParam) override;
  BOOL DestroyWindow(HWND hwnd) override;
  BOOL IsWindow(HWND hwnd) override;
  HWND GetDesktopWindow() override;
  HWND FindWindow(const char* className, const char* title) override;
  HWND GetWindow(HWND hwnd, UINT relation) override;
  HWND GetParent(HWND hwnd) override;
  HWND GetAncestor(HWND hwnd, UINT flags) override;
  HWND SetParent(HWND hwnd, HWND newParent) override;
  BOOL IsChild(HWND parent, HWND hwnd) override;
  int GetClassName(HWND hwnd, char* buffer, int bufferSize) override;

  BOOL ShowWindow(HWND hwnd, int command) override;
  BOOL IsWindowVisible(HWND hwnd) override;
  BOOL EnableWindow(HWND hwnd, BOOL enable) override;
  BOOL IsWindowEnabled(HWND hwnd) override;

  LONG_PTR GetWindowLongPtr(HWND hwnd, int index) override;
  LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value) override;

  BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) override;
  BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) override;
  BOOL GetWindowRect(HWND hwnd, RECT* rect) override;
  BOOL GetClientRect(HWND hwnd, RECT* rect) override;
  BOOL ClientToScreen(HWND hwnd, POINT* point) override;
  BOOL ScreenToClient(HWND hwnd, POINT* point) override;

  BOOL SetWindowText(HWND hwnd, const char* text) override;
  int GetWindowText(HWND hwnd, char* buffer, int bufferSize) override;
  int GetWindowTextLength(HWND hwnd) override;

  BOOL SetProp(HWND hwnd, const char* name, HANDLE data) override;
  HANDLE GetProp(HWND hwnd, const char* name) override;
  HANDLE RemoveProp(HWND hwnd, const char* name) override;

  int GetSystemMetrics(int index) override;

  HWND SetFocus(HWND hwnd) override;
  HWND GetFocus() override;
  BOOL SetForegroundWindow(HWND hwnd) override;
  HWND GetForegroundWindow() override;
  HWND GetActiveWindow() override;
  BOOL GetCursorPos(POINT* point) override;
  BOOL SetCursorPos(int x, int y) override;
  HWND SetCapture(HWND hwnd) override;
  BOOL ReleaseCapture() override;
  HWND GetCapture() override;

  BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) override;
  BOOL ValidateRect(HWND hwnd, const RECT* rect) override;
  BOOL GetUpdateRect(HWND hwnd, RECT* rect, BOOL erase) override;
  BOOL UpdateWindow(HWND hwnd) override;
  HDC BeginPaint(HWND hwnd, PAINTSTRUCT* paint) override;
  BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint) override;
  HDC GetDC(HWND hwnd) override;
  int ReleaseDC(HWND hwnd, HDC dc) override;

  BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
  LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL PeekMessage(MSG* msg, HWND filter, UINT min, UINT max, UINT remove) override;
  BOOL GetMessage(MSG* msg, HWND filter, UINT min, UINT max) override;
  BOOL WaitMessage() override;
  BOOL TranslateMessage(const MSG* msg) override;
  LRESULT DispatchMessage(const MSG* msg) override;
  void PostQuitMessage(int exitCode) override;
  LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
  LRESULT CallWindowProc(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

  int MessageBox(HWND owner, const char* text, const char* caption, UINT type) override;

  HMENU CreateMenu() override;
  HMENU CreatePopupMenu() override;
  BOOL DestroyMenu(HMENU menu) override;
  BOOL IsMenu(HMENU menu) override;
  BOOL AppendMenu(HMENU menu, UINT flags, UINT_PTR idOrSubmenu, const char* text) override;
  BOOL InsertMenu(HMENU menu, UINT position, UINT flags, UINT_PTR idOrSubmenu, const char* text) override;
  BOOL RemoveMenu(HMENU menu, UINT position, UINT flags) override;
  BOOL DeleteMenu(HMENU menu, UINT position, UINT flags) override;
  int GetMenuItemCount(HMENU menu) override;
  UINT GetMenuItemID(HMENU menu, int position) override;
  HMENU GetSubMenu(HMENU menu, int position) override;
  DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) override;
  BOOL CheckMenuRadioItem(HMENU menu, UINT first, UINT last, UINT check, UINT flags) override;
  BOOL EnableMenuItem(HMENU menu, UINT item, UINT flags) override;
  UINT GetMenuState(HMENU menu, UINT item, UINT flags) override;
  int GetMenuString(HMENU menu, UINT item, char* buffer, int bufferSize, UINT flags) override;
  BOOL GetMenuItemInfo(HMENU menu, UINT item, BOOL byPosition, MENUITEMINFO* info) override;
  BOOL SetMenuItemInfo(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFO* info) override;
  // Makes the owner's top-level window the foreground window first and posts it a null message after, so
  // the menu takes keyboard choices and closes when the user clicks elsewhere.
  BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner) override;

  // The common real window procedure (exposed for the dispatcher in the .cpp file).
  LRESULT Route(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  WNDPROC ProcOf(HWND hwnd);
  // Throws the exception a window procedure held back, if any.
  void Rethrow();

  std::unordered_map<HWND, WNDPROC> windowProcs_;
  std::unordered_map<ATOM, WNDPROC> classProcs_;
  // Real procedures of windows not made here, as GetWindowLongPtr reported them; CallWindowProc calls these
  // through the system.
  std::unordered_set<std::uintptr_t> realProcs_;
  std::exception_ptr pending_;
};

}  // namespace plat::win32
