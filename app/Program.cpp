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

TProgramScope::TProgramScope() {
  StartProgramUnits();
  Application = new TApplication(nullptr);
}

TProgramScope::~TProgramScope() {
  FreeComponent(Application);
  Application = nullptr;
  Form1 = nullptr;
  StopProgramUnits();
}

void StartEntryBlock() {
  Application->Initialize();
  Application->SetTitle(SAppTitle);
  Application->CreateForm(Form1);
}

void RunEntryBlock() {
  Application->Run();
}

TProgramOutcome RunProgram(const std::function<void()>& Loop) {
  TProgramOutcome outcome;
  TProgramScope scope;
  try {
    StartEntryBlock();
    Loop();
  } catch (...) {
    Application->HandleException(Application);
    outcome.Escaped = true;
  }
  outcome.ErrorReports = Application->ErrorReportCount();
  return outcome;
}

int RunDesktopProgram() {
  return RunProgram(RunEntryBlock).Escaped ? 1 : 0;
}
