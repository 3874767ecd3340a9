// The window's fixed design data: the window's own list and one list per
// control, applied once while the window is built.
#pragma once

#include <string>

#include "platform/properties.h"

namespace design {

// The address query run at opening; Linux's ifconfig indents with blanks,
// so the last stage drops them and the address stays the second field.
inline const std::string kAddressQuery =
    "ifconfig | grep \"inet \" | grep -v 127. | grep -v 169. | sed \"s/^ *//\"";

struct Geometry {
  std::int32_t left, top, width, height, tabIndex;
};

PropertyList WindowData();
PropertyList PushButtonData(const std::string& name, Geometry g, const std::string& caption, bool isDefault);
PropertyList TextFieldData(const std::string& name, Geometry g, const std::string& text);
PropertyList LabelData(const std::string& name, Geometry g, const std::string& text, std::int32_t textAlign = 0);
PropertyList CheckBoxData(const std::string& name, Geometry g, const std::string& caption);
PropertyList ShellData();

}  // namespace design
