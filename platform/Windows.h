// The window manager: window classes and windows, the message queue, message boxes and menus, shaped like
// user32 so that a Windows backend forwards each member to the one API call of the same name, and an X11
// backend can map each onto its windows and events. Numbers are the values Windows uses. Strings are
// 8-bit (the "A" flavour of the API); text buffers follow the Windows rule: a buffer of n characters
// receives at most n-1 of them and a terminating zero.
#pragma once

#include <cstdint>

#include "platform/Types.h"

namespace plat {

using LONG_PTR = std::intptr_t;
using ULONG_PTR = std::uintptr_t;
using UINT_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using ATOM = WORD;
using HANDLE = void*;
struct HCURSOR__;
using HCURSOR = HCURSOR__*;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

// ---- error codes of the window manager ----
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_INVALID_MENU_HANDLE = 1401;
constexpr DWORD ERROR_TLW_WITH_WSCHILD = 1406;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_CLASS_DOES_NOT_EXIST = 1411;
constexpr DWORD ERROR_CLASS_HAS_WINDOWS = 1412;
constexpr DWORD ERROR_INVALID_INDEX = 1413;
constexpr DWORD ERROR_POPUP_ALREADY_ACTIVE = 1446;
constexpr DWORD ERROR_MENU_ITEM_NOT_FOUND = 1456;

// ---- word packing ----
inline WORD LOWORD(DWORD_PTR v) {
  return static_cast<WORD>(v & 0xFFFF);
}
inline WORD HIWORD(DWORD_PTR v) {
  return static_cast<WORD>((v >> 16) & 0xFFFF);
}
inline WPARAM MAKEWPARAM(WORD lo, WORD hi) {
  return static_cast<WPARAM>(static_cast<DWORD>(lo) | (static_cast<DWORD>(hi) << 16));
}
inline LPARAM MAKELPARAM(WORD lo, WORD hi) {
  return static_cast<LPARAM>(static_cast<DWORD>(lo) | (static_cast<DWORD>(hi) << 16));
}
// Signed coordinates packed into an LPARAM (mouse messages, WM_CONTEXTMENU).
inline int GET_X_LPARAM(LPARAM lp) {
  return static_cast<short>(LOWORD(static_cast<DWORD_PTR>(lp)));
}
inline int GET_Y_LPARAM(LPARAM lp) {
  return static_cast<short>(HIWORD(static_cast<DWORD_PTR>(lp)));
}
inline LPARAM MAKEPOINTLPARAM(int x, int y) {
  return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y));
}

// ---- messages ----
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_ENABLE = 0x000A;
constexpr UINT WM_SETREDRAW = 0x000B;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUERYENDSESSION = 0x0011;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_ACTIVATEAPP = 0x001C;
constexpr UINT WM_CANCELMODE = 0x001F;
constexpr UINT WM_SETCURSOR = 0x0020;
constexpr UINT WM_MOUSEACTIVATE = 0x0021;
constexpr UINT WM_GETMINMAXINFO = 0x0024;
constexpr UINT WM_WINDOWPOSCHANGING = 0x0046;
constexpr UINT WM_WINDOWPOSCHANGED = 0x0047;
constexpr UINT WM_CONTEXTMENU = 0x007B;
constexpr UINT WM_STYLECHANGING = 0x007C;
constexpr UINT WM_STYLECHANGED = 0x007D;
constexpr UINT WM_DISPLAYCHANGE = 0x007E;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_NCCALCSIZE = 0x0083;
constexpr UINT WM_NCHITTEST = 0x0084;
constexpr UINT WM_NCPAINT = 0x0085;
constexpr UINT WM_NCACTIVATE = 0x0086;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_SYSKEYUP = 0x0105;
constexpr UINT WM_SYSCHAR = 0x0106;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_INITMENU = 0x0116;
constexpr UINT WM_INITMENUPOPUP = 0x0117;
constexpr UINT WM_MENUSELECT = 0x011F;
constexpr UINT WM_ENTERIDLE = 0x0121;
constexpr UINT WM_UNINITMENUPOPUP = 0x0125;
constexpr UINT WM_CHANGEUISTATE = 0x0127;
constexpr UINT WM_UPDATEUISTATE = 0x0128;
constexpr UINT WM_QUERYUISTATE = 0x0129;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_MBUTTONUP = 0x0208;
constexpr UINT WM_ENTERMENULOOP = 0x0211;
constexpr UINT WM_EXITMENULOOP = 0x0212;
constexpr UINT WM_CAPTURECHANGED = 0x0215;
constexpr UINT WM_QUERYNEWPALETTE = 0x030F;
constexpr UINT WM_PALETTECHANGED = 0x0311;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

