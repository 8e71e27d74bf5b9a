#include "platform/x11/X11Windows.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xpresent.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/x11/GtkUi.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Presenter.h"

namespace plat::x11 {

namespace {

// SIGINT and SIGTERM end the program through its message loop: the handler only notes the signal and
// wakes the waiting loop through a pipe.
int g_wakeWrite = -1;
volatile sig_atomic_t g_quitSignal = 0;
struct sigaction g_oldInt {};
struct sigaction g_oldTerm {};

void OnQuitSignal(int) {
  const int savedErrno = errno;  // the interrupted code may be about to read it
  g_quitSignal = 1;
  if (g_wakeWrite >= 0) {
    const char c = 1;
    const ssize_t ignored = write(g_wakeWrite, &c, 1);
    (void)ignored;
  }
  errno = savedErrno;
}

std::int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Milliseconds left until a deadline, at least 1 while it lies ahead.
int MsUntil(std::int64_t deadlineUs) {
  const std::int64_t left = deadlineUs - NowUs();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<std::int64_t>((left + 999) / 1000, INT_MAX));
}

// The virtual-key code of a key, 0 for keys the program has no name for.
WPARAM VirtualKey(KeySym k) {
  if (k >= XK_a && k <= XK_z) return static_cast<WPARAM>('A' + (k - XK_a));
  if (k >= XK_A && k <= XK_Z) return static_cast<WPARAM>('A' + (k - XK_A));
  if (k >= XK_0 && k <= XK_9) return static_cast<WPARAM>('0' + (k - XK_0));
  if (k >= XK_F1 && k <= XK_F12) return static_cast<WPARAM>(0x70 + (k - XK_F1));
  switch (k) {
    case XK_BackSpace:
      return 0x08;
    case XK_Tab:
    case XK_ISO_Left_Tab:
      return 0x09;
    case XK_Return:
    case XK_KP_Enter:
      return 0x0D;
    case XK_Escape:
      return 0x1B;
    case XK_space:
      return 0x20;
    case XK_Left:
      return 0x25;
    case XK_Up:
      return 0x26;
    case XK_Right:
      return 0x27;
    case XK_Down:
      return 0x28;
    case XK_Delete:
      return 0x2E;
    case XK_Shift_L:
    case XK_Shift_R:
      return 0x10;
    case XK_Control_L:
    case XK_Control_R:
      return 0x11;
    case XK_Alt_L:
    case XK_Alt_R:
      return 0x12;
    default:
      return 0;
  }
}

WPARAM MouseKeys(unsigned state) {
  WPARAM keys = 0;
  if (state & Button1Mask) keys |= MK_LBUTTON;
  if (state & Button2Mask) keys |= MK_MBUTTON;
  if (state & Button3Mask) keys |= MK_RBUTTON;
  if (state & ShiftMask) keys |= MK_SHIFT;
  if (state & ControlMask) keys |= MK_CONTROL;
  return keys;
}

// _MOTIF_WM_HINTS: flags, functions, decorations, input mode, status.
struct MotifHints {
  unsigned long flags, functions, decorations;
  long inputMode;
  unsigned long status;
};
constexpr unsigned long kMotifFunctions = 1, kMotifDecorations = 2;
constexpr unsigned long kFuncResize = 2, kFuncMove = 4, kFuncMinimize = 8, kFuncMaximize = 16,
                        kFuncClose = 32;
constexpr unsigned long kDecoBorder = 2, kDecoResizeH = 4, kDecoTitle = 8, kDecoMenu = 16, kDecoMinimize = 32,
                        kDecoMaximize = 64;

// What the frame offers, from the window's styles: no caption, no frame at all.
MotifHints FrameHints(DWORD style) {
  MotifHints m{kMotifFunctions | kMotifDecorations, kFuncMove, 0, 0, 0};
  if (!(style & WS_CAPTION)) return m;
  m.decorations = kDecoBorder | kDecoTitle;
  if (style & WS_THICKFRAME) {
    m.functions |= kFuncResize;
    m.decorations |= kDecoResizeH;
  }
  if (style & WS_SYSMENU) {
    m.functions |= kFuncClose;
    m.decorations |= kDecoMenu;
    if (style & WS_MINIMIZEBOX) {
      m.functions |= kFuncMinimize;
      m.decorations |= kDecoMinimize;
    }
    if (style & WS_MAXIMIZEBOX) {
      m.functions |= kFuncMaximize;
      m.decorations |= kDecoMaximize;
    }
  }
  return m;
}

constexpr long kEventMask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            KeyPressMask | KeyReleaseMask | StructureNotifyMask;

}  // namespace

