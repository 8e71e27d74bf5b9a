#include "app/Unit1.h"

#include <cstring>
#include <memory>

#include "core/Components.h"
#include "core/FormReader.h"
#include "core/PropTable.h"
#include "platform/Platform.h"
#include "platform/System.h"
#include "platform/Windows.h"
#include "ui/Dialogs.h"

TForm1* Form1 = nullptr;

namespace {

// Reads Form1's parts afresh at every call: the surface control's size follows the form's anchoring.
class TFormScene : public ISnowScene {
 public:
  std::int32_t SurfaceWidth() override { return Form1->DXDraw1->Width(); }
  std::int32_t SurfaceHeight() override { return Form1->DXDraw1->Height(); }
  std::int32_t PictureCount() override { return Form1->DXImageList1->Items().Count(); }
  std::int32_t PictureWidth(std::int32_t index) override { return Item(index)->Width(); }
  std::int32_t PictureHeight(std::int32_t index) override { return Item(index)->Height(); }
  void StretchDrawBackground(const TRect& r) override {
    Item(0)->StretchDraw(Form1->DXDraw1->Surface(), r, 0);
  }
  void DrawPicture(std::int32_t index, std::int32_t x, std::int32_t y) override {
    Item(index)->Draw(Form1->DXDraw1->Surface(), x, y, 0);
  }

 private:
  static TPictureCollectionItem* Item(std::int32_t index) {
    return Form1->DXImageList1->Items().Items(index);
  }
};

}  // namespace

ISnowScene& FormScene() {
  static TFormScene scene;
  return scene;
}

void TForm1::FormCreate(TObject*) {
  FlakeCount = 300;

  // No taskbar button: the application window becomes a tool window, re-shown so the shell notices.
  plat::WindowSystem& ws = plat::Windows();
  plat::HWND app = Application->Handle();
  ws.ShowWindow(app, plat::SW_HIDE);
  plat::LONG_PTR exStyle = ws.GetWindowLongPtr(app, plat::GWL_EXSTYLE);
  ws.SetWindowLongPtr(app, plat::GWL_EXSTYLE, exStyle | plat::WS_EX_TOOLWINDOW);
  ws.ShowWindow(app, plat::SW_SHOW);

  SetTop(0);
  SetLeft(0);
  // The surface control follows through its anchors.
  SetWidth(ws.GetSystemMetrics(plat::SM_CXSCREEN));
  SetHeight(ws.GetSystemMetrics(plat::SM_CYSCREEN));

  SeedRandomFromClock();
  AttachToDesktop();
  LoadWallpaper();
  InitFlakes(FormScene());
  DXDraw1->Initialize();

  WindX = 0;
  WindY = 0;
  WindTargetX = 0;
  WindTargetY = 0;
  WindEnabled = true;
}

void TForm1::DXDraw1Initialize(TObject*) {
  DXTimer2->SetEnabled(true);
}

void TForm1::DXDraw1Finalize(TObject*) {
  DXTimer2->SetEnabled(false);
}

void TForm1::DXTimer2Timer(TObject*, std::int32_t) {
  // One step per event however late it comes: all motion is per frame.
  StepWind();
  ApplyWind();
  MoveAndDrawFlakes(FormScene());
  DXDraw1->Flip();
}

void TForm1::SetDensity(std::int32_t Count, TMenuItem* Item) {
  FlakeCount = Count;
  Item->SetChecked(true);
  // Records never filled would stay out of the field for good; once the field has been filled at start-up,
  // a raised count brings them in at once, placed as at start-up.
  if (Flakes[0].Active) FillInactiveFlakes(FormScene());
}

void TForm1::Veryfew1Click(TObject*) {
  SetDensity(50, Veryfew1);
}
void TForm1::Few1Click(TObject*) {
  SetDensity(150, Few1);
}
void TForm1::Medium1Click(TObject*) {
  SetDensity(300, Medium1);
}
void TForm1::Many1Click(TObject*) {
  SetDensity(500, Many1);
}
void TForm1::Snowstorm1Click(TObject*) {
  SetDensity(1000, Snowstorm1);
}

void TForm1::Wind1Click(TObject*) {
  Wind1->SetChecked(!Wind1->Checked());
  WindEnabled = Wind1->Checked();
  if (!WindEnabled) {
    WindTargetX = 0;
    WindTargetY = 0;
  }
}