// WM_ACTIVATE
constexpr WORD WA_INACTIVE = 0;
constexpr WORD WA_ACTIVE = 1;
constexpr WORD WA_CLICKACTIVE = 2;
// WM_SIZE
constexpr WPARAM SIZE_RESTORED = 0;
constexpr WPARAM SIZE_MINIMIZED = 1;
constexpr WPARAM SIZE_MAXIMIZED = 2;
// mouse key state in wParam
constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM MK_RBUTTON = 0x0002;
constexpr WPARAM MK_SHIFT = 0x0004;
constexpr WPARAM MK_CONTROL = 0x0008;
constexpr WPARAM MK_MBUTTON = 0x0010;
// WM_SYSCOMMAND
constexpr WPARAM SC_CLOSE = 0xF060;
// WM_CHANGEUISTATE / WM_UPDATEUISTATE: LOWORD(wParam) action, HIWORD(wParam) flags
constexpr WORD UIS_SET = 1;
constexpr WORD UIS_CLEAR = 2;
constexpr WORD UIS_INITIALIZE = 3;
constexpr WORD UISF_HIDEFOCUS = 0x1;
constexpr WORD UISF_HIDEACCEL = 0x2;
constexpr WORD UISF_ACTIVE = 0x4;

// ---- window styles ----
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_MINIMIZE = 0x20000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
constexpr DWORD WS_MAXIMIZE = 0x01000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_DLGFRAME = 0x00400000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_HSCROLL = 0x00100000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr DWORD WS_POPUPWINDOW = WS_POPUP | WS_BORDER | WS_SYSMENU;

constexpr DWORD WS_EX_DLGMODALFRAME = 0x00000001;
constexpr DWORD WS_EX_NOPARENTNOTIFY = 0x00000004;
constexpr DWORD WS_EX_TOPMOST = 0x00000008;
constexpr DWORD WS_EX_ACCEPTFILES = 0x00000010;
constexpr DWORD WS_EX_TRANSPARENT = 0x00000020;
constexpr DWORD WS_EX_MDICHILD = 0x00000040;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
constexpr DWORD WS_EX_WINDOWEDGE = 0x00000100;
constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200;
constexpr DWORD WS_EX_CONTEXTHELP = 0x00000400;
constexpr DWORD WS_EX_CONTROLPARENT = 0x00010000;
constexpr DWORD WS_EX_STATICEDGE = 0x00020000;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;
constexpr DWORD WS_EX_LAYERED = 0x00080000;

// class styles
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr UINT CS_DBLCLKS = 0x0008;
constexpr UINT CS_OWNDC = 0x0020;
constexpr UINT CS_PARENTDC = 0x0080;
constexpr UINT CS_SAVEBITS = 0x0800;

// default position or size in CreateWindowEx
constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);

// ---- ShowWindow commands ----
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_NORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_MAXIMIZE = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWMINNOACTIVE = 7;
constexpr int SW_SHOWNA = 8;
constexpr int SW_RESTORE = 9;
constexpr int SW_SHOWDEFAULT = 10;
constexpr int SW_FORCEMINIMIZE = 11;

// ---- Get/SetWindowLong(Ptr) indexes ----
constexpr int GWL_WNDPROC = -4;
constexpr int GWL_HINSTANCE = -6;
constexpr int GWL_HWNDPARENT = -8;
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr int GWL_USERDATA = -21;
constexpr int GWL_ID = -12;
constexpr int GWLP_WNDPROC = -4;
constexpr int GWLP_HINSTANCE = -6;
constexpr int GWLP_HWNDPARENT = -8;
constexpr int GWLP_USERDATA = -21;
constexpr int GWLP_ID = -12;

// ---- GetWindow relations ----
constexpr UINT GW_HWNDFIRST = 0;
constexpr UINT GW_HWNDLAST = 1;
constexpr UINT GW_HWNDNEXT = 2;
constexpr UINT GW_HWNDPREV = 3;
constexpr UINT GW_OWNER = 4;
constexpr UINT GW_CHILD = 5;
constexpr UINT GW_ENABLEDPOPUP = 6;

// GetAncestor
constexpr UINT GA_PARENT = 1;
constexpr UINT GA_ROOT = 2;
constexpr UINT GA_ROOTOWNER = 3;

