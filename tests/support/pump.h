// Waiting on the Qt event loop, for the tests of the window, the start-up
// and the platform's Qt glue.
#pragma once

#include <chrono>
#include <functional>

namespace testsupport {

// Runs the event loop until the condition holds or the time is up; gives the
// condition's last value.
bool PumpUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs the event loop for a while.
void Pump(std::chrono::milliseconds duration);

}  // namespace testsupport
