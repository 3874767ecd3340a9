// Linked into a test build of the launcher (orvande_startup_raises): its
// start-up raises "start-up failed", which nothing a user can do makes the
// real program do. The hook is in place before main runs.
#include "platform/exceptions.h"
#include "platform/runtime.h"

namespace {

[[maybe_unused]] const bool installed = [] {
  SetStartupHookForTests([] { throw RuntimeException("start-up failed"); });
  return true;
}();

}  // namespace
