// What toolkit-neutral code needs of the event loop: the one dispatch point
// through which an event reaches program code, and a watch that reports a
// child process's end on the main thread. The toolkit's runtime fills both in
// when it starts (RuntimeInit); until then, using either raises
// RuntimeException.
#pragma once

#include <sys/types.h>

#include <functional>

struct EventLoopHooks {
  // Runs an event's handler; reports whatever escapes it and never throws.
  std::function<void(const std::function<void()>& handler)> dispatch;
  // As WatchChild in child_watch.h.
  std::function<void(pid_t pid, std::function<void(int status)> onExit)> watchChild;
};

void SetEventLoopHooks(EventLoopHooks hooks);

// Each raises RuntimeException when no event loop has filled it in.
void DispatchEvent(const std::function<void()>& handler);
void WatchChildEnd(pid_t pid, std::function<void(int status)> onExit);
