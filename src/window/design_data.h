// The window's fixed design data: the window's own list and one list per
// control, applied once while the window is built.
#pragma once

#include <string>

#include "platform/properties.h"

namespace design {

// The address query run at opening: it prints "inet ADDRESS" for the first
// IPv4 address that is neither loopback (127/8) nor link-local (169.254/16),
// and nothing when there is none. ifconfig lives in sbin, which a user's PATH
// lacks, so sbin is searched after PATH; where there is no ifconfig,
// "ip -4 addr" has the same "inet" lines. The address is the word after
// "inet", less the "addr:" of old net-tools or the "/24" of ip; a word that
// is no address is passed over. The shell reads the lines itself as they
// come and stops at the first address, so a tool that writes without end
// costs no memory: three processes, the shell, the tool and the reading loop.
inline const std::string kAddressQuery =
    "PATH=$PATH:/sbin:/usr/sbin; "
    "if command -v ifconfig >/dev/null; then ifconfig; else ip -4 addr; fi | "
    "while read -r w a r; do [ \"$w\" = inet ] || continue; a=${a#addr:}; a=${a%%/*}; "
    "case $a in 127.*|169.254.*|*[!0-9.]*) ;; [0-9]*.*.*.*) printf 'inet %s' \"$a\"; break;; esac; done";

struct Geometry {
  std::int32_t left, top, width, height, tabIndex;
};

PropertyList WindowData();
PropertyList PushButtonData(const std::string& name, Geometry g, const std::string& caption, bool isDefault);
PropertyList TextFieldData(const std::string& name, Geometry g, const std::string& text);
PropertyList LabelData(const std::string& name, Geometry g, const std::string& text,
                       std::int32_t textAlign = 0);
PropertyList CheckBoxData(const std::string& name, Geometry g, const std::string& caption);
PropertyList ShellData();

}  // namespace design
