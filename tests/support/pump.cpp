#include "support/pump.h"

#include <QCoreApplication>
#include <QThread>

namespace testsupport {

bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return condition();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

void Pump(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
}

}  // namespace testsupport
