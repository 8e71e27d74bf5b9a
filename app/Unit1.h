// The main form: start-up in a fixed order, the context menu's handlers, the frame tick, finding the
// desktop icon view and loading the user's wallpaper. The snow itself (records, generator, wind) lives in
// app/Snow.h; this unit gives it the drawing surface and the picture list.
#pragma once

#include <cstdint>
#include <string>

#include "app/Snow.h"
#include "platform/Registry.h"
#include "render/DXClass.h"
#include "render/DXDraws.h"
#include "ui/Forms.h"
#include "ui/Menus.h"

DS_DECLARE_EXCEPTION(ERegistryException, Exception);

inline constexpr const char* SAppTitle = "Kirno Desktop Snow";
inline constexpr const char* SRegGetDataFailed = "Failed to get data for '%s'";
inline constexpr const char* SInvalidRegType = "Invalid data type for '%s'";
// The configuration registry key could not be read.
inline constexpr plat::DWORD ERROR_CANTREAD_KEY = 1012;

// The About text: three lines of the project's own.
inline constexpr const char* SAboutText =
    "Desktop Snow by the Kirno snow crew\r\n"
    "https://snow.example.org/\r\n"
    "snow@example.org";

class TForm1 : public TForm {
  DS_CLASS_NAME(TForm1)
 public:
  explicit TForm1(TComponent* AOwner) : TForm(AOwner) {}
  // The window goes while this is still a TForm1: destroying it finalises the surface, whose event runs
  // DXDraw1Finalize, a method of this class.
  ~TForm1() override { DestroyHandle(); }

  // Set by the form reader from the stored description.
  TDXDraw* DXDraw1 = nullptr;
  TDXImageList* DXImageList1 = nullptr;
  TDXTimer* DXTimer2 = nullptr;
  TPopupMenu* PopupMenu1 = nullptr;
  TMenuItem* Snowflakes1 = nullptr;
  TMenuItem* Veryfew1 = nullptr;
  TMenuItem* Few1 = nullptr;
  TMenuItem* Medium1 = nullptr;
  TMenuItem* Many1 = nullptr;
  TMenuItem* Snowstorm1 = nullptr;
  TMenuItem* Wind1 = nullptr;
  TMenuItem* N1 = nullptr;
  TMenuItem* About1 = nullptr;
  TMenuItem* Exit1 = nullptr;

  void FormCreate(TObject* Sender);
  void DXDraw1Initialize(TObject* Sender);
  void DXDraw1Finalize(TObject* Sender);
  void DXTimer2Timer(TObject* Sender, std::int32_t LagCount);
  void Veryfew1Click(TObject* Sender);
  void Few1Click(TObject* Sender);
  void Medium1Click(TObject* Sender);
  void Many1Click(TObject* Sender);
  void Snowstorm1Click(TObject* Sender);
  void Wind1Click(TObject* Sender);
  void About1Click(TObject* Sender);
  void Exit1Click(TObject* Sender);

 private:
  void SetDensity(std::int32_t Count, TMenuItem* Item);
};

extern TForm1* Form1;

// The snow's view of Form1's drawing surface and picture list.
ISnowScene& FormScene();

// ---- Desktop attachment ----

// The shell's desktop icon view: first child of the first child of the "ProgMan" window, when its class
// is exactly "SysListView32"; null otherwise.
plat::HWND FindDesktopListView();
// The icon view where the shell puts it once a program has asked for a wallpaper layer of its own: in a
// top-level "WorkerW" window, inside its "SHELLDLL_DefView" child. The two containers are matched by class
// ignoring letter case, as the window manager's lookups do; the icon view's class must be exactly
// "SysListView32", as above. Null when no such window exists.
plat::HWND FindWorkerListView();
// Where the form goes: the icon view of the first lookup that finds one, or, when that view is hidden
// (desktop icons switched off), its visible parent, which lies in the same place. Null: nowhere.
plat::HWND FindDesktopPlace();
// Puts Form1 at the desktop place; without one the form stays top-level, kept below every other window.
void AttachToDesktop();

// ---- Wallpaper lookup ----

struct RegistryValue {
  enum class Kind { Text, Integer, Bytes };
  Kind kind = Kind::Text;
  std::string text;  // Text and Bytes (bytes may include zeros)
  std::int32_t integer = 0;
  // Text and bytes unchanged; an integer in decimal.
  std::string ToText() const;
};

// Reads one value without changing the registry. Raises ERegistryException with the system message for
// the failure, or "Failed to get data for '%s'" / "Invalid data type for '%s'".
RegistryValue ReadRegistryValue(plat::HKEY Root, const std::string& KeyPath, const std::string& ValueName);
// Loads the file named by the current user's "WallPaper" value into picture item 0 of DXImageList1.
void LoadWallpaper();

// Registers TForm1 (its fields and handlers) and its stored description for the form reader.
void RegisterUnit1();
// The stored description of Form1.
const std::string& Form1Text();
