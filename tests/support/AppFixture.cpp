#include "support/AppFixture.h"

AppFixture::AppFixture() {
  RegisterFormClasses();
  Application = new TApplication(nullptr);
  Application->Initialize();
}

AppFixture::~AppFixture() {
  delete Application;
}
