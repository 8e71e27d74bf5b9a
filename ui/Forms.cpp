#include "ui/Forms.h"

#include <algorithm>

#include "core/Consts.h"
#include "core/FormReader.h"
#include "core/PropTable.h"
#include "platform/Platform.h"
#include "ui/Menus.h"

TApplication* Application = nullptr;

// --- TCustomForm

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
  visible_ = false;
  width_ = 320;
  height_ = 240;
}

TCustomForm::~TCustomForm() {
  // Normally gone already (BeforeDestruction); a form deleted directly still loses its window here.
  DestroyHandle();
}

void TCustomForm::BeforeDestruction() {
  TWinControl::BeforeDestruction();
  if (OnDestroy) {
    try {
      OnDestroy(this);
    } catch (...) {
      if (Application) Application->HandleException(this);
    }
  }
  // The window goes while the form and its components are whole, so hooks on it see WM_DESTROY in time.
  DestroyHandle();
}

void TCustomForm::AfterConstruction() {
  const std::string* text = FindFormText(ClassName());
  if (text) {
    ReadComponentFromText(this, *text);
  } else if (ClassName() != std::string(TForm::StaticClassName()) &&
             ClassName() != std::string(TCustomForm::StaticClassName())) {
    throw EResNotFound(Format(SNoFormResource, std::string(ClassName())));
  }
  DoCreate();
}

void TCustomForm::DoCreate() {
  if (!OnCreate) return;
  try {
    OnCreate(this);
  } catch (...) {
    if (!Application) throw;
    Application->HandleException(this);
  }
}

void TCustomForm::SetBorderStyle(TFormBorderStyle v) {
  if (borderStyle_ == v) return;
  borderStyle_ = v;
  if (HandleAllocated()) {
    // The window style changes with the border; make the window again under the new style.
    bool wasShowing = Showing();
    DestroyHandle();
    if (wasShowing) UpdateShowing();
  }
}

void TCustomForm::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  Params.Style = plat::WS_CLIPCHILDREN | plat::WS_CLIPSIBLINGS;
  if (parentWindow_) {
    // Inside a foreign window: a child of it, positioned in its client area.
    Params.Style |= plat::WS_CHILD;
    Params.WndParent = parentWindow_;
  } else {
    Params.WndParent = Application ? Application->Handle() : nullptr;
    switch (borderStyle_) {
      case TFormBorderStyle::bsNone:
        Params.Style |= plat::WS_POPUP;
        break;
      case TFormBorderStyle::bsSingle:
      case TFormBorderStyle::bsToolWindow:
        Params.Style |= plat::WS_CAPTION | plat::WS_SYSMENU | plat::WS_BORDER | plat::WS_MINIMIZEBOX;
        break;
      case TFormBorderStyle::bsDialog:
        Params.Style |= plat::WS_POPUP | plat::WS_CAPTION | plat::WS_SYSMENU;
        Params.ExStyle |= plat::WS_EX_DLGMODALFRAME;
        break;
      case TFormBorderStyle::bsSizeable:
      case TFormBorderStyle::bsSizeToolWin:
        Params.Style |= plat::WS_OVERLAPPEDWINDOW;
        break;
    }
    if (borderStyle_ == TFormBorderStyle::bsToolWindow || borderStyle_ == TFormBorderStyle::bsSizeToolWin)
      Params.ExStyle |= plat::WS_EX_TOOLWINDOW;
  }
  if (!Enabled()) Params.Style |= plat::WS_DISABLED;
}

bool TCustomForm::IsShowingWanted() const {
  if (!visible_) return false;
  if (parent_) return parent_->Showing();
  return true;
}

void TCustomForm::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case plat::WM_CLOSE:
      Close();
      Message.Result = 0;
      return;
    case CM_RELEASE:
      FreeComponent(this);
      return;
    case plat::WM_QUERYNEWPALETTE:
      Message.Result = PaletteChanged(true) ? 1 : 0;
      return;
    case plat::WM_PALETTECHANGED:
      // The window that realised the new palette needs no telling.
      Message.Result = 0;
      if (reinterpret_cast<plat::HWND>(Message.WParam) != handle_) PaletteChanged(false);
      return;
    default:
      TWinControl::WndProc(Message);
  }
}

bool TCustomForm::CloseQuery() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  return canClose;
}

void TCustomForm::Close() {
  if (!CloseQuery()) return;
  TCloseAction action = TCloseAction::caHide;
  if (OnClose) OnClose(this, action);
  if (action == TCloseAction::caNone) return;
  if (Application && Application->MainForm() == this) {
    Application->Terminate();
  } else if (action == TCloseAction::caFree) {
    Release();
  } else {
    Hide();
  }
}

