// What dbzip needs from the console it runs in, per system: its arguments as
// UTF-8, whether it may draw its status line on standard error, and the
// interrupt keys, which set g_dbzipInterrupted so that the run removes the
// archive it is writing and ends.
#pragma once

#include <string>
#include <vector>

// The command-line arguments after the program's name, in UTF-8.
std::vector<std::string> ConsoleArguments(int argc, char** argv);
// Prepares the console for UTF-8 text and answers whether a status line may be
// redrawn in place on standard error: only when it is a terminal that reads
// the erase-line sequence, and TERM does not say "dumb".
bool PrepareConsoleOutput();
// Ctrl-C and the like end the run instead of the process.
void InstallInterruptHandlers();
// Called when the run has ended and cleaned up, just before the process exits:
// a handler that must not return before then (a closing console window) may.
void ConsoleRunEnded();
