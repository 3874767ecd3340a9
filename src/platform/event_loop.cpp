#include "platform/event_loop.h"

#include <utility>

#include "platform/exceptions.h"

namespace {

EventLoopHooks& Hooks() {
  static EventLoopHooks hooks;
  return hooks;
}

}  // namespace

void SetEventLoopHooks(EventLoopHooks hooks) { Hooks() = std::move(hooks); }

void DispatchEvent(const std::function<void()>& handler) {
  if (!Hooks().dispatch) throw RuntimeException("an event needs the event loop, which has not started");
  Hooks().dispatch(handler);
}

void WatchChildEnd(pid_t pid, std::function<void(int status)> onExit) {
  if (!Hooks().watchChild)
    throw RuntimeException("watching a child needs the event loop, which has not started");
  Hooks().watchChild(pid, std::move(onExit));
}
