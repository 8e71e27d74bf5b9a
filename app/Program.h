// The program's start and end as explicit steps, so that the executable and the integration tests run the
// very same sequence.
#pragma once

// Unit start-up, in the order that gives the picture format list "wmf emf ico bmp jpeg jpg dib png", then
// the form reader's class tables and Form1's stored description. Needs the platform services installed.
void StartProgramUnits();
// Unit shutdown: the picture formats the units added and the run-time loaded libraries.
void StopProgramUnits();

// Steps 1 to 3 of the entry block: initialise Application (created by the caller), set its title, create
// Form1 (the first form, so the main form). An error escaping the form's creation passes on.
void StartEntryBlock();
// Step 4: show the main form and process messages until the program is told to end.
void RunEntryBlock();

// The whole program on the platform services already installed (a real desktop): units, entry block, run,
// shutdown. An error escaping the entry block is reported like any other; returns the exit status.
int RunDesktopProgram();
