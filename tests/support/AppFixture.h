// A fresh application on a fresh soft platform (virtual clock) for every test.
#pragma once

#include <gtest/gtest.h>

#include "platform/common/SoftClock.h"
#include "platform/soft/SoftPlatform.h"
#include "platform/soft/SoftWindows.h"
#include "ui/Forms.h"

class AppFixture : public ::testing::Test {
 protected:
  AppFixture();
  ~AppFixture() override;

  plat::soft::SoftWindowSystem& windows() { return platform_.windows(); }
  plat::soft::SoftClock& clock() { return platform_.clock(); }
  TApplication& app() { return *Application; }

 private:
  plat::soft::SoftPlatform platform_;
};
