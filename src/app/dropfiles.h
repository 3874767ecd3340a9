// The drop type set: one type, "special/any", that admits any file or folder.
#pragma once

#include <memory>
#include <string>

#include "platform/filetype.h"

namespace Dropfiles {

// Makes pAny and registers it.
void Initialize();

// The names of the set's types, each followed by ";".
inline std::string All() { return "special/any;"; }

extern std::shared_ptr<FileType> pAny;

}  // namespace Dropfiles
