// Modal forms and the message dialog. A modal form runs the application's own message processing while it
// is up (one message per pass, idle processing when the queue is empty), so the program's idle work, such as
// a frame timer, goes on behind it; the program's other top-level windows are disabled meanwhile.
#pragma once

#include <functional>
#include <string>

#include "ui/Forms.h"

class TButton;
class TLabel;

// Results of a modal form; the button values match the message-box answers.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;

inline constexpr const char* SCannotShowModal = "Cannot make a visible window modal";
inline constexpr const char* SNoApplication = "No application to run a modal loop";

class TModalForm : public TForm {
  DS_CLASS_NAME(TModalForm)
 public:
  explicit TModalForm(TComponent* AOwner);

  int ModalResult() const { return modalResult_; }
  // Ends a running ShowModal with this result (mrNone keeps it running).
  void SetModalResult(int v) { modalResult_ = v; }
  bool Modal() const { return modal_; }

  // Shows the form and handles the application's messages until ModalResult is set, the form is closed
  // (mrCancel), the application is told to terminate (mrCancel) or the platform proves that no message
  // will ever come (mrCancel); then hides the form and enables the windows it disabled. The form must be
  // hidden and enabled to start.
  int ShowModal();

  // The buttons Enter and Escape press: the first with Default / Cancel set, null when none.
  TButton* DefaultButton() const;
  TButton* CancelButton() const;

 protected:
  void WndProc(TMessage& Message) override;
  // Enter and Escape, from the form or from one of its buttons.
  void DialogKey(plat::WPARAM Key);

 private:
  friend class TButton;
  TButton* FindButton(bool wantDefault) const;
  int modalResult_ = mrNone;
  bool modal_ = false;
};

// Called before every pass of every modal loop (Pass 0 comes right after the form was shown): where a test
// or a scripted run looks at the form and posts its dismissal. Returns the hook it replaces.
using TModalLoopHook = std::function<void(TModalForm& Form, int Pass)>;
TModalLoopHook SetModalLoopHook(TModalLoopHook Hook);

// A message dialog: captioned with the application's title, the text above one "OK" button (which both
// Enter and Escape press), no icon, centred on the screen. Made at run time, not from a description.
// It is sized to the text as the dialog font measures it (lines longer than most of the screen wrap
// between words), with the button centred below; its face is the button-face colour.
class TMessageForm : public TModalForm {
  DS_CLASS_NAME(TMessageForm)
 public:
  TMessageForm(TComponent* AOwner, const std::string& Text);

  const std::string& Text() const;
  TLabel* Message() const { return message_; }
  TButton* OkButton() const { return ok_; }

 protected:
  void PaintWindow(plat::HDC DC) override;
  void CreateWnd() override;

 private:
  bool frameAdded_ = false;
  TLabel* message_ = nullptr;
  TButton* ok_ = nullptr;
};

// The message dialog for Text, not yet shown; the caller frees it (FreeComponent).
TMessageForm* CreateMessageDialog(const std::string& Text);
// Shows the message dialog for Text modally and frees it; returns how it was dismissed (mrOk by the
// button, Enter or Escape; mrCancel when closed or when the application ends meanwhile).
int ShowMessageDialog(const std::string& Text);
