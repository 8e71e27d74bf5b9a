// Pictures: the abstract graphic kind, the canvas graphics draw on, the picture holder that owns one graphic,
// the process-wide list of picture formats by file extension, and the three built-in kinds (bitmap, icon,
// metafile). Further kinds (JPEG, device-independent bitmap, PNG) derive from TGraphic in their own units and
// register their extensions from their Init...Unit() start-up call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Classes.h"
#include "core/Components.h"
#include "core/Consts.h"
#include "core/SysUtils.h"
#include "core/Types.h"
#include "platform/Types.h"

DS_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
DS_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception);

// Texts of this unit.
inline constexpr const char* SInvalidBitmap = "Bitmap image is not valid";
inline constexpr const char* SInvalidIcon = "Icon image is not valid";
inline constexpr const char* SInvalidMetafile = "Metafile is not valid";
inline constexpr const char* SInvalidPixelFormat = "Invalid pixel format";
inline constexpr const char* SUnknownExtension = "Unknown picture file extension (.%s)";
inline constexpr const char* SScanLine = "Scan line index out of range";
inline constexpr const char* SChangeIconSize = "Cannot change the size of an icon";
inline constexpr const char* SNoCanvasHandle = "Canvas does not allow drawing";
inline constexpr const char* SVMetafiles = "Metafiles";
inline constexpr const char* SVEnhMetafiles = "Enhanced Metafiles";
inline constexpr const char* SVIcons = "Icons";
inline constexpr const char* SVBitmaps = "Bitmaps";

class TGraphic;
class TCanvas;
class TPicture;
class TBitmap;
class TIcon;
class TMetafile;

// ---------------------------------------------------------------------------------------------------------
// Class references: what a registered format names. A class reference creates an instance of its class
// (the virtual constructor) and knows its name and ancestry, so the format list can find a class by the
// name stored in form data and remove a class together with its descendants.

struct TGraphicClassInfo {
  const char* Name;
  const TGraphicClassInfo* Parent;        // null for TGraphic itself
  std::unique_ptr<TGraphic> (*Create)();  // null for abstract classes
  const char* ClassName() const { return Name; }
  // True when this class is `ancestor` or descends from it.
  bool InheritsFrom(const TGraphicClassInfo* ancestor) const;
  std::unique_ptr<TGraphic> NewInstance() const;  // raises EInvalidGraphicOperation for abstract classes
};
using TGraphicClass = const TGraphicClassInfo*;

// Gives a concrete graphic class its class reference. Use inside the class body, after `public:`; the class
// needs a public default constructor.
#define DS_GRAPHIC_CLASS(Name, ParentClass)                                      \
  static TGraphicClass StaticClass() {                                           \
    static const TGraphicClassInfo info{                                         \
        #Name, ParentClass::StaticClass(),                                       \
        []() -> std::unique_ptr<TGraphic> { return std::make_unique<Name>(); }}; \
    return &info;                                                                \
  }                                                                              \
  TGraphicClass ClassType() const override {                                     \
    return StaticClass();                                                        \
  }