// ---- SetWindowPos ----
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOREDRAW = 0x0008;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_FRAMECHANGED = 0x0020;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;
constexpr UINT SWP_NOCOPYBITS = 0x0100;
constexpr UINT SWP_NOOWNERZORDER = 0x0200;
constexpr UINT SWP_NOSENDCHANGING = 0x0400;
// Special insert-after values of SetWindowPos.
inline HWND HWND_TOP() {
  return nullptr;
}
inline HWND HWND_BOTTOM() {
  return reinterpret_cast<HWND>(static_cast<std::intptr_t>(1));
}
inline HWND HWND_TOPMOST() {
  return reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));
}
inline HWND HWND_NOTOPMOST() {
  return reinterpret_cast<HWND>(static_cast<std::intptr_t>(-2));
}

// ---- system metrics ----
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SM_CXVSCROLL = 2;
constexpr int SM_CYHSCROLL = 3;
constexpr int SM_CYCAPTION = 4;
constexpr int SM_CXBORDER = 5;
constexpr int SM_CYBORDER = 6;
constexpr int SM_CXFULLSCREEN = 16;
constexpr int SM_CYFULLSCREEN = 17;
constexpr int SM_CYMENU = 15;

// ---- PeekMessage ----
constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;
constexpr UINT PM_NOYIELD = 0x0002;

// ---- MessageBox ----
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
constexpr UINT MB_YESNOCANCEL = 0x00000003;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_RETRYCANCEL = 0x00000005;
constexpr UINT MB_CANCELTRYCONTINUE = 0x00000006;
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_ICONSTOP = 0x00000010;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONWARNING = 0x00000030;
constexpr UINT MB_ICONASTERISK = 0x00000040;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr UINT MB_ICONMASK = 0x000000F0;
constexpr UINT MB_DEFBUTTON1 = 0x00000000;
constexpr UINT MB_DEFBUTTON2 = 0x00000100;
constexpr UINT MB_DEFBUTTON3 = 0x00000200;
constexpr UINT MB_DEFBUTTON4 = 0x00000300;
constexpr UINT MB_DEFMASK = 0x00000F00;
constexpr UINT MB_APPLMODAL = 0x00000000;
constexpr UINT MB_SYSTEMMODAL = 0x00001000;
constexpr UINT MB_TASKMODAL = 0x00002000;
constexpr UINT MB_SETFOREGROUND = 0x00010000;
constexpr UINT MB_TOPMOST = 0x00040000;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr int IDTRYAGAIN = 10;
constexpr int IDCONTINUE = 11;

// ---- menus ----
constexpr UINT MF_STRING = 0x00000000;
constexpr UINT MF_BYCOMMAND = 0x00000000;
constexpr UINT MF_ENABLED = 0x00000000;
constexpr UINT MF_UNCHECKED = 0x00000000;
constexpr UINT MF_GRAYED = 0x00000001;
constexpr UINT MF_DISABLED = 0x00000002;
constexpr UINT MF_BITMAP = 0x00000004;
constexpr UINT MF_CHECKED = 0x00000008;
constexpr UINT MF_POPUP = 0x00000010;
constexpr UINT MF_MENUBARBREAK = 0x00000020;
constexpr UINT MF_MENUBREAK = 0x00000040;
constexpr UINT MF_HILITE = 0x00000080;
constexpr UINT MF_OWNERDRAW = 0x00000100;
constexpr UINT MF_USECHECKBITMAPS = 0x00000200;
constexpr UINT MF_BYPOSITION = 0x00000400;
constexpr UINT MF_SEPARATOR = 0x00000800;
constexpr UINT MF_DEFAULT = 0x00001000;
constexpr UINT MF_RIGHTJUSTIFY = 0x00004000;

constexpr UINT MFT_STRING = 0x00000000;
constexpr UINT MFT_BITMAP = 0x00000004;
constexpr UINT MFT_MENUBARBREAK = 0x00000020;
constexpr UINT MFT_MENUBREAK = 0x00000040;
constexpr UINT MFT_OWNERDRAW = 0x00000100;
constexpr UINT MFT_RADIOCHECK = 0x00000200;
constexpr UINT MFT_SEPARATOR = 0x00000800;
constexpr UINT MFT_RIGHTORDER = 0x00002000;
constexpr UINT MFT_RIGHTJUSTIFY = 0x00004000;