X11WindowSystem::X11WindowSystem(X11Connection& x, X11Presenter& presenter)
    : WindowTree(x.width(), x.height()), x_(x), presenter_(presenter) {
  Desktop()->native = x.root();
  int fds[2] = {-1, -1};
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead_ = fds[0];
    g_wakeWrite = fds[1];
  }
  g_quitSignal = 0;
  struct sigaction sa {};
  sa.sa_handler = &OnQuitSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, &g_oldInt);
  sigaction(SIGTERM, &sa, &g_oldTerm);

  presentAvailable_ = presentUsable_ = x.hasPresent();
  if (presentUsable_) XPresentSelectInput(x.display(), x.root(), PresentCompleteNotifyMask);
  FindDesktop();
}

X11WindowSystem::~X11WindowSystem() {
  // Windows the program left behind leave the screen without messages: the objects behind their procedures
  // may be gone by now. Destroying a top-level X window takes its subwindows with it.
  for (Window* w : LiveWindows()) {
    if (!w->foreign && w->native && w->parent && !w->parent->foreign && w->parent != Desktop()) continue;
    if (!w->foreign && w->native) XDestroyWindow(x_.display(), static_cast<::Window>(w->native));
  }
  gtk_.reset();
  if (desktopXid_) XSelectInput(x_.display(), desktopXid_, NoEventMask);
  XSync(x_.display(), False);
  sigaction(SIGINT, &g_oldInt, nullptr);
  sigaction(SIGTERM, &g_oldTerm, nullptr);
  if (g_wakeWrite >= 0) close(g_wakeWrite);
  g_wakeWrite = -1;
  if (wakeRead_ >= 0) close(wakeRead_);
}

GtkUi& X11WindowSystem::Gtk() {
  if (!gtk_) gtk_ = std::make_unique<GtkUi>(*this);
  return *gtk_;
}

// ---- the desktop's window ----

void X11WindowSystem::FindDesktop() {
  Display* dpy = x_.display();
  const Atoms& a = x_.atoms();
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(dpy, x_.root(), a.netClientList, 0, 4096, False, XA_WINDOW, &type, &format, &count,
                         &after, &data) != Success)
    return;
  std::vector<::Window> clients;
  if (data && format == 32) {
    const auto* ids = reinterpret_cast<const unsigned long*>(data);
    clients.assign(ids, ids + count);
  }
  if (data) XFree(data);
  ::Window found = 0;
  for (::Window c : clients) {
    unsigned char* types = nullptr;
    unsigned long n = 0;
    if (XGetWindowProperty(dpy, c, a.netWmWindowType, 0, 32, False, XA_ATOM, &type, &format, &n, &after,
                           &types) != Success)
      continue;
    bool desktop = false;
    if (types && format == 32) {
      const auto* atoms = reinterpret_cast<const unsigned long*>(types);
      desktop = std::find(atoms, atoms + n, a.netWmWindowTypeDesktop) != atoms + n;
    }
    if (types) XFree(types);
    XWindowAttributes attrs{};
    if (desktop && XGetWindowAttributes(dpy, c, &attrs) && attrs.map_state == IsViewable) {
      found = c;
      break;
    }
  }
  if (!found) return;
  XWindowAttributes attrs{};
  int rx = 0, ry = 0;
  ::Window child = 0;
  if (!XGetWindowAttributes(dpy, found, &attrs) ||
      !XTranslateCoordinates(dpy, found, x_.root(), 0, 0, &rx, &ry, &child))
    return;
  // Told when it goes, so the windows inside it can go on as top-level windows.
  XSelectInput(dpy, found, StructureNotifyMask);
  const DWORD common = WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  shell_[0] = CreateForeignWindow("Progman", "Program Manager", WS_POPUP | common, rx, ry, attrs.width,
                                  attrs.height, nullptr);
  shell_[1] = CreateForeignWindow("SHELLDLL_DefView", "", WS_CHILD | common, 0, 0, attrs.width, attrs.height,
                                  shell_[0]);
  shell_[2] = CreateForeignWindow("SysListView32", "FolderView", WS_CHILD | common, 0, 0, attrs.width,
                                  attrs.height, shell_[1]);
  for (HWND h : shell_) {
    if (Window* w = Find(h)) w->native = found;
  }
  if (Window* view = Find(shell_[2])) byXid_[found] = view;
  desktopXid_ = found;
}

