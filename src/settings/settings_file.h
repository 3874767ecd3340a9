// The settings file: ORVANDE/ORVANDE.json in the user's application-data
// folder, holding five texts. Written at each Start, read at opening,
// deleted by Reset; it knows nothing of the window.
//
// Contract:
// - Save writes the five values as one line of JSON, members in the order
//   ipaddress, port, velmoorFldr, ShareDir, Automount, making the folders
//   that are missing (only a save makes any). A folder that cannot be made
//   or used raises, naming it, and nothing is written. A stale temporary of
//   a save that a kill ended is removed; nothing else beside the file is. When the last Load could not read
//   the file, whatever is at its path is first set aside beside it, never replaced. The new text replaces the
//   old whole or not at all.
// - Load reads the file and hands each value to `take` in the order
//   ipaddress, port, ShareDir, velmoorFldr, Automount. No folder or no file
//   reads nothing and says nothing. A file that cannot be read or does not
//   parse raises before the first value; a missing member raises at that
//   member, after the values before it were handed over.
// - Reset deletes the file and then the folder, which stays while it holds
//   anything else; nothing to delete does nothing and says nothing.
// - Failures raise RuntimeException subclasses whose Context names the file;
//   no application-data folder at all raises NilObjectException at a save
//   or a load.
#pragma once

#include <functional>
#include <string>

struct Settings {
  std::string ipaddress;
  std::string port;
  std::string velmoorFldr;
  std::string ShareDir;
  std::string Automount;  // "Yes" or "No"
};

enum class SettingsMember { ipaddress, port, ShareDir, velmoorFldr, Automount };

class SettingsFile {
 public:
  void Save(const Settings& settings);
  void Load(const std::function<void(SettingsMember, const std::string&)>& take);
  void Reset();

  // The text Save writes for these values.
  static std::string Text(const Settings& settings);

 private:
  // The last Load failed: until a save, the file is not ours to replace.
  bool unread_ = false;
};
