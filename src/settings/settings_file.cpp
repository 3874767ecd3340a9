// Nothing the user had is lost: a file that the opening could not read is
// set aside at the next save instead of being replaced, a folder that
// cannot be made or used fails the save (and so the Start) by name, and the
// report of a failure names the settings file. Nothing but the save makes a
// folder, and nothing but the settings file, the save's own stale
// temporaries and the emptied folder is ever removed.
//
// No settings file is a plain state: with or without its folder, the
// opening then reads nothing and says nothing, and Reset has nothing to do.
#include "settings/settings_file.h"

#include <cerrno>

#include "platform/folderitem.h"
#include "platform/textstream.h"
#include "settings/json.h"

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
    data.CreateAsFolderWithParents();
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
    TextOutputStream::RemoveLeftovers(file);
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
    auto stream = OpenUnlessMissing(file);
    if (!stream) {
      unread_ = false;
      return;
    }
    std::string text = stream->ReadAll();
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
