#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "picture/Graphics.h"
#include "platform/Gdi.h"
#include "platform/Platform.h"

using namespace plat;

namespace {

constexpr const char* SUnsupportedClipboard = "Unsupported clipboard format";
constexpr std::int32_t kMaxColors = std::numeric_limits<std::int32_t>::max();

}  // namespace

// The body: the whole icon file as read, and the handle made from it on first need.
class TIconImage : public TSharedImage {
 public:
  ~TIconImage() override { FreeHandle(); }
  std::vector<std::uint8_t> Data;
  plat::HICON Handle = nullptr;
  bool OwnHandle = true;
  int Width = 0, Height = 0;  // of the chosen image, once the handle exists

 protected:
  void FreeHandle() override {
    if (Handle && OwnHandle && CurrentServices().gdi) GdiSvc().DestroyIcon(Handle);
    Handle = nullptr;
  }
};

std::int32_t IconDisplayColors(int Planes, int BitsPerPixel) {
  const int product = Planes * BitsPerPixel;
  if (product >= 0 && product <= 8) return std::int32_t{1} << product;
  return kMaxColors;
}

int ChooseIconEntry(const std::vector<TIconDirEntryInfo>& Entries, int TargetWidth, int TargetHeight,
                    std::int32_t DisplayColors) {
  if (Entries.empty()) return -1;
  auto colors = [](const TIconDirEntryInfo& e) { return e.ColorCount == 0 ? kMaxColors : e.ColorCount; };
  // Not worse in one dimension: no farther from the target, and when larger than the target, the best is
  // at least as much larger.
  auto atLeastAsGood = [](int entry, int best, int target) {
    const int de = entry - target, db = best - target;
    if (std::abs(de) > std::abs(db)) return false;
    return de <= 0 || db >= de;
  };
  int best = 0;
  for (int i = 1; i < static_cast<int>(Entries.size()); ++i) {
    const TIconDirEntryInfo& e = Entries[static_cast<std::size_t>(i)];
    const TIconDirEntryInfo& b = Entries[static_cast<std::size_t>(best)];
    const std::int32_t ec = colors(e);
    if (ec <= DisplayColors && ec >= colors(b) && atLeastAsGood(e.Width, b.Width, TargetWidth) &&
        atLeastAsGood(e.Height, b.Height, TargetHeight))
      best = i;
  }
  return best;
}

namespace {

std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Pure check of an icon file held in memory: the header's type word and a directory that fits. Returns
// false for a file no icon can be made from.
bool IconDirectoryUsable(const std::vector<std::uint8_t>& d) {
  const std::uint16_t type = Le16(d.data() + 2);
  if (type == 0) return true;  // the stock application icon stands for it
  const std::uint16_t count = Le16(d.data() + 4);
  if (count == 0) return false;
  const std::size_t dirEnd = sizeof(ICONDIR) + std::size_t{count} * sizeof(ICONDIRENTRY);
  return dirEnd <= d.size();
}

const std::uint8_t* DirEntry(const std::vector<std::uint8_t>& d, int index) {
  return d.data() + sizeof(ICONDIR) + static_cast<std::size_t>(index) * sizeof(ICONDIRENTRY);
}

// Pure check of one directory entry: its image lies inside the data.
bool IconEntryUsable(const std::vector<std::uint8_t>& d, int index) {
  const std::uint8_t* e = DirEntry(d, index);
  const std::uint64_t size = Le32(e + 8), offset = Le32(e + 12);
  return size != 0 && offset + size <= d.size();
}

// The entry of a type-1 file with a usable directory that suits the requested size (0: the system icon
// size) and the screen's colours.
int ChosenIconEntry(const std::vector<std::uint8_t>& d, int requestedWidth, int requestedHeight) {
  Gdi& gdi = GdiSvc();
  const std::uint16_t count = Le16(d.data() + 4);
  std::vector<TIconDirEntryInfo> entries;
  for (int i = 0; i < count; ++i) {
    const std::uint8_t* e = DirEntry(d, i);
    entries.push_back(TIconDirEntryInfo{e[0], e[1], e[2], Le16(e + 4), Le16(e + 6)});
  }
  const int targetW = requestedWidth ? requestedWidth : gdi.GetSystemMetrics(SM_CXICON);
  const int targetH = requestedHeight ? requestedHeight : gdi.GetSystemMetrics(SM_CYICON);
  HDC screen = gdi.GetDC(nullptr);
  const std::int32_t display =
      IconDisplayColors(gdi.GetDeviceCaps(screen, PLANES), gdi.GetDeviceCaps(screen, BITSPIXEL));
  gdi.ReleaseDC(nullptr, screen);
  return ChooseIconEntry(entries, targetW, targetH, display);
}

}  // namespace

TIcon::TIcon() {
  SetImage(new TIconImage());
}

TIcon::~TIcon() {
  if (image_) image_->Release();
}

void TIcon::SetImage(TIconImage* NewImage) {
  NewImage->Reference();
  if (image_) image_->Release();
  image_ = NewImage;
}

void TIcon::Assign(const TGraphic* Source) {
  if (Source == nullptr) {
    SetImage(new TIconImage());
    NotifyChanged();
    return;
  }
  if (Source->InheritsFrom(TIcon::StaticClass())) {
    if (Source == this) return;
    const auto* src = static_cast<const TIcon*>(Source);
    SetImage(src->image_);
    requestedWidth_ = src->requestedWidth_;
    requestedHeight_ = src->requestedHeight_;
    NotifyChanged();
    return;
  }
  TGraphic::Assign(Source);
}