void X11WindowSystem::DesktopGone() {
  if (!desktopXid_) return;
  Window* proxies[3] = {Find(shell_[0]), Find(shell_[1]), Find(shell_[2])};
  byXid_.erase(desktopXid_);
  desktopXid_ = 0;
  // The server destroyed every window inside the desktop's: they exist in the tree only now.
  std::vector<Window*> inside;
  for (Window* w : LiveWindows()) {
    if (w->foreign || w == Desktop()) continue;
    Window* top = TopLevelOf(w);
    if (top->foreign) {
      byXid_.erase(static_cast<::Window>(w->native));
      w->native = 0;
      w->nativeShown = false;
      if (w->parent && w->parent->foreign) inside.push_back(w);
    }
  }
  presenter_.ForgetPending();
  // Each becomes a top-level window where it was; WindowReparented makes its X windows anew.
  for (Window* w : inside) DetachFromParent(w);
  if (proxies[0]) ForgetForeign(proxies[0]);
  for (HWND& h : shell_) h = nullptr;
}

// ---- realising windows ----

X11WindowSystem::Window* X11WindowSystem::FromXid(::Window xid) {
  auto it = byXid_.find(xid);
  return it == byXid_.end() ? nullptr : it->second;
}

::Window X11WindowSystem::NativeOf(HWND hwnd) {
  Window* w = Find(hwnd);
  return w ? static_cast<::Window>(w->native) : 0;
}

::Window X11WindowSystem::ParentXid(Window* w) {
  if (!w->parent || w->parent == Desktop() || !w->parent->native) return x_.root();
  return static_cast<::Window>(w->parent->native);
}

void X11WindowSystem::Realize(Window* w) {
  if (w->foreign || w->native || w->dead || w == Desktop()) return;
  Display* dpy = x_.display();
  XSetWindowAttributes a{};
  // No background: nothing is cleared under a frame about to be drawn. The colormap and border pixel are
  // given because the desktop's window (the parent) may use another visual than this one.
  a.background_pixmap = None;
  a.border_pixel = 0;
  a.colormap = x_.colormap();
  a.bit_gravity = NorthWestGravity;
  a.event_mask = kEventMask | (w->parent == Desktop() ? FocusChangeMask : 0);
  const ::Window xid =
      XCreateWindow(dpy, ParentXid(w), w->x, w->y, static_cast<unsigned>(std::max(1, w->width)),
                    static_cast<unsigned>(std::max(1, w->height)), 0, x_.depth(), InputOutput, x_.visual(),
                    CWBackPixmap | CWBorderPixel | CWColormap | CWBitGravity | CWEventMask, &a);
  if (!xid) return;
  w->native = xid;
  w->nativeShown = false;
  byXid_[xid] = w;
  // X puts a new window on top of its siblings; among the program's own windows the tree's order holds.
  if (w->parent && w->parent != Desktop() && !w->parent->foreign) Restack(w->parent);
  // Every window of the program is named and classed, so that tools (and the end-to-end check) find it.
  XClassHint cls{};
  std::string name = program_invocation_short_name;
  std::string klass = name;
  if (!klass.empty()) klass[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(klass[0])));
  cls.res_name = name.data();
  cls.res_class = klass.data();
  XSetClassHint(dpy, xid, &cls);
  WindowRetitled(w);
  if (w->parent == Desktop()) {
    Atom protocols[] = {x_.atoms().wmDeleteWindow};
    XSetWMProtocols(dpy, xid, protocols, 1);
    const long pid = static_cast<long>(getpid());
    XChangeProperty(dpy, xid, x_.atoms().netWmPid, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    ApplyTopLevelHints(w);
  }
}