void TForm1::About1Click(TObject*) {
  // The program's own modal loop: frames go on behind the dialog.
  ShowMessageDialog(SAboutText);
}

void TForm1::Exit1Click(TObject*) {
  Form1->Close();
}

// ---- Desktop attachment ----

plat::HWND FindDesktopListView() {
  plat::WindowSystem& ws = plat::Windows();
  plat::HWND progman = ws.FindWindow("ProgMan", nullptr);
  plat::HWND child = progman ? ws.GetWindow(progman, plat::GW_CHILD) : nullptr;
  plat::HWND view = child ? ws.GetWindow(child, plat::GW_CHILD) : nullptr;
  if (!view) return nullptr;
  // 40 characters, of which the platform fills at most 38 and a terminating zero.
  char name[40] = {};
  ws.GetClassName(view, name, 39);
  name[39] = '\0';
  return std::string(name) == "SysListView32" ? view : nullptr;
}

namespace {

// A longer name than any of the shell's is cut and so matches none of them.
constexpr int kClassBuffer = 64;

bool HasClass(plat::HWND hwnd, const char* className, bool exactCase) {
  char name[kClassBuffer] = {};
  if (plat::Windows().GetClassName(hwnd, name, kClassBuffer) <= 0) return false;
  // Window classes are named without regard to letter case; exactCase asks for the very name.
  return exactCase ? std::strcmp(name, className) == 0 : SameText(name, className);
}

// A window manager hands out windows from live lists; a bound keeps a faulty one from looping for ever.
constexpr int kMaxSiblings = 65536;

// The first child of `parent`, top of the z-order first, of the class given.
plat::HWND ChildOfClass(plat::HWND parent, const char* className, bool exactCase) {
  plat::WindowSystem& ws = plat::Windows();
  plat::HWND w = ws.GetWindow(parent, plat::GW_CHILD);
  for (int i = 0; w && i < kMaxSiblings; ++i, w = ws.GetWindow(w, plat::GW_HWNDNEXT)) {
    if (HasClass(w, className, exactCase)) return w;
  }
  return nullptr;
}

// Keeps the not-attached form and the application window that owns it (an owned window never goes below
// its owner) at the bottom of the z-order: a snow-covered screen in front of the user's windows would hide
// them. Whatever would raise either window (being shown, activated by a click or by its menu) puts it
// back.
class TBottomKeeper {
 public:
  // Called before the message reaches the window's own handling.
  static void Changing(const TMessage& Message) {
    if (Message.Msg != plat::WM_WINDOWPOSCHANGING) return;
    auto* pos = reinterpret_cast<plat::WINDOWPOS*>(Message.LParam);
    if (pos && !(pos->flags & plat::SWP_NOZORDER)) pos->hwndInsertAfter = plat::HWND_BOTTOM();
  }
  // Called after it. Showing a window may place it without asking first; move it down once it is placed.
  void Changed(const TMessage& Message, plat::HWND hwnd) {
    if (Message.Msg != plat::WM_WINDOWPOSCHANGED || lowering_) return;
    const auto* pos = reinterpret_cast<const plat::WINDOWPOS*>(Message.LParam);
    if (!pos) return;
    const bool reordered = !(pos->flags & plat::SWP_NOZORDER);
    if (reordered || (pos->flags & plat::SWP_SHOWWINDOW)) Lower(hwnd);
  }
  void Lower(plat::HWND hwnd) {
    lowering_ = true;
    plat::Windows().SetWindowPos(hwnd, plat::HWND_BOTTOM(), 0, 0, 0, 0,
                                 plat::SWP_NOMOVE | plat::SWP_NOSIZE | plat::SWP_NOACTIVATE);
    lowering_ = false;
  }

 private:
  bool lowering_ = false;
};

void KeepAtBottom() {
  TForm1* form = Form1;
  auto formKeeper = std::make_shared<TBottomKeeper>();
  TWndMethod previous = form->WindowProc;
  form->WindowProc = [form, formKeeper, previous](TMessage& Message) {
    TBottomKeeper::Changing(Message);
    previous(Message);
    if (form->HandleAllocated()) formKeeper->Changed(Message, form->Handle());
  };
  if (form->HandleAllocated()) formKeeper->Lower(form->Handle());
  if (!Application) return;
  auto appKeeper = std::make_shared<TBottomKeeper>();
  Application->HookMainWindow([appKeeper](TMessage& Message) {
    TBottomKeeper::Changing(Message);
    if (Message.Msg == plat::WM_WINDOWPOSCHANGED && Application->HandleAllocated()) {
      // The application handles the message itself afterwards; its place is already settled here.
      appKeeper->Changed(Message, Application->Handle());
    }
    return false;
  });
  // Shown (and raised) a moment ago to drop its taskbar button.
  appKeeper->Lower(Application->Handle());
}

}  // namespace

