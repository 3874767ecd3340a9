#include "support/test_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>
#include <cstdlib>
#include <stdexcept>

namespace testsupport {

std::filesystem::path FakesDir() {
  if (const char* e = std::getenv("ORVANDE_FAKES")) return e;
  return ORVANDE_FAKES_DIR;
}

bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return condition();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

void WithStderrTo(const std::filesystem::path& file, const std::function<void()>& fn) {
  int saved = dup(2);
  int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (saved < 0 || fd < 0) throw std::runtime_error("cannot redirect stderr to " + file.string());
  dup2(fd, 2);
  close(fd);
  try {
    fn();
  } catch (...) {
    dup2(saved, 2);
    close(saved);
    throw;
  }
  dup2(saved, 2);
  close(saved);
}

void Pump(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
}

}  // namespace testsupport
