#include "picture/Graphics.h"

#include <utility>

#include "platform/Gdi.h"

// ---------------------------------------------------------------------------------------------------------
// Class references

bool TGraphicClassInfo::InheritsFrom(const TGraphicClassInfo* ancestor) const {
  for (const TGraphicClassInfo* c = this; c != nullptr; c = c->Parent)
    if (c == ancestor) return true;
  return false;
}

std::unique_ptr<TGraphic> TGraphicClassInfo::NewInstance() const {
  if (Create == nullptr) throw EInvalidGraphicOperation(Format("Cannot create an instance of %s", Name));
  return Create();
}

TGraphicClass TGraphic::StaticClass() {
  static const TGraphicClassInfo info{"TGraphic", nullptr, nullptr};
  return &info;
}

// ---------------------------------------------------------------------------------------------------------
// TSharedImage

void TSharedImage::Release() {
  if (--refCount_ > 0) return;
  FreeHandle();
  delete this;
}

// ---------------------------------------------------------------------------------------------------------
// TGraphic

void TGraphic::Assign(const TGraphic* Source) {
  if (Source == nullptr) throw EConvertError(Format(SAssignError, "nil", ClassName()));
  Source->AssignTo(this);
}

void TGraphic::AssignTo(TGraphic* Dest) const {
  throw EConvertError(Format(SAssignError, ClassName(), Dest ? Dest->ClassName() : "nil"));
}

void TGraphic::NotifyChanged() {
  modified_ = true;
  if (OnChange) OnChange(this);
}

bool TGraphic::SameImage(TGraphic& Other) {
  if (&Other == this) return true;
  if (IsEmpty() || Other.IsEmpty()) return IsEmpty() && Other.IsEmpty();
  if (ClassType() != Other.ClassType()) return false;
  TMemoryStream mine, theirs;
  WriteFormData(mine);
  Other.WriteFormData(theirs);
  return mine.Data() == theirs.Data();
}

plat::HPALETTE TGraphic::QueryPalette() {
  return nullptr;
}

bool TGraphic::QueryTransparent() const {
  return transparent_;
}

void TGraphic::ReadFormData(TStream& Stream) {
  ReadGraphicStream(Stream);
}

void TGraphic::ReplacePalette(plat::HPALETTE) {}

void TGraphic::ChangeTransparent(bool Value) {
  if (Value == transparent_) return;
  transparent_ = Value;
  NotifyChanged();
}

void TGraphic::WriteFormData(TStream& Stream) {
  WriteGraphicStream(Stream);
}

std::unique_ptr<TGraphic> TGraphic::CreateGraphic() const {
  return ClassType()->NewInstance();
}

void TGraphic::ReadGraphicFile(const std::string& FileName) {
  TFileStream stream(FileName, TFileMode::fmOpenRead);
  ReadGraphicStream(stream);
}

void TGraphic::WriteGraphicFile(const std::string& FileName) {
  TFileStream stream(FileName, TFileMode::fmCreate);
  WriteGraphicStream(stream);
}

void TGraphic::SetModified(bool Value) {
  if (Value)
    NotifyChanged();
  else
    modified_ = false;
}

void TGraphic::Progress(void* Sender, TProgressStage Stage, std::uint8_t PercentDone, bool RedrawNow,
                        const TRect& R, const std::string& Msg) {
  if (OnProgress) OnProgress(Sender, Stage, PercentDone, RedrawNow, R, Msg);
}

// ---------------------------------------------------------------------------------------------------------
// Format list

void TFileFormatsList::Add(const std::string& Ext, const std::string& Desc, std::int32_t DescID,
                           TGraphicClass AClass) {
  items_.push_back(TFileFormat{AClass, AnsiLowerCase(Ext), Desc, DescID});
}

TGraphicClass TFileFormatsList::FindFormatByExtension(const std::string& Ext) const {
  const std::string wanted = AnsiLowerCase(Ext);
  for (auto it = items_.rbegin(); it != items_.rend(); ++it)
    if (it->Extension == wanted) return it->GraphicClass;
  return nullptr;
}

TGraphicClass TFileFormatsList::FindClassName(const std::string& Name) const {
  for (auto it = items_.rbegin(); it != items_.rend(); ++it)
    if (Name == it->GraphicClass->Name) return it->GraphicClass;
  return nullptr;
}