plat::HWND FindWorkerListView() {
  plat::WindowSystem& ws = plat::Windows();
  plat::HWND top = ws.GetWindow(ws.GetDesktopWindow(), plat::GW_CHILD);
  for (int i = 0; top && i < kMaxSiblings; ++i, top = ws.GetWindow(top, plat::GW_HWNDNEXT)) {
    if (!HasClass(top, "WorkerW", false)) continue;
    plat::HWND view = ChildOfClass(top, "SHELLDLL_DefView", false);
    plat::HWND list = view ? ChildOfClass(view, "SysListView32", true) : nullptr;
    if (list) return list;
  }
  return nullptr;
}

plat::HWND FindDesktopPlace() {
  plat::HWND view = FindDesktopListView();
  if (!view) view = FindWorkerListView();
  if (!view) return nullptr;
  // Switching desktop icons off hides the icon view and everything inside it. Its parent covers the same
  // place in the same layer and stays visible; as its newest child the form also covers the icons should
  // they be switched on again, as it does inside the icon view.
  plat::WindowSystem& ws = plat::Windows();
  if (!ws.IsWindowVisible(view)) {
    plat::HWND parent = ws.GetParent(view);
    if (parent && ws.IsWindowVisible(parent)) return parent;
  }
  return view;
}

void AttachToDesktop() {
  plat::HWND place = FindDesktopPlace();
  Form1->SetParentWindow(place);
  if (!place) {
    KeepAtBottom();
    return;
  }
  // A new child window goes below its siblings; the form must lie over them (the icon view beside it when
  // icons are switched off, the view's own header inside it) to be seen.
  plat::Windows().SetWindowPos(Form1->Handle(), plat::HWND_TOP(), 0, 0, 0, 0,
                               plat::SWP_NOMOVE | plat::SWP_NOSIZE | plat::SWP_NOACTIVATE);
}

// ---- Wallpaper lookup ----

std::string RegistryValue::ToText() const {
  return kind == Kind::Integer ? std::to_string(integer) : text;
}

namespace {

[[noreturn]] void RaiseSystemMessage(plat::DWORD code) {
  throw ERegistryException(plat::SysErrorMessage(code));
}

// Closes the key however the read ends.
class TKeyCloser {
 public:
  explicit TKeyCloser(plat::HKEY key) : key_(key) {}
  ~TKeyCloser() { plat::Reg().RegCloseKey(key_); }
  TKeyCloser(const TKeyCloser&) = delete;
  TKeyCloser& operator=(const TKeyCloser&) = delete;

 private:
  plat::HKEY key_;
};

// Reads exactly `size` bytes of the value; checks that the read worked and found the type queried before.
std::vector<plat::BYTE> ReadValueData(plat::HKEY key, const std::string& name, plat::DWORD expectedType,
                                      plat::DWORD size, plat::DWORD& got) {
  // One spare byte so that an empty value still passes a buffer (a null buffer only asks for the size).
  std::vector<plat::BYTE> data(static_cast<std::size_t>(size) + 1, 0);
  plat::DWORD type = 0;
  got = size;
  if (plat::Reg().RegQueryValueEx(key, name.c_str(), &type, data.data(), &got) != plat::ERROR_SUCCESS)
    throw ERegistryException(Format(SRegGetDataFailed, name));
  if (type != expectedType) throw ERegistryException(Format(SInvalidRegType, name));
  data.resize(size);
  return data;
}

RegistryValue ReadOpenKey(plat::HKEY key, const std::string& name) {
  plat::Registry& reg = plat::Reg();
  plat::DWORD type = plat::REG_NONE;
  bool known = reg.RegQueryValueEx(key, name.c_str(), &type, nullptr, nullptr) == plat::ERROR_SUCCESS;
  RegistryValue result;
  if (known && (type == plat::REG_SZ || type == plat::REG_EXPAND_SZ)) {
    plat::DWORD size = 0;
    if (reg.RegQueryValueEx(key, name.c_str(), nullptr, nullptr, &size) != plat::ERROR_SUCCESS ||
        static_cast<plat::LONG>(size) <= 0)
      return result;
    plat::DWORD got = 0;
    std::vector<plat::BYTE> data = ReadValueData(key, name, type, size, got);
    std::size_t len = 0;
    while (len < data.size() && data[len] != 0) ++len;
    result.text.assign(reinterpret_cast<const char*>(data.data()), len);
    return result;
  }
  if (known && type == plat::REG_DWORD) {
    plat::DWORD got = 0;
    std::vector<plat::BYTE> data = ReadValueData(key, name, type, 4, got);
    std::uint32_t v = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                      static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
    result.kind = RegistryValue::Kind::Integer;
    result.integer = static_cast<std::int32_t>(v);
    return result;
  }
  if (known && type == plat::REG_BINARY) {
    plat::DWORD size = 0;
    if (reg.RegQueryValueEx(key, name.c_str(), nullptr, nullptr, &size) == plat::ERROR_SUCCESS) {
      plat::DWORD got = 0;
      std::vector<plat::BYTE> data = ReadValueData(key, name, type, size, got);
      if (got == size) {
        result.kind = RegistryValue::Kind::Bytes;
        result.text.assign(reinterpret_cast<const char*>(data.data()), data.size());
        return result;
      }
    }
  }
  RaiseSystemMessage(ERROR_CANTREAD_KEY);
}

}  // namespace

