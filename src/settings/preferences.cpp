// The settings file: ORVANDE/ORVANDE.json in the application-data folder,
// written at each Start, read at opening, deleted by Reset.
//
// Nothing the user had is lost: a file that the opening could not read is
// set aside at the next save instead of being replaced, a folder that
// cannot be made or used fails the save (and so the Start) by name, and the
// report of a failure names the settings file. Nothing but the save makes a
// folder, and nothing but the settings file, the save's own stale
// temporaries and the emptied folder is ever removed.
//
// No settings file is a plain state: with or without its folder, the
// opening then reads nothing and says nothing, and Reset has nothing to do.
#include <cerrno>

#include "platform/folderitem.h"
#include "platform/textstream.h"
#include "settings/json.h"
#include "window/main_window.h"

namespace {

constexpr const char* kFolderName = "ORVANDE";
constexpr const char* kFileName = "ORVANDE.json";

std::string FilePath(const FolderItem& applicationData) {
  std::string path = applicationData.NativePath();
  if (path.empty() || path.back() != '/') path += '/';
  return path + kFolderName + "/" + kFileName;
}

// The stream on the settings file, or nil when nothing is at its name: no
// settings, as when the folder is missing. A link there, even one that leads
// nowhere, is the user's: its failure raises, and it is kept.
std::shared_ptr<TextInputStream> OpenUnlessMissing(const std::shared_ptr<FolderItem>& file) {
  try {
    return TextInputStream::Open(file);
  } catch (const IOException& e) {
    if (e.ErrorNumber == ENOENT && !file->IsAlias()) return nullptr;
    throw;
  }
}

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

  auto dataItem = SpecialFolder::ApplicationData();
  auto& data = Use(dataItem, "application-data folder");
  try {
    // A folder that cannot be made or used fails the save here, so that
    // Start starts nothing on settings that were not kept.
    data.CreateAsFolderWithParents();
    data.RequireFolder();
    auto folder = data.Child(kFolderName);
    // No item for the folder: nothing to name, nothing written.
    if (!folder) return;
    if (!folder->Exists()) folder->CreateAsFolder();
    folder->RequireFolder();
    auto file = folder->Child(kFileName);
    if (settingsUnread_) {
      // What the opening could not read is kept beside the new file; a
      // link goes aside as the link, and what it points to stays as it is.
      Use(file, "settings file").SetAside("unreadable");
      settingsUnread_ = false;
    }
    TextOutputStream::RemoveLeftovers(file);
    auto stream = TextOutputStream::Create(file);
    Use(stream, "settings stream").Write(settings.ToString());
    // Close puts the whole new text in place, or raises and leaves the old.
    stream->Close();
  } catch (RuntimeException& e) {
    if (e.Context.empty()) e.Context = "settings file " + FilePath(data) + "; the settings were not saved";
    throw;
  }
}

void MainWindow::LoadPreferences() {
  auto folder = Use(SpecialFolder::ApplicationData(), "application-data folder").Child(kFolderName);
  if (!folder) return;
  auto file = folder->Child(kFileName);
  if (!file) return;
  // Until every value has been read, the file is not the window's to replace.
  settingsUnread_ = true;
  try {
    auto stream = OpenUnlessMissing(file);
    if (!stream) {
      settingsUnread_ = false;
      return;
    }
    std::string text = Use(stream, "settings stream").ReadAll();
    auto json = std::make_shared<JSONItem>(text);
    stream->Close();

    auto& settings = Use(json, "settings object");
    Use(IPAddress(), "IPAddress").SetText(settings.Value("ipaddress"));
    Use(Port(), "Port").SetText(settings.Value("port"));
    Use(ShareDir(), "ShareDir").SetText(settings.Value("ShareDir"));
    Use(velmoor(), "velmoor").SetText(settings.Value("velmoorFldr"));
    automount = settings.Value("Automount");
  } catch (RuntimeException& e) {
    e.Context = "settings file " + file->NativePath();
    if (file->Exists() || file->IsAlias()) e.Context += "; it is kept and set aside at the next Start";
    throw;
  }
  settingsUnread_ = false;
}

void MainWindow::PushButton2_Action(std::shared_ptr<PushButton>) {
  // No application-data folder, no ORVANDE folder: nothing saved, nothing
  // to delete, and nothing to say.
  auto data = SpecialFolder::ApplicationData();
  if (!data) return;
  auto folder = data->Child(kFolderName);
  if (!folder) return;
  auto file = folder->Child(kFileName);
  if (!file) return;
  file->Delete();
  // A save that a kill ended leaves its temporary file, which would keep the
  // folder; a fresh one is another launcher's save under way and stays.
  TextOutputStream::RemoveLeftovers(file);
  // Removed only when empty: whatever else the user keeps there stays, and
  // so does the folder then.
  folder->Delete();
}
