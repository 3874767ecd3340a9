#include "app/startup.h"

#include "app/app.h"
#include "app/dropfiles.h"
#include "app/main_menu_bar.h"
#include "platform/runtime.h"
#include "platform/shell.h"
#include "window/design_data.h"
#include "window/main_window.h"

std::exception_ptr CallFunctionWithExceptionHandling(void (*callback)(void*), void* argument) {
  try {
    callback(argument);
  } catch (const RuntimeException&) {
    return std::current_exception();
  }
  return nullptr;
}

void InitFileTypes() { Dropfiles::Initialize(); }

void NewAppInstance() {
  auto app = std::make_shared<App>();
  Use(app, "App").Constructor();
  auto bar = MainMenuBar::ImplicitInstance();
  Use(app, "App").SetMenuBar(bar);
  RuntimeRegisterAppObject(app);
}

void ApplicationAddMenuHandlers() {}

void EarlyStartup() {
  Application::SetSupportsHiDPI(true);
  RuntimeInitExternalClasses();
  InitPluginEntrypoints();
  InitFileTypes();
  NewAppInstance();
  ApplicationAddMenuHandlers();
}

void MakeDefaultView() { (void)MainWindow::ImplicitInstance(); }

void LateStartup() { MakeDefaultView(); }

void Main() {
  try {
    RuntimeSetExceptionHelper({&CallFunctionWithExceptionHandling, "( Ptr, Ptr ) as Object"});
    EarlyStartup();
    {
      Delegate<void()> late{&LateStartup, "(  )"};
      RunFrameworkInitialization(late);
    }
    RuntimeRun();
  } catch (...) {
    UnhandledException(std::current_exception());
  }
}

int RunProcess() {
  // The address query is fixed design data: its processes run while the
  // toolkit starts, and the opening takes their output.
  RuntimePrepareProcess();
  Shell::StartAhead(design::kAddressQuery);
  RuntimeInit();
  Main();
  // Releasing the type withdraws its registration; then the shared bar goes.
  Dropfiles::pAny = nullptr;
  MainMenuBar::_implicitInstance = nullptr;
  return RuntimeExit();
}
