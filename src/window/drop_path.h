// How a dropped path is written into a control: so that, put unquoted into
// the server's command line, the shell reads it back as one literal word.
#pragma once

#include <string>

namespace droppath {

// A backslash before every character the shell treats specially; a line
// feed, which a backslash cannot carry, goes between single quotes. A path
// with blanks only gets a backslash before each blank and nothing else.
std::string Escape(const std::string& path);

}  // namespace droppath
