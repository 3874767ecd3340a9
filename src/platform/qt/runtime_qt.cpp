// The runtime on Qt: the application object, the event loop, the exit
// status and the dispatch point that keeps exceptions on our side of Qt.
#include <QApplication>
#include <QByteArray>
#include <QMessageBox>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>
#include <utility>

#include "platform/application.h"
#include "platform/child_watch.h"
#include "platform/event_loop.h"
#include "platform/exceptions.h"
#include "platform/process_posix.h"
#include "platform/qt/window_impl.h"
#include "platform/runtime.h"
#include "platform/shell.h"

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
  bool messageBoxesOffscreen = false;
  std::function<void()> startupHook;  // tests only
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
  if (State().messageBoxesOffscreen) return true;
  const QString name = QGuiApplication::platformName();
  return name != "offscreen" && name != "minimal";
}

// Qt's messages while the application object is made are held back until it
// stands: a window system that cannot be reached then gives one line of ours
// and status 1, instead of Qt's several lines and an abort.
struct HeldMessage {
  QtMsgType type;
  QByteArray category;
  QString text;
};

std::vector<HeldMessage>& HeldMessages() {
  static std::vector<HeldMessage> held;
  return held;
}

[[noreturn]] void EndWithoutWindowSystem() {
  std::fputs(
      "orvande: needs a graphical session to show its window, and none could be reached; "
      "QT_QPA_PLATFORM=offscreen runs it without one\n",
      stderr);
  std::fflush(stderr);
  Shell::DropStartedAhead();
  // Not exit(): the half-made application object must not be torn down.
  std::_Exit(1);
}

void HoldWhileStarting(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  // Qt's only fatal message here is that no platform plugin could start.
  if (type == QtFatalMsg) EndWithoutWindowSystem();
  HeldMessages().push_back({type, QByteArray(context.category), text});
}

QApplication* MakeApplication(int& argc, char** argv) {
  QtMessageHandler previous = qInstallMessageHandler(HoldWhileStarting);
  auto* app = new QApplication(argc, argv);
  qInstallMessageHandler(previous);
  for (const HeldMessage& m : std::exchange(HeldMessages(), {})) {
    qt_message_output(m.type, QMessageLogContext(nullptr, 0, nullptr, m.category.constData()), m.text);
  }
  return app;
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

void SetProcessArguments(std::vector<std::string> arguments) { State().arguments = std::move(arguments); }

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

void RuntimePrepareProcess() { process::SetLauncherSignals(); }

void RuntimeInit() {
  auto& s = State();
  s.mainThread = std::this_thread::get_id();
  RuntimePrepareProcess();
  s.arguments = ReadOwnArguments();
  s.argvStorage = s.arguments;
  for (auto& a : s.argvStorage) s.argv.push_back(a.data());
  s.argv.push_back(nullptr);
  s.argc = static_cast<int>(s.argvStorage.size());
  s.app = MakeApplication(s.argc, s.argv.data());
  SetEventLoopHooks({&Dispatch, &WatchChild});
}

int RuntimeExit() {
  auto& s = State();
  Shell::DropStartedAhead();
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

void RuntimeInitExternalClasses() {
  if (State().startupHook) State().startupHook();
}

void SetStartupHookForTests(std::function<void()> hook) { State().startupHook = std::move(hook); }

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

void ShowMessageBoxesOffscreenForTests(bool on) { State().messageBoxesOffscreen = on; }

void UnhandledException(std::exception_ptr error) {
  State().failed = true;
  ReportException(error);
}

void Dispatch(const std::function<void()>& handler) {
  static int depth = 0;
  ++depth;
  try {
    RunThroughHelper(handler);
  } catch (...) {
    ReportException(std::current_exception());
  }
  // A push made by the handler acts as soon as the handler is done, before
  // the loop paints the window or takes input: an automatic Start waits for
  // no first paint.
  if (--depth == 0) RunPendingPushes();
}

void AssertMainThread(const char* member) {
  if (std::this_thread::get_id() != State().mainThread) {
    throw ThreadAccessingUIException(std::string(member) + " may only be used on the main thread");
  }
}
