// The runtime: start, event loop, exit status, and the one dispatch point
// through which every event reaches program code.
//
// Contract:
// - RuntimePrepareProcess sets the launcher's own signal state: SIGCHLD at
//   its default, SIGPIPE ignored (a report to a standard error whose reader
//   has gone must not end the launcher). RuntimeInit does it too; call it
//   first to start shells before the toolkit.
// - RuntimeInit comes first of the rest; it takes the process's arguments
//   from the system (the program's main passes none) and sets up the toolkit.
//   When no window system can be reached (no display named, or one that does
//   not answer), it writes one line on stderr saying so and ends the process
//   with status 1, after ending a shell run started ahead.
// - RunFrameworkInitialization calls the late start-up callback once, before
//   it returns.
// - RuntimeRun runs the event loop until the application quits.
// - An exception that escapes an event handler is reported (one line on
//   stderr naming class, number and message; a message box that does not
//   block when a window system is present) and the loop goes on. No exception
//   crosses the toolkit.
// - UnhandledException reports like that and marks the run failed, so that
//   RuntimeExit gives 1 instead of the loop's status.
// - RuntimeExit ends a shell run started ahead that nothing took.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/object.h"

class Application;

void RuntimePrepareProcess();
void RuntimeInit();
int RuntimeExit();

// The routine through which callbacks run under exception handling: it calls
// the callback with its argument and gives nil when the callback returns, or
// the RuntimeException it raised (held whole, subclass and all). Anything
// else raised passes on.
using CallbackEntry = void (*)(void*);
using ExceptionHelper = Delegate<std::exception_ptr(CallbackEntry, void*)>;
void RuntimeSetExceptionHelper(ExceptionHelper helper);

// Runs the start-up hook when one is installed, and lets what it raises
// pass on.
void RuntimeInitExternalClasses();
void InitPluginEntrypoints();
void RuntimeRegisterAppObject(const std::shared_ptr<Application>& app);
std::shared_ptr<Application> RegisteredApplication();

void RunFrameworkInitialization(const Delegate<void()>& lateStartup);
void RuntimeRun();
void UnhandledException(std::exception_ptr error);

// The one dispatch point: runs an event's handler through the exception
// helper and reports whatever escapes it. Never throws.
void Dispatch(const std::function<void()>& handler);

// Reports an exception the way an escaped handler's is reported.
void ReportException(std::exception_ptr error);

// For tests: a routine that RuntimeInitExternalClasses runs, so that a test
// build can make start-up raise. The program installs none.
void SetStartupHookForTests(std::function<void()> hook);

// For tests: reports show their message box under the offscreen platform
// too, as they do where a window system is present.
void ShowMessageBoxesOffscreenForTests(bool on);

// Raises ThreadAccessingUIException when called off the main thread.
void AssertMainThread(const char* member);

// The process's arguments as RuntimeInit found them; tests set their own.
void SetProcessArguments(std::vector<std::string> arguments);
const std::vector<std::string>& ProcessArguments();

// The process's command line: its arguments joined with single blanks.
class SystemClass {
 public:
  std::string CommandLine() const;
};
SystemClass& System();
