#include "app/Program.h"

#include "app/Unit1.h"
#include "picture/Graphics.h"
#include "picture/jpeg/jpeg.h"
#include "picture/pngimage/pngimage.h"
#include "render/DIB.h"
#include "render/DXClass.h"
#include "render/DXDraws.h"
#include "ui/Forms.h"

void StartProgramUnits() {
  InitGraphicsUnit();
  InitJpegUnit();
  InitDIBUnit();
  InitPngUnit();
  RegisterFormClasses();
  RegisterDXClassClasses();
  RegisterDXDrawClasses();
  RegisterDXImageListClasses();
  RegisterUnit1();
}

void StopProgramUnits() {
  DonePngUnit();
  FinalizeDIBUnit();
  DoneJpegUnit();
  FreeDirectXLibraries();
}

void StartEntryBlock() {
  Application->Initialize();
  Application->SetTitle(SAppTitle);
  Application->CreateForm(Form1);
}

void RunEntryBlock() {
  Application->Run();
}

int RunDesktopProgram() {
  StartProgramUnits();
  Application = new TApplication(nullptr);
  int rc = 0;
  try {
    StartEntryBlock();
    RunEntryBlock();
  } catch (const Exception& e) {
    if (!dynamic_cast<const EAbort*>(&e)) Application->ShowException(e.Message);
    rc = 1;
  }
  FreeComponent(Application);
  Application = nullptr;
  Form1 = nullptr;
  StopProgramUnits();
  return rc;
}
