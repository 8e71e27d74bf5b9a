#include "platform/x11/GtkUi.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/x11/X11Connection.h"

namespace plat::x11 {

namespace {

// GLib source over the backend's X connection and signal pipe. Xlib may hold events it has already read,
// so readiness is asked of Xlib as well as of the file descriptor.
struct XSource {
  GSource base;
  GtkUi* ui;
  Display* dpy;
  gpointer xTag;
  gpointer wakeTag;
};

gboolean PrepareX(GSource* s, gint* timeout) {
  *timeout = -1;
  auto* src = reinterpret_cast<XSource*>(s);
  // Also sends what the program asked of the display, before the loop sleeps.
  return XEventsQueued(src->dpy, QueuedAfterFlush) > 0;
}

gboolean CheckX(GSource* s) {
  auto* src = reinterpret_cast<XSource*>(s);
  if (XEventsQueued(src->dpy, QueuedAlready) > 0) return TRUE;
  if (src->xTag && (g_source_query_unix_fd(s, src->xTag) & G_IO_IN)) return TRUE;
  return src->wakeTag && (g_source_query_unix_fd(s, src->wakeTag) & G_IO_IN);
}

gboolean DispatchX(GSource* s, GSourceFunc, gpointer) {
  reinterpret_cast<XSource*>(s)->ui->TakeDisplayInput();
  return G_SOURCE_CONTINUE;
}

GSourceFuncs g_xFuncs = {&PrepareX, &CheckX, &DispatchX, nullptr, nullptr, nullptr};

// The program's 8-bit text as GTK wants it: UTF-8, with bytes that are not UTF-8 shown as replacements.
std::string Utf8(const std::string& s) {
  gchar* valid = g_utf8_make_valid(s.c_str(), static_cast<gssize>(s.size()));
  std::string out = valid ? valid : "";
  g_free(valid);
  return out;
}

// A menu caption: "&x" marks the mnemonic ("_x" in GTK), "&&" is an ampersand, a tab starts the shortcut
// text (not shown).
std::string MenuLabel(const std::string& caption) {
  std::string out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    const char c = caption[i];
    if (c == '\t') break;
    if (c == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') {
        out += '&';
        ++i;
      } else {
        out += '_';
      }
    } else if (c == '_') {
      out += "__";
    } else {
      out += c;
    }
  }
  return Utf8(out);
}

struct BoxButton {
  const char* label;
  int id;
};

std::vector<BoxButton> BoxButtons(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return {{"_OK", IDOK}, {"_Cancel", IDCANCEL}};
    case MB_ABORTRETRYIGNORE:
      return {{"_Abort", IDABORT}, {"_Retry", IDRETRY}, {"_Ignore", IDIGNORE}};
    case MB_YESNOCANCEL:
      return {{"_Yes", IDYES}, {"_No", IDNO}, {"_Cancel", IDCANCEL}};
    case MB_YESNO:
      return {{"_Yes", IDYES}, {"_No", IDNO}};
    case MB_RETRYCANCEL:
      return {{"_Retry", IDRETRY}, {"_Cancel", IDCANCEL}};
    case MB_CANCELTRYCONTINUE:
      return {{"_Cancel", IDCANCEL}, {"_Try Again", IDTRYAGAIN}, {"_Continue", IDCONTINUE}};
    default:
      return {{"_OK", IDOK}};
  }
}

}  // namespace

GtkUi::GtkUi(X11WindowSystem& ws) : ws_(ws) {}

GtkUi::~GtkUi() {
  if (source_) {
    g_source_destroy(source_);
    g_source_unref(source_);
  }
}

