// The settings file: ORVANDE/ORVANDE.json in the application-data folder,
// written at each Start, read at opening, deleted by Reset.
#include "platform/folderitem.h"
#include "platform/textstream.h"
#include "settings/json.h"
#include "window/main_window.h"

namespace {
constexpr const char* kFolderName = "ORVANDE";
constexpr const char* kFileName = "ORVANDE.json";
}  // namespace

void MainWindow::SavePreferences() {
  auto json = std::make_shared<JSONItem>();
  auto& settings = Use(json, "settings object");
  settings.Value("ipaddress", Use(IPAddress(), "IPAddress").Text());
  settings.Value("port", Use(Port(), "Port").Text());
  settings.Value("velmoorFldr", Use(velmoor(), "velmoor").Text());
  settings.Value("ShareDir", Use(ShareDir(), "ShareDir").Text());
  if (Use(CheckBox1(), "CheckBox1").Value()) settings.Value("Automount", "Yes");
  if (!Use(CheckBox1(), "CheckBox1").Value()) settings.Value("Automount", "No");

  auto folder = Use(SpecialFolder::ApplicationData(), "application-data folder").Child(kFolderName);
  if (!folder) return;
  if (!folder->Exists()) folder->CreateAsFolder();
  auto file = folder->Child(kFileName);
  auto stream = TextOutputStream::Create(file);
  Use(stream, "settings stream").Write(settings.ToString());
  // Close puts the whole new text in place, or raises and leaves the old.
  stream->Close();
}

void MainWindow::LoadPreferences() {
  auto folder = Use(SpecialFolder::ApplicationData(), "application-data folder").Child(kFolderName);
  if (!folder) return;
  auto file = folder->Child(kFileName);
  if (!file) return;
  auto stream = TextInputStream::Open(file);
  std::string text = Use(stream, "settings stream").ReadAll();
  auto json = std::make_shared<JSONItem>(text);
  stream->Close();

  auto& settings = Use(json, "settings object");
  Use(IPAddress(), "IPAddress").SetText(settings.Value("ipaddress"));
  Use(Port(), "Port").SetText(settings.Value("port"));
  Use(ShareDir(), "ShareDir").SetText(settings.Value("ShareDir"));
  Use(velmoor(), "velmoor").SetText(settings.Value("velmoorFldr"));
  automount = settings.Value("Automount");
}

void MainWindow::PushButton2_Action(std::shared_ptr<PushButton>) {
  auto data = SpecialFolder::ApplicationData();
  auto folder = Use(data, "application-data folder").Child(kFolderName);
  auto file = Use(folder, "settings folder").Child(kFileName);
  Use(file, "settings file").Delete();
  folder->Delete();
}
