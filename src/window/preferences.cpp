// The window's side of the settings file: the controls read into the five
// settings, or set from them, in the order the file's values come.
#include "settings/settings_file.h"
#include "window/main_window.h"

void MainWindow::SavePreferences() {
  Settings settings;
  settings.ipaddress = Use(IPAddress(), "IPAddress").Text();
  settings.port = Use(Port(), "Port").Text();
  settings.velmoorFldr = Use(velmoor(), "velmoor").Text();
  settings.ShareDir = Use(ShareDir(), "ShareDir").Text();
  if (Use(CheckBox1(), "CheckBox1").Value()) settings.Automount = "Yes";
  if (!Use(CheckBox1(), "CheckBox1").Value()) settings.Automount = "No";
  settingsFile_.Save(settings);
}

void MainWindow::LoadPreferences() {
  settingsFile_.Load([this](SettingsMember member, const std::string& value) {
    switch (member) {
      case SettingsMember::ipaddress:
        Use(IPAddress(), "IPAddress").SetText(value);
        break;
      case SettingsMember::port:
        Use(Port(), "Port").SetText(value);
        break;
      case SettingsMember::ShareDir:
        Use(ShareDir(), "ShareDir").SetText(value);
        break;
      case SettingsMember::velmoorFldr:
        Use(velmoor(), "velmoor").SetText(value);
        break;
      case SettingsMember::Automount:
        // Only the opening ticks the box, and only after the automatic start.
        automount = value;
        break;
    }
  });
}

void MainWindow::PushButton2_Action(std::shared_ptr<PushButton>) { settingsFile_.Reset(); }
