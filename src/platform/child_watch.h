// Watching the launcher's own children from the event loop.
//
// Contract:
// - WatchChild takes a child of this process that is not yet reaped. Once it
//   has ended, the child is reaped and onExit runs on the main thread with its
//   wait status. It may be called from any thread.
// - The watch belongs to the runtime, not to the caller, so a child is reaped
//   even when whoever started it is gone. Only that one pid is ever waited
//   for; no handler reaps every child.
// - At exit the watches are dropped quietly: nothing is killed, the children
//   run on.
// - Raises IOException when the child cannot be watched (the caller still
//   owns the child then), and RuntimeException when there is no application
//   object whose event loop could deliver the end.
#pragma once

#include <sys/types.h>

#include <functional>

void WatchChild(pid_t pid, std::function<void(int status)> onExit);

// The number of children being watched now.
int WatchedChildCount();
