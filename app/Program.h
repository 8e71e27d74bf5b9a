// The program's start and end, written once for every way it runs: a desktop backend installs its platform
// services and calls RunDesktopProgram; the headless run installs the soft platform and calls RunProgram
// with its own frame-limited loop; the integration tests hold a TProgramScope and drive the loop by hand.
#pragma once

#include <functional>

// Unit start-up, in the order that gives the picture format list "wmf emf ico bmp jpeg jpg dib png", then
// the form reader's class tables and Form1's stored description. Needs the platform services installed.
void StartProgramUnits();
// Unit shutdown: the picture formats the units added and the run-time loaded libraries.
void StopProgramUnits();

// The program's objects for one run, on the platform services already installed. Construction starts the
// units and creates Application; destruction frees Application (the main form and its components with
// it, so the drawing surface is finalised while the form is still whole), forgets Form1 and stops the
// units, whatever happened in between. One scope at a time.
class TProgramScope {
 public:
  TProgramScope();
  ~TProgramScope();
  TProgramScope(const TProgramScope&) = delete;
  TProgramScope& operator=(const TProgramScope&) = delete;
};

// Start-up up to the running loop: initialise Application, set its title (the caption of every message
// box), create Form1 (reading its stored description, then FormCreate); being the first form, it becomes
// the main form. An error escaping the form's creation passes on.
void StartEntryBlock();
// The loop of a desktop run: show the main form, then handle messages until the program is told to end.
void RunEntryBlock();

// How a run went.
struct TProgramOutcome {
  // Error boxes the application showed (start-up failures, errors in frames or commands, and an error
  // that escaped the entry block, which is reported the same way).
  int ErrorReports = 0;
  // An error escaped the entry block or the loop (the run stopped there).
  bool Escaped = false;
};

// The whole program on the platform services already installed: TProgramScope, StartEntryBlock, then
// Loop (RunEntryBlock for a desktop), then the scope's shutdown. An error escaping start-up or the loop is
// shown in the application's error box like any other, and shutdown still runs.
TProgramOutcome RunProgram(const std::function<void()>& Loop);

// RunProgram with the desktop loop; the process's exit status: 0, or 1 when an error escaped. The user saw
// every error box, so errors reported while the program ran do not change the status.
int RunDesktopProgram();
