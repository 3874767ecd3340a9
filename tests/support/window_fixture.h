// A launcher window as a user meets it, offscreen: a fake ifconfig and the
// fake killall first on PATH (a Stop ends only the fakes recorded in the
// test's VELMOOR_RECORD), the private settings folder of the test process,
// and helpers to read controls and the settings file.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "support/main_window_probe.h"
#include "support/pump.h"
#include "support/test_support.h"
#include "window/main_window.h"

class WindowFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    bin_ = std::make_unique<testsupport::TempDir>();
    SetIfconfigOutput("");
    const char* path = std::getenv("PATH");
    oldPath_ = path ? path : "";
    setenv("PATH", (bin_->str() + ":" + testsupport::PathWithFakeKillall(oldPath_)).c_str(), 1);
    // Every test starts on a first launch: no settings folder.
    std::error_code ignored;
    std::filesystem::remove_all(SettingsFolder(), ignored);
  }

  void TearDown() override {
    window_.reset();
    setenv("PATH", oldPath_.c_str(), 1);
  }

  // The fake ifconfig prints exactly this text.
  void SetIfconfigOutput(const std::string& output) {
    testsupport::WriteFile(bin_->path() / "ifconfig.out", output);
    testsupport::WriteFile(bin_->path() / "ifconfig",
                           "#!/bin/sh\ncat '" + (bin_->path() / "ifconfig.out").string() + "'\n", true);
  }

  // Builds the window; with open, waits until its opening has run.
  MainWindow& Open(bool open = true) {
    window_ = std::make_shared<MainWindow>();
    window_->Constructor();
    if (open) {
      EXPECT_TRUE(testsupport::PumpUntil([&] { return window_->HasOpened(); }));
      testsupport::Pump(std::chrono::milliseconds(20));
    }
    return *window_;
  }

  std::filesystem::path SettingsFolder() const {
    return std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "ORVANDE";
  }
  std::filesystem::path SettingsFile() const { return SettingsFolder() / "ORVANDE.json"; }

  void WriteSettings(const std::string& text) {
    std::filesystem::create_directories(SettingsFolder());
    testsupport::WriteFile(SettingsFile(), text);
  }

  template <class T>
  T* Widget(const char* name) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (auto* w = top->findChild<T*>(name)) return w;
    }
    return nullptr;
  }

  QWidget* TopLevel() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top->isWindow() && top->findChild<QWidget*>("PushButton1")) return top;
    }
    return nullptr;
  }

  std::shared_ptr<MainWindow> window_;
  std::unique_ptr<testsupport::TempDir> bin_;
  std::string oldPath_;
};