void TCustomForm::Release() {
  plat::Windows().PostMessage(Handle(), CM_RELEASE, 0, 0);
}

// --- TApplication

plat::LRESULT ApplicationWindowProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                                    plat::LPARAM lParam) {
  TApplication* app = Application;
  if (!app || (app->handle_ && app->handle_ != hwnd))
    return plat::Windows().DefWindowProc(hwnd, msg, wParam, lParam);
  if (!app->handle_) app->handle_ = hwnd;  // messages sent during creation
  TMessage m{msg, wParam, lParam, 0};
  try {
    app->WndProc(m);
  } catch (...) {
    app->HandleException(app);
  }
  if (msg == plat::WM_NCDESTROY) app->handle_ = nullptr;
  return m.Result;
}

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {}

TApplication::~TApplication() {
  // Forms first: their windows are owned by the application window.
  Destroying();
  DestroyComponents();
  mainForm_ = nullptr;
  if (handle_ && plat::CurrentServices().windows) plat::Windows().DestroyWindow(handle_);
  handle_ = nullptr;
  if (Application == this) Application = nullptr;
}

void TApplication::Initialize() {
  Handle();
}

plat::HWND TApplication::Handle() {
  if (handle_) return handle_;
  plat::WindowSystem& ws = plat::Windows();
  const char* cls = "TApplication";
  plat::WNDCLASS existing{};
  if (!ws.GetClassInfo(nullptr, cls, &existing)) {
    plat::WNDCLASS wc{};
    wc.lpfnWndProc = &ApplicationWindowProc;
    wc.lpszClassName = cls;
    ws.RegisterClass(wc);
  }
  // A zero-sized visible window at the screen's centre: it stands for the program on the taskbar.
  plat::HWND h = ws.CreateWindowEx(0, cls, title_.c_str(),
                                   plat::WS_POPUP | plat::WS_CAPTION | plat::WS_CLIPSIBLINGS |
                                       plat::WS_SYSMENU | plat::WS_MINIMIZEBOX | plat::WS_VISIBLE,
                                   ws.GetSystemMetrics(plat::SM_CXSCREEN) / 2,
                                   ws.GetSystemMetrics(plat::SM_CYSCREEN) / 2, 0, 0, nullptr, nullptr, this);
  if (!h) RaiseLastOSError();
  handle_ = h;
  return handle_;
}

void TApplication::SetTitle(const std::string& v) {
  title_ = v;
  if (handle_) plat::Windows().SetWindowText(handle_, v.c_str());
}

void TApplication::AfterFormCreated(TCustomForm* Form) {
  if (!mainForm_) {
    mainForm_ = Form;
    Form->HandleNeeded();
  }
}

void TApplication::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove && AComponent == mainForm_) mainForm_ = nullptr;
}

int TApplication::HookMainWindow(TWindowHook Hook) {
  // Ids are unique for the process, so a stale id never removes another application's hook.
  static int nextHookId = 1;
  int id = nextHookId++;
  hooks_.push_back({id, std::move(Hook)});
  return id;
}

void TApplication::UnhookMainWindow(int Id) {
  hooks_.erase(std::remove_if(hooks_.begin(), hooks_.end(), [Id](const Hook& h) { return h.id == Id; }),
               hooks_.end());
}

void TApplication::WndProc(TMessage& Message) {
  // Hooks may unhook themselves (or others) while running: walk a copy, skip removed ones.
  std::vector<Hook> hooks = hooks_;
  for (const Hook& h : hooks) {
    bool still = std::any_of(hooks_.begin(), hooks_.end(), [&](const Hook& x) { return x.id == h.id; });
    if (still && h.fn(Message)) return;
  }
  plat::WindowSystem& ws = plat::Windows();
  switch (Message.Msg) {
    case plat::WM_ACTIVATEAPP:
      Message.Result = ws.DefWindowProc(handle_, Message.Msg, Message.WParam, Message.LParam);
      active_ = Message.WParam != 0;
      ws.PostMessage(handle_, active_ ? CM_ACTIVATE : CM_DEACTIVATE, 0, 0);
      return;
    case CM_ACTIVATE:
      if (OnActivate) OnActivate(this);
      return;
    case CM_DEACTIVATE:
      if (OnDeactivate) OnDeactivate(this);
      return;
    case plat::WM_COMMAND:
      if (plat::HIWORD(Message.WParam) == 0 && DispatchMenuCommand(plat::LOWORD(Message.WParam))) return;
      break;
    case plat::WM_CLOSE:
      if (mainForm_) mainForm_->Close();
      return;
    case plat::WM_QUERYNEWPALETTE:
    case plat::WM_PALETTECHANGED:
      // The system tells top-level windows only; the main form may be a child of another program's window.
      if (mainForm_ && mainForm_->HandleAllocated()) {
        Message.Result = mainForm_->Perform(Message.Msg, Message.WParam, Message.LParam);
        return;
      }
      break;
    default:
      break;
  }
  Message.Result = ws.DefWindowProc(handle_, Message.Msg, Message.WParam, Message.LParam);
}

