// The menu bar that the application and the window share: File with Quit
// (Ctrl+Q), Edit with Reset Config (Ctrl+R) and a third, empty item, all
// hidden but Quit.
#pragma once

#include <memory>

#include "platform/menu.h"

class MainMenuBar : public MenuBar {
 public:
  // The one shared bar, built on the first call; a bar whose building fails
  // is never shared.
  static std::shared_ptr<MainMenuBar> ImplicitInstance();

  virtual void Constructor();
  virtual void Untitled0();
  virtual void Untitled1();
  virtual void Untitled2();

  static std::shared_ptr<MainMenuBar> _implicitInstance;
};
