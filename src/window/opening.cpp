// The window's opening: drops, the machine's address, the saved settings and
// the automatic start.
#include "app/dropfiles.h"
#include "platform/runtime.h"
#include "platform/text.h"
#include "window/main_window.h"

void MainWindow::Event_Open() {
  AcceptFileDrop(Dropfiles::All());

  auto query = New<Shell>();
  const std::string command = Use(Label1(), "Label1").Text();
  Use(query, "address query shell").Execute(command);
  const StringArray fields = Split(query->Result(), " ");
  if (query->Result() != "") Use(IPAddress(), "IPAddress").SetText(fields[1]);
  if (query->Result() == "") Use(IPAddress(), "IPAddress").SetText("127.0.0.1");

  // After the address, so a saved address wins over the one just found.
  LoadPreferences();
  Use(Label1(), "Label1").SetText("");

  if (Compare(Right(System().CommandLine(), 10), "-automount") == 0) automount = "Yes";
  // The push is queued, so the box is ticked before the pushed Start saves.
  if (Compare(automount, "Yes") == 0) Use(PushButton1(), "PushButton1").Push();
  if (Compare(automount, "Yes") == 0) Use(CheckBox1(), "CheckBox1").SetValue(true);
}
