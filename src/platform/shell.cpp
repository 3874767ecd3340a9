#include "platform/shell.h"

#include <csignal>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/event_loop.h"
#include "platform/exceptions.h"
#include "platform/process_posix.h"

namespace {

std::int32_t IntFrom(const std::string& name, const PropertyValue& value) {
  if (auto* i = std::get_if<std::int32_t>(&value)) return *i;
  if (auto* b = std::get_if<std::uint8_t>(&value)) return *b;
  throw RuntimeException("Shell." + name + " takes an integer");
}

bool BoolFrom(const std::string& name, const PropertyValue& value) {
  if (auto* b = std::get_if<bool>(&value)) return *b;
  throw RuntimeException("Shell." + name + " takes a boolean");
}

static_assert(Shell::kResultLimit == process::kOutputKept);

// The one run started ahead, until the first synchronous Execute.
struct StartedAhead {
  std::string command;
  process::CapturedRun run;
};

std::mutex aheadMutex;

std::optional<StartedAhead>& AheadSlot() {
  static std::optional<StartedAhead> slot;
  return slot;
}

std::optional<StartedAhead> TakeAheadSlot() {
  std::lock_guard lock(aheadMutex);
  std::optional<StartedAhead> taken(std::move(AheadSlot()));
  AheadSlot().reset();
  return taken;
}

}  // namespace

void Shell::StartAhead(const std::string& command) {
  const auto earlier = TakeAheadSlot();
  try {
    process::CapturedRun run(command);
    std::lock_guard lock(aheadMutex);
    AheadSlot().emplace(StartedAhead{command, std::move(run)});
  } catch (const RuntimeException&) {
    // Nothing is lost: the Execute that wants it starts it again and reports.
  }
}

// The run ends outside the lock.
void Shell::DropStartedAhead() { TakeAheadSlot(); }

Shell::Shell() = default;

// Running children are left alone: their watches reap them.
Shell::~Shell() = default;

void Shell::Execute(const std::string& command) {
  result_.clear();
  if (mode_ == 0) {
    std::optional<StartedAhead> ahead = TakeAheadSlot();
    if (ahead && ahead->command == command &&
        std::chrono::steady_clock::now() - ahead->run.Started() <= kTakeAheadWithin) {
      result_ = ahead->run.Finish(kSynchronousLimit).output;
      return;
    }
    ahead.reset();  // not wanted: ended before the command runs
    result_ = process::RunCaptured(command, kSynchronousLimit).output;
    return;
  }
  process::Child child = process::SpawnShell(command, false);
  std::weak_ptr<Object> weak = weak_from_this();
  try {
    WatchChildEnd(child.pid, [weak](int) {
      if (auto self = weak.lock()) static_cast<Shell&>(*self).RaiseCompleted();
    });
  } catch (...) {
    // An unwatched child would never be reaped: end it and say so.
    process::SignalGroup(child.pid, SIGKILL);
    process::Reap(child.pid);
    throw;
  }
}

void Shell::RaiseCompleted() {
  auto self = std::static_pointer_cast<Shell>(shared_from_this());
  auto handlers = completed_;  // a handler may add handlers
  for (const auto& h : handlers) {
    if (h) DispatchEvent([&] { h(self); });
  }
}

std::string Shell::Result() const { return result_; }

std::int32_t Shell::Mode() const { return mode_; }

void Shell::SetMode(std::int32_t mode) {
  if (mode != 0 && mode != 1) {
    throw OutOfBoundsException("Shell.Mode must be 0 or 1, not " + std::to_string(mode));
  }
  mode_ = mode;
}

bool Shell::Canonical() const { return canonical_; }
void Shell::SetCanonical(bool on) { canonical_ = on; }
std::int32_t Shell::TimeOut() const { return timeOut_; }
void Shell::SetTimeOut(std::int32_t t) { timeOut_ = t; }

void Shell::SetProperty(const std::string& name, const PropertyValue& value) {
  if (name == "TimeOut") {
    SetTimeOut(IntFrom(name, value));
  } else if (name == "Mode") {
    SetMode(IntFrom(name, value));
  } else if (name == "Canonical") {
    SetCanonical(BoolFrom(name, value));
  }
  PropertyObject::SetProperty(name, value);
}

void Shell::AddCompletedHandler(Handler handler) { completed_.push_back(std::move(handler)); }

void Shell::AddDataAvailableHandler(Handler handler) { dataAvailable_.push_back(std::move(handler)); }
