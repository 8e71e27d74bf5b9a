// DirectX support classes. The frame timer: a non-visual component that raises its event from the
// application's idle time, at most once per Interval milliseconds, with the number of intervals passed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Components.h"
#include "platform/Types.h"
#include "ui/Controls.h"

using TDXTimerEvent = std::function<void(TObject* Sender, std::int32_t LagCount)>;

class TCustomDXTimer : public TComponent {
  DS_CLASS_NAME(TCustomDXTimer)
 public:
  // Defaults: ActiveOnly true, Enabled true, Interval 1000; installs the activation hook.
  explicit TCustomDXTimer(TComponent* AOwner);
  // Disarms, removes the activation hook, then destroys the component.
  ~TCustomDXTimer() override;

  bool ActiveOnly() const { return ActiveOnly_; }
  void SetActiveOnly(bool Value);
  bool Enabled() const { return Enabled_; }
  void SetEnabled(bool Value);
  std::uint32_t Interval() const { return Interval_; }
  void SetInterval(std::int32_t Value);
  std::int32_t FramesPerSecond() const { return FramesPerSecond_; }
  bool Armed() const { return Armed_; }
  std::int32_t StepInterval() const { return StepInterval_; }

  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TDXTimerEvent OnTimer;

  // Run by the application whenever its message queue is empty, while this timer holds the idle slot.
  void IdleTick(bool& Done);
  // After loading: arms when Enabled (and not designing).
  void Loaded() override;

 protected:
  virtual void NotifyActivate();
  virtual void NotifyDeactivate();
  virtual void NotifyTimer(std::int32_t LagCount);

 private:
  void Arm();
  void Disarm();
  void AttachIdleHook();
  void DetachIdleHook();
  bool ActivationHook(TMessage& Message);

  // Field order as the component's layout is documented.
  bool ActiveOnly_ = true;
  bool Enabled_ = true;
  std::int32_t FramesPerSecond_ = 0;
  bool Armed_ = false;
  std::uint32_t Interval_ = 1000;
  std::int32_t StepInterval_ = 1000;
  std::int32_t RateFrameCount_ = 0;
  std::uint32_t LastTickTime_ = 0;
  std::uint32_t RateWindowStart_ = 0;
  int hookId_ = 0;
};

class TDXTimer : public TCustomDXTimer {
  DS_CLASS_NAME(TDXTimer)
 public:
  explicit TDXTimer(TComponent* AOwner) : TCustomDXTimer(AOwner) {}
};

// Base of the DirectX wrapper objects: keeps the result code of the last call instead of raising, so a
// failing call is silent unless the step that needs its success tests ResultCode.
class TDirectX : public TPersistent {
  DS_CLASS_NAME(TDirectX)
 public:
  plat::HRESULT ResultCode() const { return ResultCode_; }
  // Stores Code; a failure (non-zero) is also handed to Check.
  void SetResult(plat::HRESULT Code);

 protected:
  // Called for every non-zero result; does nothing here, so wrappers stay silent.
  virtual void Check() {}

 private:
  plat::HRESULT ResultCode_ = 0;
};

// The hook's view of one message: the message and the procedure that was in place before the hook.
using TControlSubClassProc = std::function<void(TMessage& Message, const TWndMethod& DefWindowProc)>;

// Hooks a control's message procedure: every message goes to Proc together with the previous procedure;
// freeing the hook puts the previous procedure back. The hook's state lives inside the procedure it
// installed, so a control destroyed first simply takes the hook with it and freeing the hook later touches
// nothing.
class TControlSubClass : public TObject {
 public:
  TControlSubClass(TControl* Control, TControlSubClassProc Proc);
  ~TControlSubClass() override;
  TControlSubClass(const TControlSubClass&) = delete;
  TControlSubClass& operator=(const TControlSubClass&) = delete;

  TControl* Control() const { return control_; }
  // Whether the installed procedure still exists (false once the control's procedure was destroyed).
  bool Attached() const { return !state_.expired(); }

 private:
  struct TState {
    TControlSubClassProc proc;
    TWndMethod previous;
  };
  TControl* control_;
  std::weak_ptr<TState> state_;
};

// A collection whose items carry names, with a case-insensitive index from name to items.
class THashCollection;

class THashCollectionItem : public TCollectionItem {
  DS_CLASS_NAME(THashCollectionItem)
 public:
  explicit THashCollectionItem(TCollection* Collection);
  ~THashCollectionItem() override;

  const std::string& Name() const { return Name_; }
  void SetName(const std::string& Value);
  std::string GetDisplayName() const override;

 private:
  friend class THashCollection;
  std::string Name_;
  THashCollection* indexedIn_ = nullptr;
};

class THashCollection : public TCollection {
  DS_CLASS_NAME(THashCollection)
 public:
  explicit THashCollection(TItemFactory Factory, TPersistent* Owner = nullptr);
  ~THashCollection() override;

  // Index of the first item (lowest index) with that name, ignoring letter case; -1 when none.
  int IndexOf(const std::string& Name) const;
  THashCollectionItem* Find(const std::string& Name) const;

 protected:
  void Deleting(TCollectionItem* Item) override;

 private:
  friend class THashCollectionItem;
  static std::string Key(const std::string& Name);
  void IndexName(THashCollectionItem* Item);
  void UnindexName(THashCollectionItem* Item);
  std::unordered_map<std::string, std::vector<THashCollectionItem*>> index_;
};

// Registers the classes of this unit for the form reader (idempotent).
void RegisterDXClassClasses();
