// Child watching on Qt: a socket notifier on the child's exit descriptor (a
// pidfd, or the fallback pipe), so the event loop learns of the end without
// polling and without a SIGCHLD handler.
#include <unistd.h>

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <atomic>
#include <memory>
#include <set>
#include <utility>

#include "platform/child_watch.h"
#include "platform/exceptions.h"
#include "platform/process_posix.h"
#include "platform/runtime.h"

namespace {

std::atomic<int> watching{0};
bool dropAtExit = false;  // the post routine is registered

class ChildWatch;

// Watches are owned here, not by whoever started the child, and go with
// the application object.
std::set<ChildWatch*>& Watches() {
  static std::set<ChildWatch*> watches;
  return watches;
}

void DropAllWatches();

class ChildWatch : public QObject {
 public:
  ChildWatch(pid_t pid, int exitFd, std::function<void(int)> onExit)
      : pid_(pid),
        exitFd_(exitFd),
        onExit_(std::move(onExit)),
        notifier_(std::make_unique<QSocketNotifier>(exitFd, QSocketNotifier::Read)) {
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Ended(); });
  }

  ~ChildWatch() override {
    notifier_.reset();  // before the descriptor it watches goes
    close(exitFd_);
    if (!ended_) --watching;
  }

 private:
  void Ended() {
    if (ended_) return;
    ended_ = true;
    notifier_->setEnabled(false);
    int status = process::Reap(pid_);
    --watching;
    auto onExit = std::move(onExit_);
    // Not deleted from inside its own notifier's signal.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self = this] {
          if (Watches().erase(self) != 0) delete self;
        },
        Qt::QueuedConnection);
    if (!onExit) return;
    try {
      onExit(status);
    } catch (...) {
      ReportException(std::current_exception());
    }
  }

  pid_t pid_;
  int exitFd_;
  std::function<void(int)> onExit_;
  std::unique_ptr<QSocketNotifier> notifier_;
  bool ended_ = false;
};

void DropAllWatches() {
  dropAtExit = false;
  auto watches = std::exchange(Watches(), {});
  for (ChildWatch* w : watches) delete w;
}

void StartWatch(pid_t pid, int exitFd, std::function<void(int)> onExit) {
  if (!dropAtExit) {
    qAddPostRoutine(DropAllWatches);
    dropAtExit = true;
  }
  Watches().insert(new ChildWatch(pid, exitFd, std::move(onExit)));
}

}  // namespace

void WatchChild(pid_t pid, std::function<void(int)> onExit) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) throw RuntimeException("watching a child needs the application object");
  int exitFd = process::OpenExitFd(pid);
  ++watching;
  if (QThread::currentThread() == app->thread()) {
    StartWatch(pid, exitFd, std::move(onExit));
  } else {
    QMetaObject::invokeMethod(
        app, [pid, exitFd, fn = std::move(onExit)]() mutable { StartWatch(pid, exitFd, std::move(fn)); },
        Qt::QueuedConnection);
  }
}

int WatchedChildCount() { return watching; }
