// Feeds arbitrary bytes to the settings reader and writer. Any crash,
// sanitizer report or exception other than the documented ones is a finding,
// and so is text that does not read back to what was written.
#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/json.h"

namespace {

void ReadAndRewrite(const std::string& text) {
  std::string written;
  try {
    JSONItem item(text);
    written = item.ToString();
    if (!item.IsArray()) {
      try {
        (void)item.Value("a");
      } catch (const KeyNotFoundException&) {
      }
    }
  } catch (const JSONException&) {
    return;
  }
  // What the writer gives must read again, to the very same text.
  JSONItem again(written);
  if (again.ToString() != written) __builtin_trap();
}

// The bytes as a name and a value, split at the first NUL: every text must
// survive the escaping unchanged.
void WriteAndReadBack(const std::string& text) {
  std::size_t cut = text.find('\0');
  std::string name = text.substr(0, cut);
  std::string value = cut == std::string::npos ? std::string() : text.substr(cut + 1);
  JSONItem item;
  item.Value(name, value);
  item.Value("k", value);
  JSONItem back(item.ToString());
  if (back.Value(name) != value || back.Value("k") != value) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ReadAndRewrite(text);
  WriteAndReadBack(text);
  return 0;
}
