// Reaches the window's private members for tests.
#pragma once

#include "window/main_window.h"

class MainWindowProbe {
 public:
  static std::shared_ptr<Label> Label3(MainWindow& w) { return w.Label3(); }
  static std::shared_ptr<PushButton> PushButton2(MainWindow& w) { return w.PushButton2(); }
  static const std::string& ThreadString(MainWindow& w) { return w.ThreadString; }
  static void SavePreferences(MainWindow& w) { w.SavePreferences(); }
  static void LoadPreferences(MainWindow& w) { w.LoadPreferences(); }
};
