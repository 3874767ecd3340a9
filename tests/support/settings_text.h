// The settings text the launcher saves, built here on its own rather than by
// the writer the tests check: one line, the five members in the order the
// save sets them, each name and value between double quotes, with a
// backslash doubled, a double quote escaped and a slash written \/.
#pragma once

#include <stdexcept>
#include <string>

namespace testsupport {

// A value between double quotes, escaped as the settings file holds it. Only
// printable ASCII: the writer escapes control and some invisible characters
// further, which this builder does not restate.
inline std::string SettingsValue(const std::string& value) {
  std::string out = "\"";
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F) {
      throw std::invalid_argument("SettingsText takes printable ASCII only: " + value);
    }
    if (c == '\\' || c == '"' || c == '/') out += '\\';
    out += c;
  }
  return out + "\"";
}

inline std::string SettingsText(const std::string& ipaddress, const std::string& port,
                                const std::string& velmoorFldr, const std::string& ShareDir,
                                const std::string& Automount) {
  return "{\"ipaddress\":" + SettingsValue(ipaddress) + ",\"port\":" + SettingsValue(port) +
         ",\"velmoorFldr\":" + SettingsValue(velmoorFldr) + ",\"ShareDir\":" + SettingsValue(ShareDir) +
         ",\"Automount\":" + SettingsValue(Automount) + "}";
}

}  // namespace testsupport
