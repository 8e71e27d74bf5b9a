#include "core/PropTable.h"

#include <cctype>
#include <limits>

#include "core/Consts.h"

bool TClassInfo::Less::operator()(const std::string& a, const std::string& b) const {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    int ca = std::tolower(static_cast<unsigned char>(a[i]));
    int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb;
  }
  return a.size() < b.size();
}

const TPropInfo* TClassInfo::FindProp(const std::string& name) const {
  for (const TClassInfo* c = this; c; c = c->Parent) {
    auto it = c->props_.find(name);
    if (it != c->props_.end()) return &it->second;
  }
  return nullptr;
}

const TClassInfo::TMethodBinder* TClassInfo::FindMethod(const std::string& name) const {
  for (const TClassInfo* c = this; c; c = c->Parent) {
    auto it = c->methods_.find(name);
    if (it != c->methods_.end()) return &it->second;
  }
  return nullptr;
}

const TClassInfo::TFieldSetter* TClassInfo::FindField(const std::string& name) const {
  for (const TClassInfo* c = this; c; c = c->Parent) {
    auto it = c->fields_.find(name);
    if (it != c->fields_.end()) return &it->second;
  }
  return nullptr;
}

bool TClassInfo::InheritsFrom(const std::string& className) const {
  for (const TClassInfo* c = this; c; c = c->Parent)
    if (SameText(c->Name, className)) return true;
  return false;
}

void TClassInfo::AddProp(const std::string& name, TPropInfo info) {
  props_[name] = std::move(info);
}
void TClassInfo::AddMethod(const std::string& name, TMethodBinder binder) {
  methods_[name] = std::move(binder);
}
void TClassInfo::AddField(const std::string& name, TFieldSetter setter) {
  fields_[name] = std::move(setter);
}

namespace {
struct Registry {
  // Pointers stay valid: each table is allocated once and never moved.
  std::map<std::string, std::unique_ptr<TClassInfo>> byName;
};
Registry& TheRegistry() {
  static Registry r;
  return r;
}
std::string Lower(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}
}  // namespace

TClassInfo& RegisterClassInfo(const std::string& name, const std::string& parent) {
  auto& reg = TheRegistry().byName;
  auto& slot = reg[Lower(name)];
  if (!slot) {
    slot = std::make_unique<TClassInfo>();
    slot->Name = name;
  }
  if (!parent.empty()) {
    const TClassInfo* p = FindClassInfo(parent);
    if (!p) throw EComponentError(Format(SClassNotFound, parent));
    slot->Parent = p;
  }
  return *slot;
}

const TClassInfo* FindClassInfo(const std::string& name) {
  auto& reg = TheRegistry().byName;
  auto it = reg.find(Lower(name));
  return it == reg.end() ? nullptr : it->second.get();
}

const TClassInfo* ClassInfoOf(const TPersistent& obj) {
  return FindClassInfo(obj.ClassName());
}

namespace detail {

void RaiseInvalidValue(const TReadValue&) {
  throw EPropertyError(SInvalidPropertyValue);
}

std::int32_t ToInt32(const TReadValue& v) {
  if (v.kind != TReadValue::Kind::Integer) RaiseInvalidValue(v);
  if (v.intValue < std::numeric_limits<std::int32_t>::min() ||
      v.intValue > std::numeric_limits<std::int32_t>::max())
    throw EPropertyError(Format(SOutOfRange, std::to_string(v.intValue)));
  return static_cast<std::int32_t>(v.intValue);
}

int ToEnum(const TReadValue& v, const std::vector<std::string>& names) {
  if (v.kind != TReadValue::Kind::Ident) RaiseInvalidValue(v);
  for (std::size_t i = 0; i < names.size(); ++i)
    if (SameText(names[i], v.text)) return static_cast<int>(i);
  RaiseInvalidValue(v);
}

std::uint32_t ToSet(const TReadValue& v, const std::vector<std::string>& names) {
  if (v.kind != TReadValue::Kind::Set) RaiseInvalidValue(v);
  std::uint32_t bits = 0;
  for (const std::string& e : v.setItems) {
    bool found = false;
    for (std::size_t i = 0; i < names.size() && i < 32; ++i) {
      if (SameText(names[i], e)) {
        bits |= 1u << i;
        found = true;
        break;
      }
    }
    if (!found) throw EPropertyError(Format(SInvalidSetElement, e));
  }
  return bits;
}

namespace {
struct ColorName {
  const char* name;
  TColor value;
};
const ColorName kColors[] = {
    {"clBlack", 0x000000},
    {"clMaroon", 0x000080},
    {"clGreen", 0x008000},
    {"clOlive", 0x008080},
    {"clNavy", 0x800000},
    {"clPurple", 0x800080},
    {"clTeal", 0x808000},
    {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},
    {"clLime", 0x00FF00},
    {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},
    {"clFuchsia", 0xFF00FF},
    {"clAqua", 0xFFFF00},
    {"clWhite", 0xFFFFFF},
    {"clNone", clNone},
    {"clDefault", clDefault},
    {"clBtnFace", clBtnFace},
    {"clWindow", static_cast<TColor>(0xFF000005)},
    {"clWindowText", static_cast<TColor>(0xFF000008)},
};
}  // namespace

TColor ToColor(const TReadValue& v) {
  if (v.kind == TReadValue::Kind::Integer) return ToInt32(v);
  if (v.kind == TReadValue::Kind::Ident) {
    for (const ColorName& c : kColors)
      if (SameText(c.name, v.text)) return c.value;
  }
  RaiseInvalidValue(v);
}

}  // namespace detail

void RegisterCoreClasses() {
  RegisterClassInfo(TPersistent::StaticClassName(), "");
  RegisterClassInfo(TCollectionItem::StaticClassName(), TPersistent::StaticClassName());
  RegisterClassInfo(TCollection::StaticClassName(), TPersistent::StaticClassName());
  RegisterClass<TComponent>(TPersistent::StaticClassName())
      .Str("Name", [](TComponent& c, const std::string& s) { c.SetName(s); });
  // The component itself is never created by class name.
  RegisterClassInfo(TComponent::StaticClassName(), "").Factory = nullptr;
}
