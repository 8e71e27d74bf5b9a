// Form descriptions of any shape must end in a clean error or a loaded component tree.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/FormReader.h"
#include "core/PropTable.h"
#include "platform/soft/SoftPlatform.h"
#include "render/DXClass.h"
#include "ui/Forms.h"

namespace {

class TFuzzItem : public TCollectionItem {
  DS_CLASS_NAME(TFuzzItem)
 public:
  explicit TFuzzItem(TCollection* c) : TCollectionItem(c) {}
  std::string name;
  std::vector<std::uint8_t> data;
};

class TFuzzRoot : public TComponent {
  DS_CLASS_NAME(TFuzzRoot)
 public:
  explicit TFuzzRoot(TComponent* owner) : TComponent(owner) {}
  TCollection items{[](TCollection* c) -> TCollectionItem* { return new TFuzzItem(c); }, this};
  void Notify(TObject*) {}
  void Tick(TObject*, std::int32_t) {}
};

struct Setup {
  Setup() : platform() {
    RegisterFormClasses();
    RegisterDXClassClasses();
    RegisterClass<TFuzzRoot>(TComponent::StaticClassName())
        .Method("Notify", &TFuzzRoot::Notify)
        .Method("Tick", &TFuzzRoot::Tick)
        .Object("Items", [](TFuzzRoot& r) -> TPersistent* { return &r.items; });
    RegisterClass<TFuzzItem>(TCollectionItem::StaticClassName())
        .Str("Name", [](TFuzzItem& i, const std::string& v) { i.name = v; })
        .Binary("Data", [](TFuzzItem& i, TStream& s) {
          i.data.resize(static_cast<std::size_t>(s.GetSize()));
          s.ReadBuffer(i.data.data(), i.data.size());
        });
    Application = new TApplication(nullptr);
  }
  plat::soft::SoftPlatform platform;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Setup setup;
  std::string text(reinterpret_cast<const char*>(data), size);
  TFuzzRoot root(nullptr);
  try {
    ReadComponentFromText(&root, text);
  } catch (const Exception&) {
  }
  Application->OnIdle = nullptr;
  return 0;
}