RegistryValue ReadRegistryValue(plat::HKEY Root, const std::string& KeyPath, const std::string& ValueName) {
  std::string path = KeyPath;
  if (!path.empty() && path[0] == '\\') path.erase(0, 1);
  plat::HKEY key = nullptr;
  bool opened = false;
  for (plat::REGSAM access : {plat::REGSAM(0x20019), plat::REGSAM(0x20009), plat::REGSAM(0x0001)}) {
    if (plat::Reg().RegOpenKeyEx(Root, path.c_str(), 0, access, &key) == plat::ERROR_SUCCESS) {
      opened = true;
      break;
    }
  }
  if (!opened) RaiseSystemMessage(plat::Sys().GetLastError());
  TKeyCloser closer(key);
  return ReadOpenKey(key, ValueName);
}

void LoadWallpaper() {
  RegistryValue v = ReadRegistryValue(plat::HKEY_CURRENT_USER, "\\Control Panel\\Desktop", "WallPaper");
  Form1->DXImageList1->Items().Items(0)->Picture().LoadPictureFile(v.ToText());
}

// ---- Registration ----

void RegisterUnit1() {
  RegisterClass<TForm1>(TForm::StaticClassName())
      .Field("DXDraw1", &TForm1::DXDraw1)
      .Field("DXImageList1", &TForm1::DXImageList1)
      .Field("DXTimer2", &TForm1::DXTimer2)
      .Field("PopupMenu1", &TForm1::PopupMenu1)
      .Field("Snowflakes1", &TForm1::Snowflakes1)
      .Field("Veryfew1", &TForm1::Veryfew1)
      .Field("Few1", &TForm1::Few1)
      .Field("Medium1", &TForm1::Medium1)
      .Field("Many1", &TForm1::Many1)
      .Field("Snowstorm1", &TForm1::Snowstorm1)
      .Field("Wind1", &TForm1::Wind1)
      .Field("N1", &TForm1::N1)
      .Field("About1", &TForm1::About1)
      .Field("Exit1", &TForm1::Exit1)
      .Method("FormCreate", &TForm1::FormCreate)
      .Method("DXDraw1Initialize", &TForm1::DXDraw1Initialize)
      .Method("DXDraw1Finalize", &TForm1::DXDraw1Finalize)
      .Method("DXTimer2Timer", &TForm1::DXTimer2Timer)
      .Method("Veryfew1Click", &TForm1::Veryfew1Click)
      .Method("Few1Click", &TForm1::Few1Click)
      .Method("Medium1Click", &TForm1::Medium1Click)
      .Method("Many1Click", &TForm1::Many1Click)
      .Method("Snowstorm1Click", &TForm1::Snowstorm1Click)
      .Method("Wind1Click", &TForm1::Wind1Click)
      .Method("About1Click", &TForm1::About1Click)
      .Method("Exit1Click", &TForm1::Exit1Click);
  RegisterFormText(TForm1::StaticClassName(), Form1Text());
}
