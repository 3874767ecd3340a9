// Start and Stop: the caption of PushButton1 is the only record of whether
// the server runs.
#include "platform/text.h"
#include "server/server_commands.h"
#include "window/main_window.h"

void MainWindow::PushButton1_Action(std::shared_ptr<PushButton>) {
  if (Compare(Use(PushButton1(), "PushButton1").Caption(), "Start") == 0) {
    // Saved first, so the file holds the texts the command is built from.
    SavePreferences();
    const std::string folder = Use(velmoor(), "velmoor").Text();
    const std::string port = Use(Port(), "Port").Text();
    const std::string share = Use(ShareDir(), "ShareDir").Text();
    ThreadString = server::StartCommand(folder, port, share);
    Use(AsyncShell(), "AsyncShell").Execute(ThreadString);
    Use(PushButton1(), "PushButton1").SetCaption("Stop");
    return;
  }
  if (Compare(Use(PushButton1(), "PushButton1").Caption(), "Stop") == 0) {
    ThreadString = server::StopCommand();
    Use(AsyncShell(), "AsyncShell").Execute(ThreadString);
    Use(PushButton1(), "PushButton1").SetCaption("Start");
  }
}

// The server is not watched: how its shell ends changes nothing.
void MainWindow::AsyncShell_Completed(std::shared_ptr<Shell>) {}
void MainWindow::AsyncShell_DataAvailable(std::shared_ptr<Shell>) {}