bool GtkUi::Start() {
  if (tried_) return started_;
  tried_ = true;
  // The program's number formatting stays in the C locale; the accessibility bridge would look for a
  // session bus a desktop decoration has no use for.
  gtk_disable_setlocale();
  setenv("NO_AT_BRIDGE", "1", 0);
  // Menus and dialogs carry the program's name and class like its other windows.
  g_set_prgname(program_invocation_short_name);
  if (!gtk_init_check(nullptr, nullptr)) return false;
  X11Connection::ReclaimErrorHandlers();
  auto* src = reinterpret_cast<XSource*>(g_source_new(&g_xFuncs, sizeof(XSource)));
  src->ui = this;
  src->dpy = ws_.x_.display();
  src->xTag = g_source_add_unix_fd(&src->base, ws_.x_.fd(), G_IO_IN);
  src->wakeTag = ws_.wakeRead_ >= 0 ? g_source_add_unix_fd(&src->base, ws_.wakeRead_, G_IO_IN) : nullptr;
  g_source_attach(&src->base, nullptr);
  source_ = &src->base;
  started_ = true;
  return true;
}

void GtkUi::TakeDisplayInput() {
  ws_.Pump(0);
}

void GtkUi::Wait() {
  g_main_context_iteration(nullptr, TRUE);
}

void GtkUi::Drain() {
  // Bounded: a source that is always ready must not hold the program here.
  for (int i = 0; i < 64 && g_main_context_iteration(nullptr, FALSE); ++i) {
  }
}

void GtkUi::CancelModal() {
  if (!modal_) return;
  if (GTK_IS_DIALOG(modal_))
    gtk_dialog_response(GTK_DIALOG(modal_), GTK_RESPONSE_CANCEL);
  else if (GTK_IS_MENU_SHELL(modal_))
    gtk_menu_shell_deactivate(GTK_MENU_SHELL(modal_));
}

int GtkUi::MessageBox(HWND, const char* text, const char* caption, UINT type) {
  const std::vector<BoxButton> buttons = BoxButtons(type);
  std::size_t def = (type & MB_DEFMASK) >> 8;
  if (def >= buttons.size()) def = 0;
  // The text also goes to standard error, as in headless runs: a session's log keeps what the user was told.
  std::fprintf(stderr, "[%s] %s\n", caption, text);
  std::fflush(stderr);
  if (!Start()) return buttons[def].id;
  GtkMessageType kind = GTK_MESSAGE_OTHER;
  switch (type & MB_ICONMASK) {
    case MB_ICONERROR:
      kind = GTK_MESSAGE_ERROR;
      break;
    case MB_ICONQUESTION:
      kind = GTK_MESSAGE_QUESTION;
      break;
    case MB_ICONWARNING:
      kind = GTK_MESSAGE_WARNING;
      break;
    case MB_ICONINFORMATION:
      kind = GTK_MESSAGE_INFO;
      break;
    default:
      break;
  }
  GtkWidget* dialog =
      gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, kind, GTK_BUTTONS_NONE, "%s", Utf8(text).c_str());
  g_object_ref_sink(dialog);
  gtk_window_set_title(GTK_WINDOW(dialog), Utf8(caption).c_str());
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  for (const BoxButton& b : buttons) gtk_dialog_add_button(GTK_DIALOG(dialog), b.label, b.id);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), buttons[def].id);
  modal_ = dialog;
  int answer = gtk_dialog_run(GTK_DIALOG(dialog));
  modal_ = nullptr;
  gtk_widget_destroy(dialog);
  g_object_unref(dialog);
  gdk_display_flush(gdk_display_get_default());
  bool known = false;
  for (const BoxButton& b : buttons) known = known || b.id == answer;
  if (!known) {
    // Closed without a button: Cancel where there is one, else the only or default button.
    answer = buttons[def].id;
    for (const BoxButton& b : buttons) {
      if (b.id == IDCANCEL) answer = IDCANCEL;
    }
  }
  return answer;
}