bool TIcon::IsEmpty() const {
  return image_->Data.empty() && image_->Handle == nullptr;
}

int TIcon::ImageWidth() const {
  if (image_->Handle) return image_->Width;
  return GdiSvc().GetSystemMetrics(SM_CXICON);
}

int TIcon::ImageHeight() const {
  if (image_->Handle) return image_->Height;
  return GdiSvc().GetSystemMetrics(SM_CYICON);
}

void TIcon::ResizeWidth(int Value) {
  if (Value != ImageWidth()) throw EInvalidGraphicOperation(SChangeIconSize);
}

void TIcon::ResizeHeight(int Value) {
  if (Value != ImageHeight()) throw EInvalidGraphicOperation(SChangeIconSize);
}

void TIcon::SetRequestedSize(int Width, int Height) {
  requestedWidth_ = Width;
  requestedHeight_ = Height;
}

void TIcon::ReadGraphicStream(TStream& Stream) {
  const std::int64_t rest = Stream.Remaining();
  auto* img = new TIconImage();
  try {
    img->Data.resize(static_cast<std::size_t>(rest));
    Stream.ReadBuffer(img->Data.data(), img->Data.size());
    if (img->Data.size() < sizeof(ICONDIR)) throw EReadError(SReadError);
    const std::uint16_t type = Le16(img->Data.data() + 2);
    if (type != 0 && type != 1) throw EInvalidGraphic(SInvalidIcon);
    if (!IconDirectoryUsable(img->Data)) throw EInvalidGraphic(SInvalidIcon);
    // Only the entry that will be shown must be sound; others may be broken. (A later change of the
    // requested size is checked again when the handle is made.)
    if (type == 1 &&
        !IconEntryUsable(img->Data, ChosenIconEntry(img->Data, requestedWidth_, requestedHeight_)))
      throw EInvalidGraphic(SInvalidIcon);
  } catch (...) {
    delete img;
    throw;
  }
  SetImage(img);
  NotifyChanged();
}

void TIcon::WriteGraphicStream(TStream& Stream) {
  if (!image_->Data.empty()) Stream.WriteBuffer(image_->Data.data(), image_->Data.size());
}

void TIcon::HandleNeeded() {
  TIconImage* img = image_;
  if (img->Handle || img->Data.empty()) return;
  Gdi& gdi = GdiSvc();
  const std::vector<std::uint8_t>& d = img->Data;
  if (Le16(d.data() + 2) == 0) {
    img->Handle = gdi.LoadIcon(nullptr, IDI_APPLICATION());
    img->OwnHandle = false;
    img->Width = gdi.GetSystemMetrics(SM_CXICON);
    img->Height = gdi.GetSystemMetrics(SM_CYICON);
    if (!img->Handle) throw EInvalidGraphic(SInvalidIcon);
    return;
  }
  const int chosen = ChosenIconEntry(d, requestedWidth_, requestedHeight_);
  if (!IconEntryUsable(d, chosen)) throw EInvalidGraphic(SInvalidIcon);
  const std::uint8_t* e = DirEntry(d, chosen);
  const std::uint32_t size = Le32(e + 8), offset = Le32(e + 12);
  HICON icon = gdi.CreateIconFromResourceEx(d.data() + offset, size, 1, ICON_RESOURCE_VERSION, e[0], e[1],
                                            LR_DEFAULTCOLOR);
  if (!icon) throw EInvalidGraphic(SInvalidIcon);
  // The size is the image's own: a stored 0 means 256, and the platform knows the true size.
  int w = e[0], h = e[1];
  ICONINFO info{};
  if (gdi.GetIconInfo(icon, &info)) {
    BITMAP bm{};
    if (info.hbmColor && gdi.GetObject(Obj(info.hbmColor), sizeof bm, &bm)) {
      w = bm.bmWidth;
      h = bm.bmHeight;
    } else if (info.hbmMask && gdi.GetObject(Obj(info.hbmMask), sizeof bm, &bm)) {
      w = bm.bmWidth;
      h = bm.bmHeight / 2;  // a monochrome icon's mask holds both halves
    }
    if (info.hbmColor) gdi.DeleteObject(Obj(info.hbmColor));
    if (info.hbmMask) gdi.DeleteObject(Obj(info.hbmMask));
  }
  img->Handle = icon;
  img->OwnHandle = true;
  img->Width = w;
  img->Height = h;
}

plat::HICON TIcon::Handle() {
  HandleNeeded();
  return image_->Handle;
}

void TIcon::DrawGraphic(TCanvas& ACanvas, const TRect& Rect) {
  if (IsEmpty()) return;
  HandleNeeded();
  GdiSvc().DrawIconEx(ACanvas.Handle(), Rect.Left, Rect.Top, image_->Handle, 0, 0, 0, nullptr, DI_NORMAL);
}

void TIcon::ReadClipboard(plat::WORD, std::uintptr_t, plat::HPALETTE) {
  throw EInvalidGraphic(SUnsupportedClipboard);
}

void TIcon::WriteClipboard(plat::WORD&, std::uintptr_t&, plat::HPALETTE&) {
  throw EInvalidGraphic(SUnsupportedClipboard);
}
