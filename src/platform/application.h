// The application object: it holds the menu bar that windows share.
#pragma once

#include <memory>

#include "platform/object.h"

class MenuBar;

class Application : public Object {
 public:
  static void SetSupportsHiDPI(bool on);

  void SetMenuBar(std::shared_ptr<::MenuBar> bar) { menuBar_ = std::move(bar); }
  std::shared_ptr<::MenuBar> MenuBar() const { return menuBar_; }

 private:
  std::shared_ptr<::MenuBar> menuBar_;
};