void X11WindowSystem::RealizeTree(Window* w) {
  Realize(w);
  // Bottom of the z-order first, so the stacking comes out as in the tree.
  const std::vector<Window*> kids = w->children;
  for (auto it = kids.rbegin(); it != kids.rend(); ++it) {
    if (!(*it)->dead && !(*it)->foreign) RealizeTree(*it);
  }
  UpdateMapping(w);
}

void X11WindowSystem::WindowCreated(Window* w) {
  if (w->foreign) return;
  Realize(w);
}

void X11WindowSystem::WindowDestroyed(Window* w) {
  if (!w->native) return;
  const ::Window xid = static_cast<::Window>(w->native);
  auto it = byXid_.find(xid);
  const bool ours = it != byXid_.end() && it->second == w;
  if (ours) byXid_.erase(it);
  if (!w->foreign && ours) XDestroyWindow(x_.display(), xid);
  w->native = 0;
  w->nativeShown = false;
}

bool X11WindowSystem::Mappable(Window* w) {
  return !w->foreign && w->native && !w->dead && (w->style & WS_VISIBLE) && w->width > 0 && w->height > 0;
}

void X11WindowSystem::UpdateMapping(Window* w) {
  if (w->foreign || !w->native) return;
  const bool want = Mappable(w);
  if (want == w->nativeShown) return;
  Display* dpy = x_.display();
  const ::Window xid = static_cast<::Window>(w->native);
  if (want) {
    if (w->parent == Desktop()) ApplyTopLevelHints(w);
    XMapWindow(dpy, xid);
  } else if (w->parent == Desktop()) {
    XWithdrawWindow(dpy, xid, x_.screen());
  } else {
    XUnmapWindow(dpy, xid);
  }
  w->nativeShown = want;
}

bool X11WindowSystem::IsBackdrop(Window* w) {
  const DWORD frame = WS_CAPTION | WS_THICKFRAME | WS_BORDER;
  return w->parent == Desktop() && !(w->style & frame) && w->x <= 0 && w->y <= 0 &&
         w->x + w->width >= ScreenWidth() && w->y + w->height >= ScreenHeight();
}

void X11WindowSystem::ApplyTopLevelHints(Window* w) {
  if (w->foreign || !w->native || w->parent != Desktop()) return;
  Display* dpy = x_.display();
  const Atoms& a = x_.atoms();
  const ::Window xid = static_cast<::Window>(w->native);
  const bool backdrop = IsBackdrop(w);

  // Where the program put it (a window manager otherwise places new windows as it likes).
  XSizeHints size{};
  size.flags = USPosition | USSize | PPosition | PSize;
  size.x = w->x;
  size.y = w->y;
  size.width = std::max(1, w->width);
  size.height = std::max(1, w->height);
  if ((w->style & WS_CAPTION) && !(w->style & WS_THICKFRAME)) {
    // A window without a sizing frame keeps its size.
    size.flags |= PMinSize | PMaxSize;
    size.min_width = size.max_width = size.width;
    size.min_height = size.max_height = size.height;
  }
  XSetWMNormalHints(dpy, xid, &size);

  XWMHints hints{};
  hints.flags = InputHint | StateHint;
  hints.input = backdrop ? False : True;  // a click on the backdrop never raises it or takes the focus
  hints.initial_state = NormalState;
  XSetWMHints(dpy, xid, &hints);

  MotifHints motif = FrameHints(w->style);
  XChangeProperty(dpy, xid, a.motifWmHints, a.motifWmHints, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&motif), 5);

  const bool dialog = (w->exStyle & WS_EX_DLGMODALFRAME) || ((w->style & WS_CAPTION) && w->owner);
  const Atom type = dialog ? a.netWmWindowTypeDialog : a.netWmWindowTypeNormal;
  XChangeProperty(dpy, xid, a.netWmWindowType, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&type), 1);

  // Owned windows and tool windows have no taskbar button on Windows.
  const bool noButton =
      backdrop || (w->exStyle & WS_EX_TOOLWINDOW) || (w->owner && !(w->exStyle & WS_EX_APPWINDOW));
  std::vector<Atom> state;
  if (noButton) {
    state.push_back(a.netWmStateSkipTaskbar);
    state.push_back(a.netWmStateSkipPager);
  }
  if (backdrop) {
    state.push_back(a.netWmStateBelow);
    state.push_back(a.netWmStateSticky);
  }
  const Atom all[] = {a.netWmStateSkipTaskbar, a.netWmStateSkipPager, a.netWmStateBelow, a.netWmStateSticky};
  if (w->nativeShown) {
    // A mapped window's state belongs to the window manager: ask it for each change.
    for (Atom s : all) {
      const bool on = std::find(state.begin(), state.end(), s) != state.end();
      XEvent e{};
      e.xclient.type = ClientMessage;
      e.xclient.window = xid;
      e.xclient.message_type = a.netWmState;
      e.xclient.format = 32;
      e.xclient.data.l[0] = on ? 1 : 0;
      e.xclient.data.l[1] = static_cast<long>(s);
      e.xclient.data.l[3] = 1;
      XSendEvent(dpy, x_.root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    }
  } else {
    XChangeProperty(dpy, xid, a.netWmState, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(state.data()), static_cast<int>(state.size()));
  }
  // Kept above its owner while the owner is on the screen.
  Window* owner = w->owner;
  if (owner && owner->native && owner->nativeShown)
    XSetTransientForHint(dpy, xid, static_cast<::Window>(owner->native));
  else
    XDeleteProperty(dpy, xid, a.wmTransientFor);
}