GtkWidget* GtkUi::BuildMenu(X11WindowSystem::Menu* menu, int depth, HWND notify) {
  GtkWidget* shell = gtk_menu_new();
  if (depth > 32) return shell;
  int position = 0;
  for (const X11WindowSystem::MenuItem& item : menu->items) {
    GtkWidget* w = nullptr;
    if (item.type & MFT_SEPARATOR) {
      w = gtk_separator_menu_item_new();
    } else if (item.sub && !item.sub->dead) {
      w = gtk_menu_item_new_with_mnemonic(MenuLabel(item.text).c_str());
      GtkWidget* sub = BuildMenu(item.sub, depth + 1, notify);
      gtk_menu_item_set_submenu(GTK_MENU_ITEM(w), sub);
      if (notify) {
        // As on Windows, the owner hears of each submenu as it opens.
        g_object_set_data(G_OBJECT(sub), "ds-menu", ws_.MenuHandle(item.sub));
        g_object_set_data(G_OBJECT(sub), "ds-position", GINT_TO_POINTER(position));
        g_signal_connect(sub, "show", G_CALLBACK(+[](GtkWidget* sub, gpointer self) {
                           auto* ui = static_cast<GtkUi*>(self);
                           X11WindowSystem::Window* owner = ui->ws_.Find(ui->notify_);
                           if (!owner) return;
                           const int pos = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(sub), "ds-position"));
                           ui->ws_.Send(owner, WM_INITMENUPOPUP,
                                        reinterpret_cast<WPARAM>(g_object_get_data(G_OBJECT(sub), "ds-menu")),
                                        MAKELPARAM(static_cast<WORD>(pos), 0));
                         }),
                         this);
      }
    } else {
      const bool checked = (item.state & MFS_CHECKED) != 0;
      const bool radio = (item.type & MFT_RADIOCHECK) != 0;
      if (checked || radio) {
        w = gtk_check_menu_item_new_with_mnemonic(MenuLabel(item.text).c_str());
        gtk_check_menu_item_set_draw_as_radio(GTK_CHECK_MENU_ITEM(w), radio);
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(w), checked);
      } else {
        w = gtk_menu_item_new_with_mnemonic(MenuLabel(item.text).c_str());
      }
      g_object_set_data(G_OBJECT(w), "ds-command", GUINT_TO_POINTER(item.id));
      g_signal_connect(w, "activate", G_CALLBACK(+[](GtkMenuItem* mi, gpointer self) {
                         static_cast<GtkUi*>(self)->chosen_ =
                             GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(mi), "ds-command"));
                       }),
                       this);
    }
    if (item.state & (MF_GRAYED | MF_DISABLED)) gtk_widget_set_sensitive(w, FALSE);
    gtk_menu_shell_append(GTK_MENU_SHELL(shell), w);
    ++position;
  }
  return shell;
}

UINT GtkUi::TrackMenu(X11WindowSystem::Menu* menu, int x, int y, HWND notify) {
  if (!Start()) return 0;
  notify_ = notify;
  GtkWidget* shell = BuildMenu(menu, 0, notify);
  g_object_ref_sink(shell);
  menuDone_ = false;
  chosen_ = 0;
  g_signal_connect(
      shell, "deactivate",
      G_CALLBACK(+[](GtkMenuShell*, gpointer self) { static_cast<GtkUi*>(self)->menuDone_ = true; }), this);
  gtk_widget_show_all(shell);
  // The menu opens as if from the right button's release at the point, so it takes the pointer and the
  // keyboard and closes on a click elsewhere or Escape.
  GdkWindow* root = gdk_get_default_root_window();
  GdkEvent* trigger = gdk_event_new(GDK_BUTTON_RELEASE);
  trigger->button.window = GDK_WINDOW(g_object_ref(root));
  trigger->button.button = 3;
  trigger->button.time = GDK_CURRENT_TIME;
  trigger->button.x = trigger->button.x_root = x;
  trigger->button.y = trigger->button.y_root = y;
  gdk_event_set_device(trigger,
                       gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
  const GdkRectangle at{x, y, 1, 1};
  modal_ = shell;
  gtk_menu_popup_at_rect(GTK_MENU(shell), root, &at, GDK_GRAVITY_NORTH_WEST, GDK_GRAVITY_NORTH_WEST, trigger);
  gdk_event_free(trigger);
  // A menu that could not take the pointer (another program holds it) never opened.
  if (!gtk_widget_get_visible(shell)) menuDone_ = true;
  while (!menuDone_) g_main_context_iteration(nullptr, TRUE);
  // The chosen item's activation follows the menu's closing.
  Drain();
  modal_ = nullptr;
  gtk_widget_destroy(shell);
  g_object_unref(shell);
  gdk_display_flush(gdk_display_get_default());
  notify_ = nullptr;
  return chosen_;
}

}  // namespace plat::x11