void TFileFormatsList::Remove(TGraphicClass AClass) {
  std::vector<TFileFormat> kept;
  for (auto& f : items_)
    if (!f.GraphicClass->InheritsFrom(AClass)) kept.push_back(std::move(f));
  items_ = std::move(kept);
}

const TFileFormat& TFileFormatsList::Item(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format("List index out of bounds (%d)", Index));
  return items_[static_cast<std::size_t>(Index)];
}

TFileFormatsList& PictureFormats() {
  static TFileFormatsList* list = [] {
    auto* l = new TFileFormatsList();
    l->Add("wmf", SVMetafiles, 0, TMetafile::StaticClass());
    l->Add("emf", SVEnhMetafiles, 0, TMetafile::StaticClass());
    l->Add("ico", SVIcons, 0, TIcon::StaticClass());
    l->Add("bmp", SVBitmaps, 0, TBitmap::StaticClass());
    return l;
  }();
  return *list;
}

std::vector<TClipboardFormat>& ClipboardFormats() {
  static std::vector<TClipboardFormat>* table = new std::vector<TClipboardFormat>{
      {CF_METAFILEPICT, TMetafile::StaticClass()},
      {CF_ENHMETAFILE, TMetafile::StaticClass()},
      {CF_BITMAP, TBitmap::StaticClass()},
  };
  return *table;
}

TGraphicClass FindClipboardFormat(plat::WORD Format) {
  auto& table = ClipboardFormats();
  for (auto it = table.rbegin(); it != table.rend(); ++it)
    if (it->Format == Format) return it->GraphicClass;
  return nullptr;
}

std::string AnsiLowerCase(const std::string& S) {
  std::string r = S;
  for (char& ch : r) {
    auto c = static_cast<unsigned char>(ch);
    if (c >= 'A' && c <= 'Z')
      c = static_cast<unsigned char>(c + 32);
    else if (c >= 0xC0 && c <= 0xDE && c != 0xD7)  // Latin-1 capitals except the multiplication sign
      c = static_cast<unsigned char>(c + 32);
    else if (c == 0x8A || c == 0x8C || c == 0x8E)  // the code page's S, OE and Z with caron/ligature
      c = static_cast<unsigned char>(c + 16);
    else if (c == 0x9F)  // Y with diaeresis
      c = 0xFF;
    ch = static_cast<char>(c);
  }
  return r;
}

std::string PictureFileExtension(const std::string& FileName) {
  const std::size_t sep = FileName.find_last_of("\\:/");
  const std::size_t start = sep == std::string::npos ? 0 : sep + 1;
  const std::size_t dot = FileName.rfind('.');
  if (dot == std::string::npos || dot < start) return std::string();
  return FileName.substr(dot + 1);
}

void InitGraphicsUnit() {
  PictureFormats();
  ClipboardFormats();
}

namespace {
TPngIconDecoder g_pngIconDecoder = nullptr;
}

// The platform makes icons and calls the decoder for PNG entries; this unit only hands it over.
void SetPngIconDecoder(TPngIconDecoder Decoder) {
  g_pngIconDecoder = Decoder;
  if (Decoder != nullptr)
    plat::SetIconPngDecoder(Decoder);
  else
    plat::SetIconPngDecoder(nullptr);
}
TPngIconDecoder GetPngIconDecoder() {
  return g_pngIconDecoder;
}

// ---------------------------------------------------------------------------------------------------------
// TPicture

TPicture::TPicture() {
  PictureFormats();
}

TPicture::~TPicture() = default;

void TPicture::Install(std::unique_ptr<TGraphic> g) {
  if (g) {
    g->OnChange = [this](void* sender) { Changed(sender); };
    g->OnProgress = [this](void* sender, TProgressStage stage, std::uint8_t pct, bool redraw, const TRect& r,
                           const std::string& msg) { Progress(sender, stage, pct, redraw, r, msg); };
  }
  graphic_ = std::move(g);
}

void TPicture::Changed(void*) {
  if (OnChange) OnChange(this);
  if (Notify != nullptr) Notify->Changed();
}