void X11WindowSystem::WindowShown(Window* w) {
  UpdateMapping(w);
}

void X11WindowSystem::WindowPlaced(Window* w, bool moved, bool sized, bool reordered) {
  if (w->foreign || !w->native) return;
  if (moved || sized) {
    if (w->parent == Desktop() && !sized) ApplyTopLevelHints(w);
    XMoveResizeWindow(x_.display(), static_cast<::Window>(w->native), w->x, w->y,
                      static_cast<unsigned>(std::max(1, w->width)),
                      static_cast<unsigned>(std::max(1, w->height)));
    if (sized) {
      if (w->parent == Desktop()) ApplyTopLevelHints(w);
      UpdateMapping(w);
    }
  }
  if (reordered && w->parent && w->parent != Desktop()) Restack(w->parent);
}

void X11WindowSystem::Restack(Window* parent) {
  std::vector<::Window> order;  // top first
  for (Window* c : parent->children) {
    if (!c->dead && !c->foreign && c->native) order.push_back(static_cast<::Window>(c->native));
  }
  if (order.size() > 1) XRestackWindows(x_.display(), order.data(), static_cast<int>(order.size()));
}

void X11WindowSystem::WindowReparented(Window* w) {
  if (w->foreign) return;
  if (!w->native) {
    // Its X windows went with a parent of another program's: make them again where it is now.
    RealizeTree(w);
    if (w->parent && w->parent != Desktop()) Restack(w->parent);
    return;
  }
  Display* dpy = x_.display();
  const ::Window xid = static_cast<::Window>(w->native);
  const bool wasShown = w->nativeShown;
  // A window changing between top-level and child is taken off the screen while its hints change.
  if (wasShown) {
    XUnmapWindow(dpy, xid);
    w->nativeShown = false;
  }
  XReparentWindow(dpy, xid, ParentXid(w), w->x, w->y);
  if (w->parent == Desktop()) {
    XSelectInput(dpy, xid, kEventMask | FocusChangeMask);
    ApplyTopLevelHints(w);
  }
  UpdateMapping(w);
  if (w->parent && w->parent != Desktop()) Restack(w->parent);
}

void X11WindowSystem::WindowRestyled(Window* w, int) {
  if (w->foreign || !w->native || w->parent != Desktop()) return;
  ApplyTopLevelHints(w);
  UpdateMapping(w);
}

void X11WindowSystem::WindowRetitled(Window* w) {
  if (w->foreign || !w->native) return;
  Display* dpy = x_.display();
  const ::Window xid = static_cast<::Window>(w->native);
  XStoreName(dpy, xid, w->text.c_str());
  XChangeProperty(dpy, xid, x_.atoms().netWmName, x_.atoms().utf8String, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(w->text.data()), static_cast<int>(w->text.size()));
}

// ---- presenting ----

