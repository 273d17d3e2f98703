// The Windows console: arguments from the wide command line, UTF-8 output,
// the status line on standard error through the console's terminal
// sequences, and Ctrl-C,
// Ctrl-Break and the closing of the console window as interrupts.
#include "Console.h"

#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "DbzipRun.h"
#include "Win32Text.h"

// Last, so that its macros rename nothing declared above; shellapi.h builds on it.
// The C++ library's own headers may have defined them already.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

namespace {

// Set once the run has cleaned up; a close event waits for it.
HANDLE g_runEnded = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  g_dbzipInterrupted = true;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return TRUE;  // the run ends by itself at its next check
    default:
      // Closing the window, logging off, shutting down: the process ends when
      // this returns, so wait (the system allows a few seconds) until the run
      // has removed its unfinished archive.
      if (g_runEnded != nullptr) ::WaitForSingleObject(g_runEnded, 4000);
      return TRUE;
  }
}

}  // namespace

std::vector<std::string> ConsoleArguments(int, char**) {
  // main's argv is in the ANSI code page, which cannot hold every name.
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) args.push_back(win32::Narrow(wide[i]));
  ::LocalFree(wide);
  return args;
}

bool PrepareConsoleOutput() {
  DWORD mode = 0;
  const auto isConsole = [&mode](DWORD which) {
    const HANDLE h = ::GetStdHandle(which);
    return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode);
  };
  // A pipe or a file gets the bytes as they are, in UTF-8; a console is told
  // that they are.
  const bool outConsole = isConsole(STD_OUTPUT_HANDLE);
  const bool errConsole = isConsole(STD_ERROR_HANDLE);  // leaves mode its mode
  if (outConsole || errConsole) ::SetConsoleOutputCP(CP_UTF8);
  const char* term = std::getenv("TERM");
  if (!errConsole || (term != nullptr && std::strcmp(term, "dumb") == 0)) return false;
  // The status line is redrawn with "\r" and erase-line sequences; a console
  // that cannot read them gets the plain lines instead.
  return ::SetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE),
                          mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void InstallInterruptHandlers() {
  g_runEnded = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void ConsoleRunEnded() {
  std::fflush(stdout);
  if (g_runEnded != nullptr) ::SetEvent(g_runEnded);
}
