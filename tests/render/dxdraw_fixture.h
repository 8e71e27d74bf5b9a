// A soft platform with an application, a form and a drawing surface on it, for the drawing surface tests;
// plus a recorder of events and surface notifications in the order they arrive.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/common/SoftClock.h"
#include "platform/common/SoftDirectDraw.h"
#include "platform/soft/SoftPlatform.h"
#include "render/DXDraws.h"
#include "ui/Forms.h"

inline const char* SurfaceNotifyName(TSurfaceNotifyKind k) {
  static const char* names[] = {"snDestroying", "snInitializing",    "snInitialize", "snInitializeSurface",
                                "snFinalize",   "snFinalizeSurface", "snRestore",    "snSetSurfaceSize"};
  return names[k];
}

// Records the component's events and the notifications a registered handler receives.
struct TEventLog {
  std::vector<std::string> entries;
  void OnNotify(TCustomDXDraw*, TSurfaceNotifyKind kind) { entries.push_back(SurfaceNotifyName(kind)); }
  TSurfaceNotifyHandler Handler() { return MakeSurfaceNotifyHandler<TEventLog, &TEventLog::OnNotify>(this); }
  void WireEvents(TCustomDXDraw& d) {
    d.OnInitializing = [this](TObject*) { entries.push_back("OnInitializing"); };
    d.OnInitialize = [this](TObject*) { entries.push_back("OnInitialize"); };
    d.OnInitializeSurface = [this](TObject*) { entries.push_back("OnInitializeSurface"); };
    d.OnRestoreSurface = [this](TObject*) { entries.push_back("OnRestoreSurface"); };
    d.OnFinalizeSurface = [this](TObject*) { entries.push_back("OnFinalizeSurface"); };
    d.OnFinalize = [this](TObject*) { entries.push_back("OnFinalize"); };
  }
};

class DXDrawFixture : public ::testing::Test {
 protected:
  DXDrawFixture() { Build(plat::soft::SoftOptions()); }
  ~DXDrawFixture() override { TearDownAll(); }

  // Rebuilds everything on a screen of the given size and depth.
  void Rebuild(int width, int height, int bitCount) {
    TearDownAll();
    plat::soft::SoftOptions o;
    o.screenWidth = width;
    o.screenHeight = height;
    o.screenBitCount = bitCount;
    Build(o);
  }

  void Build(const plat::soft::SoftOptions& o) {
    platform_ = std::make_unique<plat::soft::SoftPlatform>(o);
    RegisterDXDrawClasses();
    Application = new TApplication(nullptr);
    Application->Initialize();
    form = CreateForm<TForm>(Application);
    form->SetBounds(100, 50, 400, 300);
    draw = new TDXDraw(form);
    draw->SetAutoInitialize(false);  // as the program's form description has it
    draw->SetParent(form);
    draw->SetBounds(10, 20, 320, 240);
    form->Show();
  }

  void TearDownAll() {
    if (!platform_) return;
    delete Application;
    Application = nullptr;
    FreeDirectXLibraries();
    RenderError = false;
    platform_.reset();
  }

  // Event logs live as long as the fixture, so the finalisation at tear-down still finds them.
  TEventLog& NewLog() {
    logs_.push_back(std::make_unique<TEventLog>());
    return *logs_.back();
  }

  plat::soft::SoftDirectDraw& ddraw() { return platform_->ddraw(); }
  plat::soft::SoftClock& clock() { return platform_->clock(); }

  std::vector<std::unique_ptr<TEventLog>> logs_;
  std::unique_ptr<plat::soft::SoftPlatform> platform_;
  TForm* form = nullptr;
  TDXDraw* draw = nullptr;
};