void X11WindowSystem::ScreenChanged(HWND window, const RECT& r) {
  auto put = [&](Window* w) {
    if (!w || w->foreign || !w->native || !w->nativeShown) return;
    const POINT o = ScreenOrigin(w);
    const LONG left = std::max<LONG>(r.left, o.x), top = std::max<LONG>(r.top, o.y);
    const LONG right = std::min<LONG>(r.right, o.x + w->width),
               bottom = std::min<LONG>(r.bottom, o.y + w->height);
    if (left >= right || top >= bottom) return;
    presenter_.Put(static_cast<::Window>(w->native), left, top, left - o.x, top - o.y, right - left,
                   bottom - top);
  };
  if (window) {
    put(Find(window));
  } else {
    for (Window* w : LiveWindows()) put(w);
  }
  XFlush(x_.display());
}

int X11WindowSystem::ReleaseDC(HWND hwnd, HDC dc) {
  const int r = WindowTree::ReleaseDC(hwnd, dc);
  // Only a window's own context shows; the screen's (no window) is used for measuring.
  if (Window* w = hwnd ? Find(hwnd) : nullptr) {
    const POINT o = ScreenOrigin(w);
    ScreenChanged(hwnd, RECT{o.x, o.y, o.x + w->width, o.y + w->height});
  }
  return r;
}

void X11WindowSystem::WaitForRefresh() {
  ++refreshWaits_;
  // The buffer is about to change: copies the server is still reading from it finish first. A copy into a
  // window that vanished is never reported, so this does not wait for ever.
  const std::int64_t putsDeadline = NowUs() + 50000;
  while (presenter_.PendingPuts() > 0 && NowUs() < putsDeadline) Pump(MsUntil(putsDeadline));
  if (presenter_.PendingPuts() > 0) presenter_.ForgetPending();

  if (presentUsable_) {
    const std::uint32_t serial = ++presentSerial_;
    XPresentNotifyMSC(x_.display(), x_.root(), serial, 0, 1, 0);
    XFlush(x_.display());
    // A blanked screen may refresh once a second only; longer than that means no notification comes.
    const std::int64_t deadline = NowUs() + 1100000;
    while (presentDone_ != serial && NowUs() < deadline) Pump(MsUntil(deadline));
    if (presentDone_ == serial) {
      ++presentedRefreshes_;
      presentFailures_ = 0;
      return;
    }
    if (++presentFailures_ >= 3) SuspendPresent();
    return;
  }
  if (presentAvailable_ && presentWanted_) TryPresentAgain();
  const double rate = x_.refreshRate() > 0 ? x_.refreshRate() : 60.0;
  const std::int64_t period = static_cast<std::int64_t>(1000000.0 / rate);
  const std::int64_t now = NowUs();
  // Refreshes at a steady period; a late caller waits for the next one after now.
  if (nextTimerRefreshUs_ <= now) {
    const std::int64_t behind = nextTimerRefreshUs_ > 0 ? (now - nextTimerRefreshUs_) / period + 1 : 1;
    nextTimerRefreshUs_ = (nextTimerRefreshUs_ > 0 ? nextTimerRefreshUs_ : now) + behind * period;
  }
  while (NowUs() < nextTimerRefreshUs_) Pump(MsUntil(nextTimerRefreshUs_));
  nextTimerRefreshUs_ += period;
}

void X11WindowSystem::SuspendPresent() {
  presentUsable_ = false;
  presentTrial_ = 0;
  nextPresentTrialUs_ = NowUs() + presentRetryUs_;
}

// While the timer paces: asks for one notification now and then and goes back to the display's own
// refreshes once one arrives; nothing waits for it.
void X11WindowSystem::TryPresentAgain() {
  if (presentTrial_ != 0 && presentDone_ == presentTrial_) {
    presentTrial_ = 0;
    presentFailures_ = 0;
    presentUsable_ = true;  // from the next wait on
    return;
  }
  const std::int64_t now = NowUs();
  if (now < nextPresentTrialUs_) return;
  presentTrial_ = ++presentSerial_;
  XPresentNotifyMSC(x_.display(), x_.root(), presentTrial_, 0, 1, 0);
  XFlush(x_.display());
  nextPresentTrialUs_ = now + presentRetryUs_;
}

// ---- input ----