bool TApplication::ProcessMessage() {
  plat::WindowSystem& ws = plat::Windows();
  plat::MSG msg{};
  if (!ws.PeekMessage(&msg, nullptr, 0, 0, plat::PM_REMOVE)) return false;
  if (msg.message == plat::WM_QUIT) {
    terminated_ = true;
    return true;
  }
  ws.TranslateMessage(&msg);
  ws.DispatchMessage(&msg);
  return true;
}

void TApplication::Idle() {
  bool done = true;
  try {
    // A copy: the handler may replace or clear the slot while it runs (a timer disarming itself).
    TIdleEvent handler = OnIdle;
    if (handler) handler(this, done);
  } catch (...) {
    HandleException(this);
  }
  // A backend that can prove no message will ever come says so instead of blocking (the soft one).
  if (done && !plat::Windows().WaitMessage()) starved_ = true;
}

void TApplication::HandleMessage() {
  if (!ProcessMessage()) Idle();
}

void TApplication::ProcessMessages() {
  while (ProcessMessage()) {
  }
}

void TApplication::Run() {
  if (mainForm_ && ShowMainForm) mainForm_->Show();
  starved_ = false;
  while (!terminated_) {
    try {
      HandleMessage();
    } catch (...) {
      HandleException(this);
    }
    // Nothing can ever wake a blocked loop: end instead of spinning.
    if (starved_) break;
  }
}

int TApplication::RunFor(int Passes) {
  int n = 0;
  for (; n < Passes && !terminated_; ++n) {
    try {
      HandleMessage();
    } catch (...) {
      HandleException(this);
    }
  }
  return n;
}

bool TApplication::ProcessMessagesUntil(const std::function<bool()>& Condition, int MaxPasses) {
  for (int n = 0; n < MaxPasses; ++n) {
    if (Condition()) return true;
    if (terminated_) break;
    try {
      HandleMessage();
    } catch (...) {
      HandleException(this);
    }
  }
  return Condition();
}

void TApplication::Terminate() {
  plat::Windows().PostQuitMessage(0);
}

void TApplication::HandleException(TObject*) {
  std::exception_ptr e = std::current_exception();
  if (!e) return;
  try {
    std::rethrow_exception(e);
  } catch (const EAbort&) {
  } catch (const Exception& ex) {
    ShowException(ex.Message);
  } catch (const std::exception& ex) {
    ShowException(ex.what());
  } catch (...) {
    ShowException(SUnknownException);
  }
}

void TApplication::ShowException(const std::string& Message) {
  ++errorReports_;
  MessageBox(ErrorReportText(Message), title_, plat::MB_OK | plat::MB_ICONERROR);
}

int TApplication::MessageBox(const std::string& Text, const std::string& Caption, plat::UINT Flags) {
  return plat::Windows().MessageBox(Handle(), Text.c_str(), Caption.c_str(), Flags);
}

void RegisterFormClasses() {
  RegisterControlClasses();
  RegisterMenuClasses();
  RegisterClass<TCustomForm>(TWinControl::StaticClassName())
      .Enum("BorderStyle", {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin"},
            [](TCustomForm& f, int v) { f.SetBorderStyle(static_cast<TFormBorderStyle>(v)); })
      .Event<TNotifyEvent>("OnCreate", [](TCustomForm& f, TNotifyEvent e) { f.OnCreate = std::move(e); })
      .Event<TNotifyEvent>("OnDestroy", [](TCustomForm& f, TNotifyEvent e) { f.OnDestroy = std::move(e); })
      .Event<TCloseEvent>("OnClose", [](TCustomForm& f, TCloseEvent e) { f.OnClose = std::move(e); })
      .Event<TCloseQueryEvent>("OnCloseQuery",
                               [](TCustomForm& f, TCloseQueryEvent e) { f.OnCloseQuery = std::move(e); });
  // Stored by the designer; nothing at run time depends on them.
  auto& form = RegisterClassInfo(TCustomForm::StaticClassName(), "");
  for (const char* ignored : {"PixelsPerInch", "TextHeight", "OldCreateOrder", "Scaled"})
    form.AddProp(ignored,
                 TPropInfo{TPropInfo::Kind::Value, [](TPersistent&, const TReadValue&) {}, {}, {}, {}, {}});
  RegisterClass<TForm>(TCustomForm::StaticClassName());
}
