// A dropped file or folder sets the share folder, or the server folder when
// it is the server executable itself.
#include "platform/folderitem.h"
#include "platform/text.h"
#include "window/drop_path.h"
#include "window/main_window.h"

namespace droppath {

std::string Escape(const std::string& path) {
  static const std::string kSpecial = " \t\\'\"$&;|<>()*?[]#~=%{}!`";
  std::string out;
  out.reserve(path.size() * 2);
  for (char c : path) {
    if (c == '\n') {
      out += "'\n'";
    } else {
      if (kSpecial.find(c) != std::string::npos) out += '\\';
      out += c;
    }
  }
  return out;
}

}  // namespace droppath

void MainWindow::Event_DropObject(std::shared_ptr<DragItem> obj, std::int32_t) {
  if (!Use(obj, "drag item").FolderItemAvailable()) return;
  const std::string path = Use(obj->FolderItem(), "dropped item").NativePath();
  const std::string ending = "/velmoor";

  if (Compare(Right(path, 8), ending) != 0) {
    Use(ShareDir(), "ShareDir").SetText(droppath::Escape(path));
  }
  if (Compare(Right(path, 8), ending) == 0) {
    // The ending is what goes, not an earlier "/velmoor": the start command
    // appends "/velmoor" to the folder that holds the executable.
    const std::string folder = path.substr(0, path.size() - ending.size());
    Use(velmoor(), "velmoor").SetText(droppath::Escape(folder));
  }
}
