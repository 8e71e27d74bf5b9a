// Forms and the application object: the hidden application window, the message loop with its one idle
// handler, application-window hooks, the active state and the error report.
#pragma once

#include <exception>
#include <functional>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "ui/Controls.h"

DS_DECLARE_EXCEPTION(EResNotFound, Exception);

enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum class TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;

// Posted to a form's own window to free it once the current message is done.
constexpr plat::UINT CM_RELEASE = 0xB021;

class TCustomForm : public TWinControl {
  DS_CLASS_NAME(TCustomForm)
 public:
  explicit TCustomForm(TComponent* AOwner);
  ~TCustomForm() override;

  // The second construction step, run by whoever creates the form (TApplication::CreateForm, CreateForm<T>):
  // reads the stored description registered for the form's class, then raises OnCreate. An error escaping
  // OnCreate is reported through the application's error report and the rest of the handler is skipped.
  virtual void AfterConstruction();
  // OnDestroy, then the window goes (its WM_DESTROY still reaches a whole form and its components).
  void BeforeDestruction() override;

  TFormBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle v);
  // Asks OnCloseQuery, then OnClose; the main form's close terminates the application.
  void Close();
  bool CloseQuery();
  // Frees the form after the message being handled.
  void Release();

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;

 protected:
  void CreateParams(TCreateParams& Params) override;
  void WndProc(TMessage& Message) override;
  bool IsShowingWanted() const override;
  virtual void DoCreate();

 private:
  TFormBorderStyle borderStyle_ = TFormBorderStyle::bsSizeable;
};

class TForm : public TCustomForm {
  DS_CLASS_NAME(TForm)
 public:
  explicit TForm(TComponent* AOwner) : TCustomForm(AOwner) {}
};

// Creates a form of class T: constructor, then AfterConstruction; nothing leaks when either fails.
template <typename T>
T* CreateForm(TComponent* Owner) {
  T* form = new T(Owner);
  try {
    form->AfterConstruction();
  } catch (...) {
    FreeComponent(form);
    throw;
  }
  return form;
}

using TIdleEvent = std::function<void(TObject* Sender, bool& Done)>;
// Sees every message of the application window before the application; true consumes it.
using TWindowHook = std::function<bool(TMessage& Message)>;

// Posted to the application window when the program becomes active / inactive.
constexpr plat::UINT CM_ACTIVATE = 0xB000;
constexpr plat::UINT CM_DEACTIVATE = 0xB001;

class TApplication : public TComponent {
  DS_CLASS_NAME(TApplication)
 public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;

  // Creates the application window.
  void Initialize();
  // The application window's text and the caption of every message box.
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& v);
  // The hidden top-level application window (created on demand); it owns the top-level forms.
  plat::HWND Handle();
  bool HandleAllocated() const { return handle_ != nullptr; }
  TCustomForm* MainForm() const { return mainForm_; }
  bool ShowMainForm = true;

  // Writes Reference before the constructor runs, so code called from the construction reaches the form;
  // on failure Reference is reset to null and the error passes on. The first form becomes the main form and
  // gets its window right after construction.
  template <typename T>
  void CreateForm(T*& Reference);

  // Shows the main form, then handles one message per pass (or idles) until terminated.
  void Run();
  void HandleMessage();
  void ProcessMessages();
  void Terminate();
  bool Terminated() const { return terminated_; }
  // Bounded loops for tests on a virtual clock: up to Passes passes of Run's loop (fewer when terminated),
  // returning the passes made; or passes until Condition holds (false when MaxPasses ran out first).
  int RunFor(int Passes);
  bool ProcessMessagesUntil(const std::function<bool()>& Condition, int MaxPasses);

  bool Active() const { return active_; }
  // Hooks of the application window; the id unhooks.
  int HookMainWindow(TWindowHook Hook);
  void UnhookMainWindow(int Id);

  // The error report for the exception being handled (call inside a catch block): a silent abort is
  // ignored, anything else is shown by ShowException.
  void HandleException(TObject* Sender);
  // Message box owned by the application window, captioned with the title, error icon, one OK button;
  // the text follows ErrorReportText.
  void ShowException(const std::string& Message);
  // How many error reports ShowException has shown, so a run can tell whether anything went wrong.
  int ErrorReportCount() const { return errorReports_; }
  int MessageBox(const std::string& Text, const std::string& Caption, plat::UINT Flags);

  TIdleEvent OnIdle;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  friend plat::LRESULT ApplicationWindowProc(plat::HWND, plat::UINT, plat::WPARAM, plat::LPARAM);
  void WndProc(TMessage& Message);
  bool ProcessMessage();
  void Idle();
  void AfterFormCreated(TCustomForm* Form);

  plat::HWND handle_ = nullptr;
  std::string title_;
  TCustomForm* mainForm_ = nullptr;
  bool terminated_ = false;
  bool starved_ = false;
  bool active_ = true;
  int errorReports_ = 0;
  struct Hook {
    int id;
    TWindowHook fn;
  };
  std::vector<Hook> hooks_;
};

// The application object of the process (null until created).
extern TApplication* Application;

plat::LRESULT ApplicationWindowProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                                    plat::LPARAM lParam);

template <typename T>
void TApplication::CreateForm(T*& Reference) {
  static_assert(std::is_base_of<TCustomForm, T>::value, "CreateForm makes forms");
  void* memory = ::operator new(sizeof(T));
  Reference = static_cast<T*>(memory);
  T* form = nullptr;
  try {
    form = new (memory) T(this);
  } catch (...) {
    ::operator delete(memory);
    Reference = nullptr;
    throw;
  }
  try {
    form->AfterConstruction();
  } catch (...) {
    Reference = nullptr;
    FreeComponent(form);
    throw;
  }
  AfterFormCreated(form);
}

// Registers every framework class for the form reader (idempotent).
void RegisterFormClasses();