// The same for a class that cannot be instantiated.
#define DS_ABSTRACT_GRAPHIC_CLASS(Name, ParentClass)                                 \
  static TGraphicClass StaticClass() {                                               \
    static const TGraphicClassInfo info{#Name, ParentClass::StaticClass(), nullptr}; \
    return &info;                                                                    \
  }                                                                                  \
  TGraphicClass ClassType() const override {                                         \
    return StaticClass();                                                            \
  }

// ---------------------------------------------------------------------------------------------------------
// Events. Sender is the object that raised the event (a graphic or a picture).

enum TProgressStage { psStarting, psRunning, psEnding };

using TGraphicNotifyEvent = std::function<void(void* Sender)>;
using TProgressEvent = std::function<void(void* Sender, TProgressStage Stage, std::uint8_t PercentDone,
                                          bool RedrawNow, const TRect& R, const std::string& Msg)>;

// Told of every change of a picture, after its OnChange.
class IChangeNotifier {
 public:
  virtual ~IChangeNotifier() = default;
  virtual void Changed() = 0;
};

// ---------------------------------------------------------------------------------------------------------
// Reference-counted image body shared between graphics of one kind; a graphic about to change its image first
// makes a private copy (copy on write). Starts with no references.
class TSharedImage {
 public:
  TSharedImage() = default;
  virtual ~TSharedImage() = default;
  TSharedImage(const TSharedImage&) = delete;
  TSharedImage& operator=(const TSharedImage&) = delete;

  void Reference() { ++refCount_; }
  // Drops one reference; the body frees itself (handles included) when none is left.
  void Release();
  int RefCount() const { return refCount_; }

 protected:
  virtual void FreeHandle() = 0;

 private:
  int refCount_ = 0;
};

// ---------------------------------------------------------------------------------------------------------
// TGraphic: base of every graphic kind. The virtual operations are declared in their fixed slot order.

class TGraphic {
 public:
  TGraphic() = default;
  virtual ~TGraphic() = default;
  TGraphic(const TGraphic&) = delete;
  TGraphic& operator=(const TGraphic&) = delete;

  static TGraphicClass StaticClass();
  virtual TGraphicClass ClassType() const = 0;
  const char* ClassName() const { return ClassType()->Name; }
  bool InheritsFrom(TGraphicClass c) const { return ClassType()->InheritsFrom(c); }

  // Assignment: Assign(source) asks the source to AssignTo this when it does not know the source's kind;
  // the base raises EConvertError "Cannot assign a %s to a %s". A null source means "nothing".
  virtual void Assign(const TGraphic* Source);
  virtual void AssignTo(TGraphic* Dest) const;

  // 1. Raise OnChange and mark modified.
  virtual void NotifyChanged();
  // 2. Draw the image into Rect of the canvas.
  virtual void DrawGraphic(TCanvas& ACanvas, const TRect& Rect) = 0;
  // 3. Two empty graphics are equal, one empty is not; otherwise only the same kind with byte-equal form
  // data.
  virtual bool SameImage(TGraphic& Other);
  // 4..8
  virtual bool IsEmpty() const = 0;
  virtual int ImageHeight() const = 0;
  virtual plat::HPALETTE QueryPalette();
  virtual bool QueryTransparent() const;
  virtual int ImageWidth() const = 0;
  // 9. Stored form data; the base reads the whole rest of the stream as a graphic stream.
  virtual void ReadFormData(TStream& Stream);
  // 10..13
  virtual void ResizeHeight(int Value) = 0;
  virtual void ReplacePalette(plat::HPALETTE Value);
  virtual void ChangeTransparent(bool Value);
  virtual void ResizeWidth(int Value) = 0;
  // 14.
  virtual void WriteFormData(TStream& Stream);
  // 15. Virtual constructor: a new empty graphic of this object's class.
  virtual std::unique_ptr<TGraphic> CreateGraphic() const;
  // 16. Opens the file for reading and reads it as a graphic stream; the file is closed whatever happens.
  virtual void ReadGraphicFile(const std::string& FileName);
  // 17.
  virtual void WriteGraphicFile(const std::string& FileName);
  // 18. Reads from the stream's position to its end.
  virtual void ReadGraphicStream(TStream& Stream) = 0;
  // 19.
  virtual void WriteGraphicStream(TStream& Stream) = 0;
  // 20, 21. Clipboard exchange (a clipboard handle is carried as an integer).
  virtual void ReadClipboard(plat::WORD Format, std::uintptr_t Data, plat::HPALETTE Palette) = 0;
  virtual void WriteClipboard(plat::WORD& Format, std::uintptr_t& Data, plat::HPALETTE& Palette) = 0;

  // Convenience forms over the operations above.
  bool Empty() const { return IsEmpty(); }
  int Width() const { return ImageWidth(); }
  int Height() const { return ImageHeight(); }
  void SetWidth(int Value) { ResizeWidth(Value); }
  void SetHeight(int Value) { ResizeHeight(Value); }
  plat::HPALETTE Palette() { return QueryPalette(); }
  void SetPalette(plat::HPALETTE Value) { ReplacePalette(Value); }
  bool Transparent() const { return QueryTransparent(); }
  void SetTransparent(bool Value) { ChangeTransparent(Value); }
  bool Modified() const { return modified_; }
  // Setting true notifies a change; setting false only clears the flag.
  void SetModified(bool Value);
  bool PaletteModified() const { return paletteModified_; }
  void SetPaletteModified(bool Value) { paletteModified_ = Value; }
  void LoadFromFile(const std::string& FileName) { ReadGraphicFile(FileName); }
  void SaveToFile(const std::string& FileName) { WriteGraphicFile(FileName); }
  void LoadFromStream(TStream& Stream) { ReadGraphicStream(Stream); }
  void SaveToStream(TStream& Stream) { WriteGraphicStream(Stream); }

  TGraphicNotifyEvent OnChange;
  TProgressEvent OnProgress;

 protected:
  // Reports progress through OnProgress (Sender is normally this graphic).
  virtual void Progress(void* Sender, TProgressStage Stage, std::uint8_t PercentDone, bool RedrawNow,
                        const TRect& R, const std::string& Msg);
  bool transparent_ = false;

 private:
  bool modified_ = false;
  bool paletteModified_ = false;
};

// ---------------------------------------------------------------------------------------------------------
// TCanvas: drawing on a device context. A canvas made over a DC borrows it; descendants (a bitmap's canvas)
// make their DC on demand in CreateHandle.

enum TBrushStyle { bsSolid, bsClear };
enum TPenStyle { psSolid, psClear };

struct TBrush {
  TColor Color = clWhite;
  TBrushStyle Style = bsSolid;
};

struct TPen {
  TColor Color = clBlack;
  int Width = 1;
  TPenStyle Style = psSolid;
};

// Raster operation codes for CopyMode (the Windows values).
inline constexpr plat::DWORD cmSrcCopy = 0x00CC0020;
inline constexpr plat::DWORD cmSrcAnd = 0x008800C6;
inline constexpr plat::DWORD cmSrcPaint = 0x00EE0086;
inline constexpr plat::DWORD cmSrcInvert = 0x00660046;
inline constexpr plat::DWORD cmBlackness = 0x00000042;
inline constexpr plat::DWORD cmWhiteness = 0x00FF0062;

class TCanvas {
 public:
  TCanvas() = default;
  explicit TCanvas(plat::HDC DC) : handle_(DC) {}
  virtual ~TCanvas() = default;
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  // The device context; made on demand (CreateHandle) and raising EInvalidOperation when none can be had.
  plat::HDC Handle();
  void SetHandle(plat::HDC Value) { handle_ = Value; }
  bool HandleAllocated() const { return handle_ != nullptr; }

  // Draws a graphic at (X, Y) at its own size; nothing for a null or empty graphic.
  void Draw(int X, int Y, TGraphic* Graphic);
  // Draws a graphic stretched into Rect; nothing for a null or empty graphic.
  void StretchDraw(const TRect& Rect, TGraphic* Graphic);
  // Copies Source of another canvas into Dest with CopyMode (stretched when the sizes differ).
  void CopyRect(const TRect& Dest, TCanvas& Canvas, const TRect& Source);
  void FillRect(const TRect& Rect);
  void Rectangle(int X1, int Y1, int X2, int Y2);
  // One pixel as 0x00BBGGRR (clNone outside the surface).
  TColor Pixel(int X, int Y);
  void SetPixel(int X, int Y, TColor Color);
  TColor Pixels(int X, int Y) { return Pixel(X, Y); }
  void SetPixels(int X, int Y, TColor Color) { SetPixel(X, Y, Color); }

  plat::DWORD CopyMode() const { return copyMode_; }
  void SetCopyMode(plat::DWORD Value) { copyMode_ = Value; }

  // Kept for callers that bracket drawing; everything runs on one thread.
  void Lock() { ++lockCount_; }
  void Unlock() {
    if (lockCount_ > 0) --lockCount_;
  }
  int LockCount() const { return lockCount_; }

  TBrush Brush;
  TPen Pen;

 protected:
  virtual void CreateHandle() {}

 private:
  plat::HDC handle_ = nullptr;
  plat::DWORD copyMode_ = cmSrcCopy;
  int lockCount_ = 0;
};

// ---------------------------------------------------------------------------------------------------------
// The format list.

struct TFileFormat {
  TGraphicClass GraphicClass = nullptr;
  std::string Extension;  // without the dot, lower-cased
  std::string Description;
  std::int32_t DescriptionId = 0;
};

class TFileFormatsList {
 public:
  void Add(const std::string& Ext, const std::string& Desc, std::int32_t DescID, TGraphicClass AClass);
  // The class registered for an extension (ANSI lower-cased first), searching from the last entry to the
  // first; null when none.
  TGraphicClass FindFormatByExtension(const std::string& Ext) const;
  // The class whose name equals Name exactly, searching from the last entry to the first; null when none.
  TGraphicClass FindClassName(const std::string& Name) const;
  // Removes every entry whose class is AClass or descends from it.
  void Remove(TGraphicClass AClass);
  int Count() const { return static_cast<int>(items_.size()); }
  const TFileFormat& Item(int Index) const;

 private:
  std::vector<TFileFormat> items_;
};

// The process-wide format list, created with the four built-in formats on first use.
TFileFormatsList& PictureFormats();

// Clipboard formats: 2 bitmap, 3 metafile picture, 14 enhanced metafile, 8 device-independent bitmap.
inline constexpr plat::WORD CF_BITMAP = 2;
inline constexpr plat::WORD CF_METAFILEPICT = 3;
inline constexpr plat::WORD CF_DIB = 8;
inline constexpr plat::WORD CF_ENHMETAFILE = 14;
struct TClipboardFormat {
  plat::WORD Format;
  TGraphicClass GraphicClass;
};
// The clipboard table, created with its three built-in entries on first use.
std::vector<TClipboardFormat>& ClipboardFormats();
TGraphicClass FindClipboardFormat(plat::WORD Format);

// Lower-cases ASCII letters and the Latin-1 upper-case range, as the user's ANSI code page does.
std::string AnsiLowerCase(const std::string& S);
// The extension of a file name without its dot: the text after the last dot that follows the last path
// separator ("\", ":" or "/"); empty when there is none.
std::string PictureFileExtension(const std::string& FileName);

// Start-up of this unit: makes the format list and the clipboard table exist. Safe to call again.
void InitGraphicsUnit();

// PNG-compressed icon entries are decoded by the PNG unit, which sets this hook from its start-up call.
// It decodes a complete PNG file to 32-bit pixels, top row first, bytes blue, green, red, alpha per pixel;
// false when the data is not a readable PNG. Must not throw.
using TPngIconDecoder = bool (*)(const std::uint8_t* Data, std::size_t Size, int& Width, int& Height,
                                 std::vector<std::uint8_t>& Bgra);
void SetPngIconDecoder(TPngIconDecoder Decoder);
TPngIconDecoder GetPngIconDecoder();

// ---------------------------------------------------------------------------------------------------------
// TPicture: owns at most one graphic.

class TPicture : public TPersistent {
  DS_CLASS_NAME(TPicture)
 public:
  TPicture();  // makes sure PictureFormats exists
  ~TPicture() override;
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  TGraphic* Graphic() const { return graphic_.get(); }
  // Replaces the graphic by a copy of Value (same class, assigned), or none for null.
  void SetGraphic(const TGraphic* Value);
  // Replaces the graphic by Value, taking ownership.
  void SetGraphic(std::unique_ptr<TGraphic> Value);
  // The graphic as a bitmap, icon or metafile; the current graphic is replaced by an empty one of that kind
  // when it is of another kind.
  TBitmap& Bitmap();
  TIcon& Icon();
  TMetafile& Metafile();

  int Width() const { return graphic_ ? graphic_->Width() : 0; }
  int Height() const { return graphic_ ? graphic_->Height() : 0; }

  // Loads a file by its extension; on failure the previous graphic stays and the error passes on.
  void LoadPictureFile(const std::string& FileName);
  void LoadFromFile(const std::string& FileName) { LoadPictureFile(FileName); }
  void SaveToFile(const std::string& FileName);

  void Assign(const TPicture* Source);
  void Assign(const TGraphic* Source) { SetGraphic(Source); }
  // From another picture; anything else raises EConvertError.
  void Assign(const TPersistent* Source) override;
  // Stored form descriptions carry the picture as the binary property "Data" (ReadData's format).
  void DefineProperties(TFiler& Filer) override;

  // Stored form data: length byte, class name, the graphic's WriteFormData output.
  void ReadData(TStream& Stream);
  void WriteData(TStream& Stream);

  static void RegisterPictureFormat(const std::string& Extension, const std::string& Description,
                                    TGraphicClass GraphicClass);
  static void RegisterClipboardFormat(plat::WORD Format, TGraphicClass GraphicClass);
  // Removes every format and clipboard entry of the class and its descendants.
  static void UnregisterGraphicClass(TGraphicClass GraphicClass);

  TGraphicNotifyEvent OnChange;
  TProgressEvent OnProgress;
  IChangeNotifier* Notify = nullptr;

 protected:
  void Changed(void* Sender);
  void Progress(void* Sender, TProgressStage Stage, std::uint8_t PercentDone, bool RedrawNow, const TRect& R,
                const std::string& Msg);

 private:
  void Install(std::unique_ptr<TGraphic> g);
  template <typename T>
  T& ForceGraphic();
  std::unique_ptr<TGraphic> graphic_;
};

// ---------------------------------------------------------------------------------------------------------
// TBitmap

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
enum TBitmapHandleType { bmDIB, bmDDB };
enum TTransparentMode { tmAuto, tmFixed };

class TBitmapImage;

class TBitmap : public TGraphic {
 public:
  DS_GRAPHIC_CLASS(TBitmap, TGraphic)
  TBitmap();
  ~TBitmap() override;

  void Assign(const TGraphic* Source) override;

  void DrawGraphic(TCanvas& ACanvas, const TRect& Rect) override;
  bool IsEmpty() const override;
  int ImageHeight() const override;
  plat::HPALETTE QueryPalette() override;
  int ImageWidth() const override;
  void ResizeHeight(int Value) override;
  // Takes ownership of the palette; an indexed bitmap also takes its colours as the colour table.
  void ReplacePalette(plat::HPALETTE Value) override;
  void ResizeWidth(int Value) override;
  void ReadGraphicStream(TStream& Stream) override;
  void WriteGraphicStream(TStream& Stream) override;
  void ReadClipboard(plat::WORD Format, std::uintptr_t Data, plat::HPALETTE Palette) override;
  void WriteClipboard(plat::WORD& Format, std::uintptr_t& Data, plat::HPALETTE& Palette) override;

  void SetSize(int AWidth, int AHeight);
  // The bitmap handle (a DIB section for bmDIB, a screen-compatible bitmap for bmDDB); null when empty.
  plat::HBITMAP Handle();
  TBitmapHandleType HandleType() const;
  void SetHandleType(TBitmapHandleType Value);
  TPixelFormat PixelFormat() const;
  void SetPixelFormat(TPixelFormat Value);
  int BitsPerPixel() const;
  bool Monochrome() const;
  // First byte of a row of the image (rows are 32-bit aligned); raises EInvalidGraphic "Scan line index out
  // of range" outside 0..Height-1. Turns the image into a DIB section first.
  void* ScanLine(int Row);
  // Bytes per row of the DIB section.
  int RowBytes() const;
  // The colour masks of a DIB section with bit fields (red, green, blue), zero otherwise.
  void ColorMasks(plat::DWORD& Red, plat::DWORD& Green, plat::DWORD& Blue) const;
  TCanvas& Canvas();
  // Colour table of the image (BGRA entries as stored; empty above 8 bits per pixel unless the file had one).
  std::vector<std::uint32_t> ColorTable() const;

  TColor TransparentColor() const;
  void SetTransparentColor(TColor Value);
  TTransparentMode TransparentMode() const { return transparentMode_; }
  void SetTransparentMode(TTransparentMode Value);

  // Makes the body private and drops the kept copy of a compressed file, so that writing stores the pixels.
  void FreeImage();

  TBitmapImage* Image() const { return image_; }

 private:
  friend class TBitmapCanvas;
  void SetImage(TBitmapImage* NewImage);
  void Unshare();  // makes a private copy of a shared body before a change
  void MakeDIBSection();
  void NewImage(int Width, int Height, TPixelFormat Format, TBitmapHandleType Type);
  void DrawTransparent(TCanvas& ACanvas, const TRect& Rect);

  TBitmapImage* image_ = nullptr;
  std::unique_ptr<TCanvas> canvas_;
  TColor transparentColor_ = clDefault;
  TTransparentMode transparentMode_ = tmAuto;
};

// ---------------------------------------------------------------------------------------------------------
// TIcon

class TIconImage;

class TIcon : public TGraphic {
 public:
  DS_GRAPHIC_CLASS(TIcon, TGraphic)
  TIcon();
  ~TIcon() override;

  void Assign(const TGraphic* Source) override;

  void DrawGraphic(TCanvas& ACanvas, const TRect& Rect) override;
  bool IsEmpty() const override;
  int ImageHeight() const override;
  int ImageWidth() const override;
  void ResizeHeight(int Value) override;
  void ResizeWidth(int Value) override;
  void ReadGraphicStream(TStream& Stream) override;
  void WriteGraphicStream(TStream& Stream) override;
  void ReadClipboard(plat::WORD Format, std::uintptr_t Data, plat::HPALETTE Palette) override;
  void WriteClipboard(plat::WORD& Format, std::uintptr_t& Data, plat::HPALETTE& Palette) override;

  // The icon handle; made on first need from the chosen directory entry.
  plat::HICON Handle();
  // Size to choose the directory entry for (0: the system icon metrics). Must be set before the handle is
  // made.
  void SetRequestedSize(int Width, int Height);

 private:
  void SetImage(TIconImage* NewImage);
  void HandleNeeded();
  TIconImage* image_ = nullptr;
  int requestedWidth_ = 0, requestedHeight_ = 0;
};

// Directory entry choice for an icon file (exposed for tests): the index of the entry to use for a target
// size and the display's colour count.
struct TIconDirEntryInfo {
  int Width;  // 0 in the file stands for 256 and is passed on as stored
  int Height;
  int ColorCount;
  int Planes;
  int BitCount;
};
int ChooseIconEntry(const std::vector<TIconDirEntryInfo>& Entries, int TargetWidth, int TargetHeight,
                    std::int32_t DisplayColors);
// The display's colour count for the choice: 2^(planes × bits) when that product is 8 or less, else the
// largest 32-bit signed value.
std::int32_t IconDisplayColors(int Planes, int BitsPerPixel);

// ---------------------------------------------------------------------------------------------------------
// TMetafile

class TMetafileImage;

class TMetafile : public TGraphic {
 public:
  DS_GRAPHIC_CLASS(TMetafile, TGraphic)
  TMetafile();
  ~TMetafile() override;

  void Assign(const TGraphic* Source) override;

  void DrawGraphic(TCanvas& ACanvas, const TRect& Rect) override;
  bool IsEmpty() const override;
  int ImageHeight() const override;
  plat::HPALETTE QueryPalette() override;
  int ImageWidth() const override;
  void ResizeHeight(int Value) override;
  void ResizeWidth(int Value) override;
  void ReadGraphicStream(TStream& Stream) override;
  void WriteGraphicStream(TStream& Stream) override;
  void ReadClipboard(plat::WORD Format, std::uintptr_t Data, plat::HPALETTE Palette) override;
  void WriteClipboard(plat::WORD& Format, std::uintptr_t& Data, plat::HPALETTE& Palette) override;

  plat::HENHMETAFILE Handle() const;
  bool Enhanced() const;
  // Size in 0.01 mm.
  int MMWidth() const;
  int MMHeight() const;
  // Units per inch of a placeable metafile (0 for enhanced ones).
  int Inch() const;

 private:
  void SetImage(TMetafileImage* NewImage);
  TMetafileImage* image_ = nullptr;
};
