// The runtime on Qt: the application object, the event loop, the exit
// status and the dispatch point that keeps exceptions on our side of Qt.
#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/application.h"
#include "platform/exceptions.h"
#include "platform/qt/window_impl.h"
#include "platform/runtime.h"

void RestoreChildSignalDefault();  // process_posix.cpp

namespace {

struct RuntimeState {
  std::vector<std::string> arguments;
  // QApplication keeps references to these for its whole life.
  int argc = 0;
  std::vector<std::string> argvStorage;
  std::vector<char*> argv;
  QApplication* app = nullptr;
  ExceptionHelper helper;
  std::shared_ptr<Application> appObject;
  std::thread::id mainThread;
  bool failed = false;
  int loopStatus = 0;
};

RuntimeState& State() {
  static RuntimeState state;
  return state;
}

std::vector<std::string> ReadOwnArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  std::string current;
  for (char c : all) {
    if (c == '\0') {
      args.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) args.push_back(current);
  return args;
}

bool HasWindowSystem() {
  const QString name = QGuiApplication::platformName();
  return name != "offscreen" && name != "minimal";
}

// Runs a callback through the registered exception helper, or directly
// when none is registered.
void RunThroughHelper(const std::function<void()>& handler) {
  auto entry = [](void* p) { (*static_cast<const std::function<void()>*>(p))(); };
  auto& helper = State().helper;
  if (!helper) {
    handler();
    return;
  }
  if (auto error = helper(entry, const_cast<std::function<void()>*>(&handler))) {
    std::rethrow_exception(error);
  }
}

}  // namespace

void SetProcessArguments(std::vector<std::string> arguments) {
  State().arguments = std::move(arguments);
}

const std::vector<std::string>& ProcessArguments() { return State().arguments; }

std::string SystemClass::CommandLine() const {
  std::string line;
  for (const auto& a : State().arguments) {
    if (!line.empty()) line += ' ';
    line += a;
  }
  return line;
}

SystemClass& System() {
  static SystemClass system;
  return system;
}

void RuntimeInit() {
  auto& s = State();
  s.mainThread = std::this_thread::get_id();
  RestoreChildSignalDefault();
  s.arguments = ReadOwnArguments();
  s.argvStorage = s.arguments;
  for (auto& a : s.argvStorage) s.argv.push_back(a.data());
  s.argv.push_back(nullptr);
  s.argc = static_cast<int>(s.argvStorage.size());
  s.app = new QApplication(s.argc, s.argv.data());
}

int RuntimeExit() {
  auto& s = State();
  ReleaseWindows();
  s.appObject.reset();
  delete s.app;
  s.app = nullptr;
  return s.failed ? 1 : s.loopStatus;
}

void RuntimeSetExceptionHelper(ExceptionHelper helper) { State().helper = std::move(helper); }

void Application::SetSupportsHiDPI(bool) {
  // Qt 6 always scales for high-resolution screens.
}

void RuntimeInitExternalClasses() {}

void InitPluginEntrypoints() {
  // The shell is built in; there is nothing to load.
}

void RuntimeRegisterAppObject(const std::shared_ptr<Application>& app) { State().appObject = app; }

std::shared_ptr<Application> RegisteredApplication() { return State().appObject; }

void RunFrameworkInitialization(const Delegate<void()>& lateStartup) {
  if (lateStartup) lateStartup();
}

void RuntimeRun() { State().loopStatus = QApplication::exec(); }

void ReportException(std::exception_ptr error) {
  std::string line;
  try {
    std::rethrow_exception(error);
  } catch (const RuntimeException& e) {
    line = DescribeException(e);
  } catch (const std::exception& e) {
    line = std::string("std::exception: ") + e.what();
  } catch (...) {
    line = "unknown exception";
  }
  std::fprintf(stderr, "orvande: unhandled %s\n", line.c_str());
  std::fflush(stderr);
  if (State().app && HasWindowSystem()) {
    auto* box = new QMessageBox(QMessageBox::Critical, "Orvande",
                                QString::fromStdString("An error occurred:\n" + line));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
  }
}

void UnhandledException(std::exception_ptr error) {
  State().failed = true;
  ReportException(error);
}

void Dispatch(const std::function<void()>& handler) {
  try {
    RunThroughHelper(handler);
  } catch (...) {
    ReportException(std::current_exception());
  }
}

void AssertMainThread(const char* member) {
  if (std::this_thread::get_id() != State().mainThread) {
    throw ThreadAccessingUIException(std::string(member) + " may only be used on the main thread");
  }
}
