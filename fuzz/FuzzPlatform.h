// The virtual desktop a fuzz target draws on: a 64x64 screen, made once per process and never destroyed
// (libFuzzer ends the process without unwinding).
#pragma once

#include "platform/soft/SoftPlatform.h"

inline plat::soft::SoftPlatform& FuzzPlatform() {
  static auto* platform = [] {
    plat::soft::SoftOptions o;
    o.screenWidth = 64;
    o.screenHeight = 64;
    return new plat::soft::SoftPlatform(o);
  }();
  return *platform;
}
