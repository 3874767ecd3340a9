// The system shell: runs `/bin/sh -c COMMAND` as a child of the launcher.
//
// Contract:
// - Mode 0 (the default) is synchronous: Execute returns when the shell
//   process has ended (a background job it leaves does not hold it up), or
//   after 10 seconds, when the shell is ended with its whole process group.
//   Result then holds what the shell wrote to standard output, at most its
//   first kResultLimit bytes (the rest is read and thrown away, so the command
//   never blocks on a full pipe), the same text at every read; standard error
//   goes to the launcher's standard error; standard input is /dev/null. The
//   exit status is not examined.
// - StartAhead starts a command that a synchronous Execute will want, so that
//   it runs while the launcher gets ready. It runs once: the first
//   synchronous Execute of the process takes its output when it is of exactly
//   the same text and comes within kTakeAheadWithin of the start, waiting for
//   it to end if it has not (the 10 seconds count from the start ahead). Any
//   other first Execute, and every later one, runs its own command, and the
//   run started ahead is then ended (killed with its group while it still
//   runs) and reaped. DropStartedAhead does the same for a run that nothing
//   took; RuntimeExit calls it. A command that cannot be started ahead is
//   left to the Execute that wants it.
// - Mode 1 is asynchronous: Execute returns at once. The command's standard
//   output and error are the launcher's own; nothing is collected, so Result
//   stays empty and DataAvailable is never raised. Completed is raised on the
//   main thread, with the shell as argument, once the shell process has ended
//   and been reaped. Execute while an earlier command still runs starts the
//   new one and keeps watching the old one; each end raises Completed.
// - The child runs in a session of its own with clean signal state and no
//   descriptor but 0, 1 and 2. Nothing ties its life to the launcher's: it
//   outlives this object, the window and the launcher itself. A child whose
//   Shell is gone is still reaped when it ends.
// - Execute raises IOException when the shell cannot be started; SetMode
//   raises OutOfBoundsException for a mode other than 0 and 1. TimeOut,
//   Canonical, Arguments and Backend are kept but change nothing.
// - Make shells with std::make_shared (or Window::New<Shell>()): Completed
//   needs the shell's shared owner to hand the shell to its handlers.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/properties.h"

class Shell : public PropertyObject {
 public:
  using Handler = Delegate<void(std::shared_ptr<Shell>)>;

  // The longest a synchronous command may run.
  static constexpr std::chrono::seconds kSynchronousLimit{10};
  // The most of a synchronous command's output that Result holds.
  static constexpr std::size_t kResultLimit = std::size_t{1} << 20;
  // How long after its start a command started ahead may still be taken.
  static constexpr std::chrono::seconds kTakeAheadWithin{5};

  static void StartAhead(const std::string& command);
  static void DropStartedAhead();

  Shell();
  ~Shell() override;

  void Execute(const std::string& command);
  std::string Result() const;

  std::int32_t Mode() const;
  void SetMode(std::int32_t mode);
  bool Canonical() const;
  void SetCanonical(bool on);
  std::int32_t TimeOut() const;
  void SetTimeOut(std::int32_t t);

  // TimeOut, Mode and Canonical go through their setters; every value is
  // also stored, so it can be read back.
  void SetProperty(const std::string& name, const PropertyValue& value) override;

  void AddCompletedHandler(Handler handler);
  // Kept for the window's design, but never raised: no output is collected
  // in mode 1, and mode 0 hands all output over at once in Result.
  void AddDataAvailableHandler(Handler handler);

 private:
  void RaiseCompleted();

  std::string result_;
  std::int32_t mode_ = 0;
  bool canonical_ = false;
  std::int32_t timeOut_ = 0;
  std::vector<Handler> completed_;
  std::vector<Handler> dataAvailable_;
};