void TPicture::Progress(void* Sender, TProgressStage Stage, std::uint8_t PercentDone, bool RedrawNow,
                        const TRect& R, const std::string& Msg) {
  if (OnProgress) OnProgress(Sender, Stage, PercentDone, RedrawNow, R, Msg);
}

void TPicture::SetGraphic(const TGraphic* Value) {
  std::unique_ptr<TGraphic> g;
  if (Value != nullptr) {
    g = Value->CreateGraphic();
    g->Assign(Value);
  }
  Install(std::move(g));
  Changed(this);
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> Value) {
  Install(std::move(Value));
  Changed(this);
}

template <typename T>
T& TPicture::ForceGraphic() {
  if (!graphic_ || !graphic_->InheritsFrom(T::StaticClass())) {
    Install(std::make_unique<T>());
    Changed(this);
  }
  return static_cast<T&>(*graphic_);
}

TBitmap& TPicture::Bitmap() {
  return ForceGraphic<TBitmap>();
}
TIcon& TPicture::Icon() {
  return ForceGraphic<TIcon>();
}
TMetafile& TPicture::Metafile() {
  return ForceGraphic<TMetafile>();
}

void TPicture::LoadPictureFile(const std::string& FileName) {
  const std::string ext = PictureFileExtension(FileName);
  TGraphicClass cls = PictureFormats().FindFormatByExtension(ext);
  if (cls == nullptr) throw EInvalidGraphic(Format(SUnknownExtension, ext));
  std::unique_ptr<TGraphic> g = cls->NewInstance();
  g->OnProgress = [this](void* sender, TProgressStage stage, std::uint8_t pct, bool redraw, const TRect& r,
                         const std::string& msg) { Progress(sender, stage, pct, redraw, r, msg); };
  // A failure destroys the new graphic on the way out and leaves the current one alone.
  g->ReadGraphicFile(FileName);
  Install(std::move(g));
  Changed(this);
}

void TPicture::SaveToFile(const std::string& FileName) {
  if (graphic_) graphic_->WriteGraphicFile(FileName);
}

void TPicture::Assign(const TPicture* Source) {
  SetGraphic(Source ? Source->Graphic() : nullptr);
}

void TPicture::Assign(const TPersistent* Source) {
  if (Source == nullptr) {
    SetGraphic(static_cast<const TGraphic*>(nullptr));
    return;
  }
  if (const auto* pic = dynamic_cast<const TPicture*>(Source)) {
    Assign(pic);
    return;
  }
  TPersistent::Assign(Source);
}

void TPicture::DefineProperties(TFiler& Filer) {
  Filer.DefineBinaryProperty("Data", [this](TStream& Stream) { ReadData(Stream); });
}

void TPicture::ReadData(TStream& Stream) {
  std::uint8_t len = 0;
  Stream.ReadBuffer(&len, 1);
  std::string name(len, '\0');
  Stream.ReadBuffer(name.data(), len);
  std::unique_ptr<TGraphic> g;
  if (TGraphicClass cls = PictureFormats().FindClassName(name)) {
    g = cls->NewInstance();
    g->ReadFormData(Stream);
  }
  Install(std::move(g));
  Changed(this);
}

void TPicture::WriteData(TStream& Stream) {
  std::string name = graphic_ ? graphic_->ClassName() : "";
  if (name.size() > 255) name.resize(255);
  const auto len = static_cast<std::uint8_t>(name.size());
  Stream.WriteBuffer(&len, 1);
  Stream.WriteBuffer(name.data(), len);
  if (graphic_) graphic_->WriteFormData(Stream);
}

void TPicture::RegisterPictureFormat(const std::string& Extension, const std::string& Description,
                                     TGraphicClass GraphicClass) {
  PictureFormats().Add(Extension, Description, 0, GraphicClass);
}

void TPicture::RegisterClipboardFormat(plat::WORD Format, TGraphicClass GraphicClass) {
  ClipboardFormats().push_back({Format, GraphicClass});
}

void TPicture::UnregisterGraphicClass(TGraphicClass GraphicClass) {
  PictureFormats().Remove(GraphicClass);
  auto& table = ClipboardFormats();
  std::vector<TClipboardFormat> kept;
  for (const auto& e : table)
    if (!e.GraphicClass->InheritsFrom(GraphicClass)) kept.push_back(e);
  table = std::move(kept);
}