constexpr UINT MFS_ENABLED = 0x00000000;
constexpr UINT MFS_UNCHECKED = 0x00000000;
constexpr UINT MFS_GRAYED = 0x00000003;
constexpr UINT MFS_DISABLED = 0x00000003;
constexpr UINT MFS_CHECKED = 0x00000008;
constexpr UINT MFS_HILITE = 0x00000080;
constexpr UINT MFS_DEFAULT = 0x00001000;

constexpr UINT MIIM_STATE = 0x00000001;
constexpr UINT MIIM_ID = 0x00000002;
constexpr UINT MIIM_SUBMENU = 0x00000004;
constexpr UINT MIIM_CHECKMARKS = 0x00000008;
constexpr UINT MIIM_TYPE = 0x00000010;
constexpr UINT MIIM_DATA = 0x00000020;
constexpr UINT MIIM_STRING = 0x00000040;
constexpr UINT MIIM_BITMAP = 0x00000080;
constexpr UINT MIIM_FTYPE = 0x00000100;

constexpr UINT TPM_LEFTBUTTON = 0x0000;
constexpr UINT TPM_RIGHTBUTTON = 0x0002;
constexpr UINT TPM_LEFTALIGN = 0x0000;
constexpr UINT TPM_CENTERALIGN = 0x0004;
constexpr UINT TPM_RIGHTALIGN = 0x0008;
constexpr UINT TPM_TOPALIGN = 0x0000;
constexpr UINT TPM_VCENTERALIGN = 0x0010;
constexpr UINT TPM_BOTTOMALIGN = 0x0020;
constexpr UINT TPM_NONOTIFY = 0x0080;
constexpr UINT TPM_RETURNCMD = 0x0100;

// ---- structures ----
struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

struct WNDCLASS {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  const char* lpszMenuName;
  const char* lpszClassName;
};

// lParam of WM_NCCREATE and WM_CREATE.
struct CREATESTRUCT {
  void* lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  const char* lpszName;
  const char* lpszClass;
  DWORD dwExStyle;
};

// lParam of WM_WINDOWPOSCHANGING and WM_WINDOWPOSCHANGED.
struct WINDOWPOS {
  HWND hwnd;
  HWND hwndInsertAfter;
  int x;
  int y;
  int cx;
  int cy;
  UINT flags;
};

// lParam of WM_STYLECHANGING and WM_STYLECHANGED (wParam is GWL_STYLE or GWL_EXSTYLE).
struct STYLESTRUCT {
  DWORD styleOld;
  DWORD styleNew;
};

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};

struct MENUITEMINFO {
  UINT cbSize;
  UINT fMask;
  UINT fType;
  UINT fState;
  UINT wID;
  HMENU hSubMenu;
  HBITMAP hbmpChecked;
  HBITMAP hbmpUnchecked;
  ULONG_PTR dwItemData;
  char* dwTypeData;
  UINT cch;
  HBITMAP hbmpItem;
};

