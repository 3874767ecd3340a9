// Nothing the user had is lost: a file that the opening could not read is
// set aside at the next save instead of being replaced, a folder that cannot
// be made or used fails the save (and so the Start) by name, and the report
// of a failure names the settings file.
#include "settings/settings_file.h"

#include "platform/folderitem.h"
#include "platform/textstream.h"
#include "settings/json.h"

namespace {

constexpr const char* kFolderName = "ORVANDE";
constexpr const char* kFileName = "ORVANDE.json";
// A save's temporary file older than this belongs to a save that never
// ended (a kill); a younger one may be another launcher's save under way.
constexpr int kStaleTemporarySeconds = 60;

std::string FilePath(const FolderItem& applicationData) {
  std::string path = applicationData.NativePath();
  if (path.empty() || path.back() != '/') path += '/';
  return path + kFolderName + "/" + kFileName;
}

}  // namespace

std::string SettingsFile::Text(const Settings& s) {
  JSONItem json;
  json.Value("ipaddress", s.ipaddress);
  json.Value("port", s.port);
  json.Value("velmoorFldr", s.velmoorFldr);
  json.Value("ShareDir", s.ShareDir);
  json.Value("Automount", s.Automount);
  return json.ToString();
}

void SettingsFile::Save(const Settings& settings) {
  const std::string text = Text(settings);
  auto dataItem = SpecialFolder::ApplicationData();
  auto& data = Use(dataItem, "application-data folder");
  try {
    // A folder that cannot be made or used fails the save here, so that
    // Start starts nothing on settings that were not kept.
    data.RequireFolder();
    auto folder = data.Child(kFolderName);
    // No item for the folder: nothing to name, nothing written.
    if (!folder) return;
    if (!folder->Exists()) folder->CreateAsFolder();
    folder->RequireFolder();
    auto file = folder->Child(kFileName);
    if (unread_) {
      // What the opening could not read is kept beside the new file; a
      // link goes aside as the link, and what it points to stays as it is.
      Use(file, "settings file").SetAside("unreadable");
      unread_ = false;
    }
    TextOutputStream::RemoveLeftovers(file, kStaleTemporarySeconds);
    auto stream = TextOutputStream::Create(file);
    Use(stream, "settings stream").Write(text);
    // Close puts the whole new text in place, or raises and leaves the old.
    stream->Close();
  } catch (RuntimeException& e) {
    if (e.Context.empty()) e.Context = "settings file " + FilePath(data) + "; the settings were not saved";
    throw;
  }
}

void SettingsFile::Load(const std::function<void(SettingsMember, const std::string&)>& take) {
  auto folder = Use(SpecialFolder::ApplicationData(), "application-data folder").Child(kFolderName);
  if (!folder) return;
  auto file = folder->Child(kFileName);
  if (!file) return;
  // Until every value has been read, the file is not ours to replace.
  unread_ = true;
  try {
    auto stream = TextInputStream::Open(file);
    std::string text = Use(stream, "settings stream").ReadAll();
    JSONItem json(text);
    stream->Close();

    take(SettingsMember::ipaddress, json.Value("ipaddress"));
    take(SettingsMember::port, json.Value("port"));
    take(SettingsMember::ShareDir, json.Value("ShareDir"));
    take(SettingsMember::velmoorFldr, json.Value("velmoorFldr"));
    take(SettingsMember::Automount, json.Value("Automount"));
  } catch (RuntimeException& e) {
    e.Context = "settings file " + file->NativePath();
    if (file->Exists() || file->IsAlias()) e.Context += "; it is kept and set aside at the next Start";
    throw;
  }
  unread_ = false;
}

void SettingsFile::Reset() {
  auto data = SpecialFolder::ApplicationData();
  auto folder = Use(data, "application-data folder").Child(kFolderName);
  auto file = Use(folder, "settings folder").Child(kFileName);
  Use(file, "settings file").Delete();
  // The temporary files of a save that never ended would keep the folder;
  // anything else it holds stays, and so does the folder then.
  TextOutputStream::RemoveLeftovers(file, 0);
  folder->Delete();
}
