// The two command lines that run and end the velmoor server through the
// shell. The pieces go in exactly as they stand: nothing is quoted, escaped,
// trimmed or checked, so a path with blanks must come escaped (a drop does
// that) and the port is text.
#pragma once

#include <string>

namespace server {

// "<folder>/velmoor -p <port> <share>".
std::string StartCommand(const std::string& velmoorFolder, const std::string& port,
                         const std::string& shareDir);

// Ends every process named velmoor, one this program did not start included.
std::string StopCommand();

}  // namespace server
