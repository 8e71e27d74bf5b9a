// Objects, persistent objects, components and collections: ownership, the loading state, removal
// notifications and assignment. Published properties live in core/PropTable.h, the form reader in
// core/FormReader.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/SysUtils.h"

class TStream;
class TFiler;
class TComponent;

DS_DECLARE_EXCEPTION(EComponentError, Exception);

// Declares the class-name pair every framework class carries; the name is the key of its published
// property table and the text error messages show.
#define DS_CLASS_NAME(Name)                \
 public:                                   \
  static const char* StaticClassName() {   \
    return #Name;                          \
  }                                        \
  const char* ClassName() const override { \
    return #Name;                          \
  }                                        \
                                           \
 private:

class TObject {
 public:
  virtual ~TObject() = default;
  static const char* StaticClassName() { return "TObject"; }
  virtual const char* ClassName() const { return "TObject"; }
};

// Event handler types shared by every class.
using TNotifyEvent = std::function<void(TObject* Sender)>;

class TPersistent : public TObject {
  DS_CLASS_NAME(TPersistent)
 public:
  // Copies Source into this object. The base raises EConvertError "Cannot assign a %s to a %s".
  virtual void Assign(const TPersistent* Source);
  // Stored data that is not a plain published property (binary blocks and the like).
  virtual void DefineProperties(TFiler& Filer);
  // The object this one belongs to, for name paths; none by default.
  virtual TPersistent* GetOwner() const { return nullptr; }
  virtual std::string GetNamePath() const;

 protected:
  virtual void AssignTo(TPersistent* Dest) const;
  [[noreturn]] void AssignError(const TPersistent* Source) const;
};

// Additional stored properties an object defines for itself: the form reader offers a value to the
// reader function of the property with that name.
struct TReadValue;
class TFiler {
 public:
  using TValueReader = std::function<void(const TReadValue&)>;
  using TBinaryReader = std::function<void(TStream&)>;
  void DefineProperty(const std::string& Name, TValueReader Reader) {
    values_.push_back({Name, std::move(Reader)});
  }
  void DefineBinaryProperty(const std::string& Name, TBinaryReader Reader) {
    binaries_.push_back({Name, std::move(Reader)});
  }
  const TValueReader* FindValueReader(const std::string& Name) const;
  const TBinaryReader* FindBinaryReader(const std::string& Name) const;

 private:
  std::vector<std::pair<std::string, TValueReader>> values_;
  std::vector<std::pair<std::string, TBinaryReader>> binaries_;
};

// Component states (bits of TComponent::ComponentState).
enum TComponentStateBits : std::uint32_t {
  csLoading = 1u << 0,
  csReading = 1u << 1,
  csDestroying = 1u << 2,
  csDesigning = 1u << 3,
};
using TComponentState = std::uint32_t;

enum class TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
  DS_CLASS_NAME(TComponent)
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  TPersistent* GetOwner() const override { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  // Raises EListError "List index out of bounds (%d)".
  TComponent* Components(int Index) const;
  int ComponentIndex() const;
  TComponent* FindComponent(const std::string& Name) const;

  const std::string& Name() const { return name_; }
  // Raises EComponentError for an invalid identifier or a name an owner's sibling already has.
  virtual void SetName(const std::string& NewName);
  std::string GetNamePath() const override;

  TComponentState ComponentState() const { return state_; }
  bool IsLoading() const { return (state_ & (csLoading | csReading)) != 0; }
  bool IsDesigning() const { return (state_ & csDesigning) != 0; }
  bool IsDestroying() const { return (state_ & csDestroying) != 0; }
  void SetComponentState(TComponentState flags) { state_ |= flags; }
  void ClearComponentState(TComponentState flags) { state_ &= ~flags; }

  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);
  void DestroyComponents();
  // Marks this component and every owned one as being destroyed.
  virtual void Destroying();
  // Runs while the object is still whole, right before it is deleted (FreeComponent, an owner freeing its
  // components): work that calls back into derived classes — a form's OnDestroy, destroying its window, whose
  // WM_DESTROY reaches handlers of the derived form — belongs here, never in a destructor.
  virtual void BeforeDestruction();

  // Asks to be told (Notification opRemove) when AComponent is destroyed, and the other way round.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  // The after-loading step: clears csLoading. Overrides call it first.
  virtual void Loaded();
  // A component that sits inside another in the stored description (a control in its parent, a menu item
  // in its menu) is put there by this call before its properties are read.
  virtual bool HasParent() const { return false; }
  virtual void SetParentComponent(TComponent* Value);
  virtual TComponent* GetParentComponent() const { return nullptr; }

 protected:
  // Sent to the owner's components on insertion and removal, and to components that asked with
  // FreeNotification when this one goes.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  virtual void ValidateRename(TComponent* AComponent, const std::string& CurName, const std::string& NewName);

 private:
  void Insert(TComponent* AComponent);
  void Remove(TComponent* AComponent);
  void RemoveNotification(TComponent* AComponent);
  void SendNotification(TComponent* AComponent, TOperation Operation);

  TComponent* owner_ = nullptr;
  std::string name_;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
  TComponentState state_ = 0;
};

bool IsValidIdent(const std::string& s);
bool SameText(const std::string& a, const std::string& b);

class TCollection;

class TCollectionItem : public TPersistent {
  DS_CLASS_NAME(TCollectionItem)
 public:
  explicit TCollectionItem(TCollection* Collection);
  ~TCollectionItem() override;
  TCollectionItem(const TCollectionItem&) = delete;
  TCollectionItem& operator=(const TCollectionItem&) = delete;

  TCollection* Collection() const { return collection_; }
  void SetCollection(TCollection* Value);
  int Index() const;
  int ID() const { return id_; }
  TPersistent* GetOwner() const override;
  virtual std::string GetDisplayName() const { return ClassName(); }
  std::string GetNamePath() const override;

 protected:
  void Changed(bool AllItems);

 private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
  int id_ = 0;
};

// An owned, ordered list of items of one class.
class TCollection : public TPersistent {
  DS_CLASS_NAME(TCollection)
 public:
  using TItemFactory = std::function<TCollectionItem*(TCollection*)>;
  explicit TCollection(TItemFactory Factory, TPersistent* Owner = nullptr);
  ~TCollection() override;
  TCollection(const TCollection&) = delete;
  TCollection& operator=(const TCollection&) = delete;

  TPersistent* GetOwner() const override { return owner_; }
  TCollectionItem* Add();
  void Clear();
  void Delete(int Index);
  int Count() const { return static_cast<int>(items_.size()); }
  // Raises EListError "List index out of bounds (%d)".
  TCollectionItem* GetItem(int Index) const;
  TCollectionItem* FindItemID(int ID) const;
  void Assign(const TPersistent* Source) override;
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }
  std::string GetNamePath() const override;
  // Name of the property this collection is stored under in its owner.
  std::string PropName;

 protected:
  // Called when an item (or all, Item null) changed, outside BeginUpdate/EndUpdate.
  virtual void Update(TCollectionItem* Item);
  virtual void Added(TCollectionItem* Item);
  virtual void Deleting(TCollectionItem* Item);
  void Changed();

 private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* Item);
  void RemoveItem(TCollectionItem* Item);

  TItemFactory factory_;
  TPersistent* owner_;
  std::vector<TCollectionItem*> items_;
  int nextId_ = 0;
  int updateCount_ = 0;
};

// Deletes a component the way its owner would: BeforeDestruction first, then the destructor. Null is fine.
void FreeComponent(TComponent* AComponent);
