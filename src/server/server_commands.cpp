#include "server/server_commands.h"

namespace server {

std::string StartCommand(const std::string& velmoorFolder, const std::string& port,
                         const std::string& shareDir) {
  std::string command = velmoorFolder;
  command += "/velmoor -p ";
  command += port;
  command += " ";
  command += shareDir;
  return command;
}

std::string StopCommand() { return "killall velmoor"; }

}  // namespace server