void X11WindowSystem::TakeSignals() {
  if (wakeRead_ >= 0) {
    char buf[64];
    while (read(wakeRead_, buf, sizeof buf) > 0) {
    }
  }
  if (g_quitSignal) {
    g_quitSignal = 0;
    PostQuitMessage(0);
    if (gtk_) gtk_->CancelModal();
  }
}

bool X11WindowSystem::SleepUntilInput(int waitMs) {
  pollfd fds[2] = {{x_.fd(), POLLIN, 0}, {wakeRead_, POLLIN, 0}};
  const int n = poll(fds, wakeRead_ >= 0 ? 2 : 1, waitMs);
  return n > 0;
}

void X11WindowSystem::Pump(int waitMs) {
  Display* dpy = x_.display();
  if (waitMs != 0 && !g_quitSignal && XEventsQueued(dpy, QueuedAfterFlush) == 0) SleepUntilInput(waitMs);
  TakeSignals();
  while (XPending(dpy) > 0) {
    XEvent e;
    XNextEvent(dpy, &e);
    Handle(e);
  }
}

void X11WindowSystem::CollectInput() {
  Pump(0);
  if (gtk_) gtk_->Drain();
}

BOOL X11WindowSystem::GetMessage(MSG* msg, HWND filter, UINT min, UINT max) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  for (;;) {
    if (PeekMessage(msg, filter, min, max, PM_REMOVE)) return msg->message == WM_QUIT ? 0 : 1;
    if (gtk_ && gtk_->Started())
      gtk_->Wait();
    else
      Pump(-1);
  }
}

BOOL X11WindowSystem::WaitMessage() {
  MSG m;
  while (!PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE)) {
    if (gtk_ && gtk_->Started())
      gtk_->Wait();
    else
      Pump(-1);
  }
  return 1;
}

BOOL X11WindowSystem::GetCursorPos(POINT* point) {
  if (!point) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ::Window root = 0, child = 0;
  int rx = 0, ry = 0, wx = 0, wy = 0;
  unsigned mask = 0;
  if (XQueryPointer(x_.display(), x_.root(), &root, &child, &rx, &ry, &wx, &wy, &mask)) cursor_ = {rx, ry};
  *point = cursor_;
  return 1;
}