// The window manager of the running system. One instance serves the (single) user-interface thread.
// Failing calls set the thread's last-error code (plat::Sys()) as Windows does.
class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // -- window classes (names compare without regard to letter case) --
  virtual ATOM RegisterClass(const WNDCLASS& wc) = 0;
  virtual BOOL UnregisterClass(const char* className, HINSTANCE instance) = 0;
  virtual BOOL GetClassInfo(HINSTANCE instance, const char* className, WNDCLASS* out) = 0;

  // -- windows --
  // parentOrOwner: the parent of a WS_CHILD window, else the owner (its top-level ancestor becomes the
  // owner). The window procedure sees WM_NCCREATE and WM_CREATE with a CREATESTRUCT whose lpCreateParams is
  // createParam; WM_NCCREATE returning 0 or WM_CREATE returning -1 fails the creation (null result). A new
  // top-level window comes to the top of the z-order, a new child window goes below its siblings.
  virtual HWND CreateWindowEx(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                              int y, int width, int height, HWND parentOrOwner, HMENU menu,
                              void* createParam) = 0;
  // Destroys the windows it owns, then itself: WM_DESTROY to the window before its children, WM_NCDESTROY
  // after them. The handle is invalid afterwards.
  virtual BOOL DestroyWindow(HWND hwnd) = 0;
  virtual BOOL IsWindow(HWND hwnd) = 0;
  // The root of every top-level window; top-level windows are its children.
  virtual HWND GetDesktopWindow() = 0;
  // A top-level window by class name and title (null title: any title); both compare ignoring case.
  virtual HWND FindWindow(const char* className, const char* title) = 0;
  // GW_CHILD: the first child, the top of the z-order; GW_HWNDNEXT: the sibling below; GW_OWNER ...
  virtual HWND GetWindow(HWND hwnd, UINT relation) = 0;
  // The parent of a child window; for a top-level WS_POPUP window its owner; otherwise null.
  virtual HWND GetParent(HWND hwnd) = 0;
  virtual HWND GetAncestor(HWND hwnd, UINT flags) = 0;
  // Moves hwnd under newParent (null: the desktop), at the top of the new parent's z-order, keeping its
  // coordinates. Returns the previous parent (the desktop window for a top-level window), null on failure.
  virtual HWND SetParent(HWND hwnd, HWND newParent) = 0;
  virtual BOOL IsChild(HWND parent, HWND hwnd) = 0;
  // Copies the class name (Windows length rule); returns the count copied, 0 for a bad handle.
  virtual int GetClassName(HWND hwnd, char* buffer, int bufferSize) = 0;

  // Returns nonzero when the window was visible before.
  virtual BOOL ShowWindow(HWND hwnd, int command) = 0;
  // The window and all its ancestors have WS_VISIBLE.
  virtual BOOL IsWindowVisible(HWND hwnd) = 0;
  // Returns nonzero when the window was disabled before.
  virtual BOOL EnableWindow(HWND hwnd, BOOL enable) = 0;
  virtual BOOL IsWindowEnabled(HWND hwnd) = 0;

  virtual LONG_PTR GetWindowLongPtr(HWND hwnd, int index) = 0;
  // Returns the previous value. GWL_STYLE / GWL_EXSTYLE send WM_STYLECHANGING and WM_STYLECHANGED.
  virtual LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value) = 0;
  LONG GetWindowLong(HWND hwnd, int index) { return static_cast<LONG>(GetWindowLongPtr(hwnd, index)); }
  LONG SetWindowLong(HWND hwnd, int index, LONG value) {
    return static_cast<LONG>(SetWindowLongPtr(hwnd, index, value));
  }

  // Position and size are relative to the parent's client area (the screen for top-level windows).
  virtual BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) = 0;
  virtual BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) = 0;
  // Screen coordinates.
  virtual BOOL GetWindowRect(HWND hwnd, RECT* rect) = 0;
  virtual BOOL GetClientRect(HWND hwnd, RECT* rect) = 0;
  virtual BOOL ClientToScreen(HWND hwnd, POINT* point) = 0;
  virtual BOOL ScreenToClient(HWND hwnd, POINT* point) = 0;

  // Through WM_SETTEXT / WM_GETTEXT / WM_GETTEXTLENGTH (DefWindowProc keeps the text).
  virtual BOOL SetWindowText(HWND hwnd, const char* text) = 0;
  virtual int GetWindowText(HWND hwnd, char* buffer, int bufferSize) = 0;
  virtual int GetWindowTextLength(HWND hwnd) = 0;

  // Per-window named values.
  virtual BOOL SetProp(HWND hwnd, const char* name, HANDLE data) = 0;
  virtual HANDLE GetProp(HWND hwnd, const char* name) = 0;
  virtual HANDLE RemoveProp(HWND hwnd, const char* name) = 0;

  virtual int GetSystemMetrics(int index) = 0;

  // -- focus, activation, cursor --
  virtual HWND SetFocus(HWND hwnd) = 0;
  virtual HWND GetFocus() = 0;
  virtual BOOL SetForegroundWindow(HWND hwnd) = 0;
  virtual HWND GetForegroundWindow() = 0;
  virtual HWND GetActiveWindow() = 0;
  virtual BOOL GetCursorPos(POINT* point) = 0;
  virtual BOOL SetCursorPos(int x, int y) = 0;
  virtual HWND SetCapture(HWND hwnd) = 0;
  virtual BOOL ReleaseCapture() = 0;
  virtual HWND GetCapture() = 0;

  // -- painting --
  // A window with an update region receives WM_PAINT once the queue holds nothing else; BeginPaint (or
  // ValidateRect, or DefWindowProc's WM_PAINT) empties the region.
  virtual BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) = 0;
  virtual BOOL ValidateRect(HWND hwnd, const RECT* rect) = 0;
  virtual BOOL GetUpdateRect(HWND hwnd, RECT* rect, BOOL erase) = 0;
  virtual BOOL UpdateWindow(HWND hwnd) = 0;
  virtual HDC BeginPaint(HWND hwnd, PAINTSTRUCT* paint) = 0;
  virtual BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint) = 0;
  virtual HDC GetDC(HWND hwnd) = 0;
  virtual int ReleaseDC(HWND hwnd, HDC dc) = 0;

  // -- messages --
  // hwnd null posts a message to the thread (MSG::hwnd null).
  virtual BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;
  // Calls the window's procedure directly; 0 for a bad handle.
  virtual LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;
  // Order: posted messages first, then WM_QUIT, then WM_PAINT for windows with an update region.
  // filter null: every message; else messages for that window and its descendants. min = max = 0: any.
  virtual BOOL PeekMessage(MSG* msg, HWND filter, UINT min, UINT max, UINT remove) = 0;
  // Returns 0 for WM_QUIT, nonzero for other messages, -1 on failure. A backend that can prove nothing
  // will ever arrive returns -1 with last error WAIT_TIMEOUT instead of waiting forever (see the soft one).
  virtual BOOL GetMessage(MSG* msg, HWND filter, UINT min, UINT max) = 0;
  // Waits until the queue holds a message; FALSE (last error WAIT_TIMEOUT) when none can ever arrive.
  virtual BOOL WaitMessage() = 0;
  virtual BOOL TranslateMessage(const MSG* msg) = 0;
  virtual LRESULT DispatchMessage(const MSG* msg) = 0;
  virtual void PostQuitMessage(int exitCode) = 0;
  virtual LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;
  virtual LRESULT CallWindowProc(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;

  // -- message boxes --
  // Modal; returns the button chosen (IDOK ...), 0 on failure.
  virtual int MessageBox(HWND owner, const char* text, const char* caption, UINT type) = 0;

  // -- menus --
  virtual HMENU CreateMenu() = 0;
  virtual HMENU CreatePopupMenu() = 0;
  // Destroys the menu and its submenus.
  virtual BOOL DestroyMenu(HMENU menu) = 0;
  virtual BOOL IsMenu(HMENU menu) = 0;
  // idOrSubmenu: the command id, or the submenu's handle with MF_POPUP.
  virtual BOOL AppendMenu(HMENU menu, UINT flags, UINT_PTR idOrSubmenu, const char* text) = 0;
  virtual BOOL InsertMenu(HMENU menu, UINT position, UINT flags, UINT_PTR idOrSubmenu, const char* text) = 0;
  // RemoveMenu keeps a submenu alive; DeleteMenu destroys it.
  virtual BOOL RemoveMenu(HMENU menu, UINT position, UINT flags) = 0;
  virtual BOOL DeleteMenu(HMENU menu, UINT position, UINT flags) = 0;
  virtual int GetMenuItemCount(HMENU menu) = 0;
  virtual UINT GetMenuItemID(HMENU menu, int position) = 0;
  virtual HMENU GetSubMenu(HMENU menu, int position) = 0;
  // Returns the previous check state (MF_CHECKED or MF_UNCHECKED), or (DWORD)-1 when there is no such item.
  virtual DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) = 0;
  // Checks `check` with a radio mark and unchecks the other items from `first` to `last`.
  virtual BOOL CheckMenuRadioItem(HMENU menu, UINT first, UINT last, UINT check, UINT flags) = 0;
  // Returns the previous state (MF_ENABLED, MF_GRAYED, MF_DISABLED), or (BOOL)-1 when there is no such item.
  virtual BOOL EnableMenuItem(HMENU menu, UINT item, UINT flags) = 0;
  // The item's MF_* flags (for a popup item also the submenu's item count in the high byte), or (UINT)-1.
  virtual UINT GetMenuState(HMENU menu, UINT item, UINT flags) = 0;
  virtual int GetMenuString(HMENU menu, UINT item, char* buffer, int bufferSize, UINT flags) = 0;
  virtual BOOL GetMenuItemInfo(HMENU menu, UINT item, BOOL byPosition, MENUITEMINFO* info) = 0;
  virtual BOOL SetMenuItemInfo(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFO* info) = 0;
  // Runs the modal menu loop: WM_ENTERMENULOOP, WM_INITMENU, WM_INITMENUPOPUP to the owner, the user's
  // choice, WM_EXITMENULOOP; then posts WM_COMMAND with the chosen id to the owner, or with TPM_RETURNCMD
  // returns the id (0 when cancelled) instead. The program's own idle processing does not run meanwhile.
  virtual BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner) = 0;
};

}  // namespace plat