void X11WindowSystem::Handle(XEvent& e) {
  if (presenter_.TakeEvent(e)) return;
  Display* dpy = x_.display();
  if (e.type == GenericEvent) {
    if (e.xcookie.extension == x_.presentOpcode() && XGetEventData(dpy, &e.xcookie)) {
      const auto* done = static_cast<const XPresentCompleteNotifyEvent*>(e.xcookie.data);
      if (done->evtype == PresentCompleteNotify && done->serial_number == presentSerial_)
        presentDone_ = done->serial_number;
      XFreeEventData(dpy, &e.xcookie);
    }
    return;
  }
  const ::Window xid = e.xany.window;
  if (e.type == DestroyNotify) {
    const ::Window gone = e.xdestroywindow.window;
    if (gone == desktopXid_) {
      DesktopGone();
      return;
    }
    Window* w = FromXid(gone);
    if (!w) return;
    if (TopLevelOf(w)->foreign) {
      DesktopGone();
      return;
    }
    // Destroyed by someone else: the tree keeps the window, it is no longer shown.
    byXid_.erase(gone);
    w->native = 0;
    w->nativeShown = false;
    return;
  }
  Window* w = FromXid(xid);
  if (!w) return;
  if (e.type == ConfigureNotify && xid == desktopXid_) return;
  const HWND h = HandleOf(w);
  auto enabled = [this](Window* v) {
    for (; v && v != Desktop(); v = v->parent) {
      if (v->style & WS_DISABLED) return false;
    }
    return true;
  };
  switch (e.type) {
    case Expose: {
      const RECT r{e.xexpose.x, e.xexpose.y, e.xexpose.x + e.xexpose.width, e.xexpose.y + e.xexpose.height};
      Invalidate(w, &r, false);
      return;
    }
    case ButtonPress:
    case ButtonRelease: {
      cursor_ = {e.xbutton.x_root, e.xbutton.y_root};
      const bool down = e.type == ButtonPress;
      UINT message = 0;
      WPARAM keys = MouseKeys(e.xbutton.state);
      switch (e.xbutton.button) {
        case Button1:
          message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
          keys = down ? keys | MK_LBUTTON : keys & ~MK_LBUTTON;
          break;
        case Button2:
          message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
          keys = down ? keys | MK_MBUTTON : keys & ~MK_MBUTTON;
          break;
        case Button3:
          message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
          keys = down ? keys | MK_RBUTTON : keys & ~MK_RBUTTON;
          break;
        default:
          return;  // wheel and extra buttons: nothing of the program's
      }
      if (!enabled(w)) return;
      PostMessage(h, message, keys, MAKEPOINTLPARAM(e.xbutton.x, e.xbutton.y));
      return;
    }
    case MotionNotify: {
      // Only the latest position matters, of the moves that come straight after this one: a move queued
      // behind a button press or a key must stay behind it.
      while (XEventsQueued(dpy, QueuedAlready) > 0) {
        XEvent next;
        XPeekEvent(dpy, &next);
        if (next.type != MotionNotify || next.xmotion.window != xid) break;
        XNextEvent(dpy, &e);
      }
      cursor_ = {e.xmotion.x_root, e.xmotion.y_root};
      if (enabled(w))
        PostMessage(h, WM_MOUSEMOVE, MouseKeys(e.xmotion.state), MAKEPOINTLPARAM(e.xmotion.x, e.xmotion.y));
      return;
    }
    case KeyPress:
    case KeyRelease: {
      const WPARAM vk = VirtualKey(XLookupKeysym(&e.xkey, 0));
      if (!vk) return;
      // Keys go to the window with the focus when it lies in the window the display gave them to.
      HWND target = h;
      if (Window* f = Find(GetFocus()); f && TopLevelOf(f) == TopLevelOf(w)) target = HandleOf(f);
      if (!enabled(Find(target))) return;
      PostMessage(target, e.type == KeyPress ? WM_KEYDOWN : WM_KEYUP, vk,
                  e.type == KeyPress ? 1 : 0xC0000001);
      return;
    }
    case ConfigureNotify: {
      if (w->parent != Desktop()) return;  // children move only when the program moves them
      int rx = e.xconfigure.x, ry = e.xconfigure.y;
      if (!e.xconfigure.send_event) {
        // A real event gives the place in the window manager's frame; the tree keeps screen positions.
        ::Window child = 0;
        if (!XTranslateCoordinates(dpy, xid, x_.root(), 0, 0, &rx, &ry, &child)) return;
      }
      const int width = w->width == 0 && e.xconfigure.width == 1 ? 0 : e.xconfigure.width;
      const int height = w->height == 0 && e.xconfigure.height == 1 ? 0 : e.xconfigure.height;
      PlaceFromOutside(w, rx, ry, width, height);
      return;
    }
    case ClientMessage:
      if (e.xclient.message_type == x_.atoms().wmProtocols &&
          static_cast<Atom>(e.xclient.data.l[0]) == x_.atoms().wmDeleteWindow) {
        // The close box: as the system menu's Close on Windows.
        PostMessage(h, WM_SYSCOMMAND, SC_CLOSE, 0);
      }
      return;
    case FocusIn:
      if (e.xfocus.mode == NotifyNormal || e.xfocus.mode == NotifyWhileGrabbed) ActivateApp(true);
      return;
    case FocusOut: {
      if (e.xfocus.mode != NotifyNormal || e.xfocus.detail == NotifyInferior) return;
      // Focus moving to another of the program's windows keeps the program active.
      ::Window focus = 0;
      int revert = 0;
      XGetInputFocus(dpy, &focus, &revert);
      if (!FromXid(focus)) ActivateApp(false);
      return;
    }
    default:
      return;
  }
}

// ---- menus and message boxes ----

int X11WindowSystem::MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
  if (owner && !Require(owner)) return 0;
  if ((type & MB_TYPEMASK) > MB_CANCELTRYCONTINUE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return Gtk().MessageBox(owner, text ? text : "", caption ? caption : "Error", type);
}

BOOL X11WindowSystem::TrackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner) {
  return RunMenuLoop(menu, flags, owner, [&](Menu* m, Window*, bool notify) -> UINT {
    return m->dead ? 0 : Gtk().TrackMenu(m, x, y, notify ? owner : nullptr);
  });
}

}  // namespace plat::x11
