#include "platform/text.h"

#include "platform/exceptions.h"

const std::string& StringArray::operator[](std::size_t index) const {
  if (index >= items_.size()) {
    throw OutOfBoundsException("index " + std::to_string(index) + " is past the end of a list of " +
                               std::to_string(items_.size()));
  }
  return items_[index];
}

StringArray Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> fields;
  if (separator.empty()) return StringArray({text});
  std::size_t start = 0;
  for (;;) {
    std::size_t at = text.find(separator, start);
    if (at == std::string::npos) break;
    fields.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  fields.push_back(text.substr(start));
  return StringArray(std::move(fields));
}

std::string Right(const std::string& text, std::size_t count) {
  std::size_t at = text.size();
  while (count > 0 && at > 0) {
    --at;
    // Step over continuation bytes so a character is never cut in half.
    while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
    --count;
  }
  return text.substr(at);
}

std::string Replace(const std::string& source, const std::string& find, const std::string& with) {
  if (find.empty()) return source;
  std::size_t at = source.find(find);
  if (at == std::string::npos) return source;
  return source.substr(0, at) + with + source.substr(at + find.size());
}

std::string ReplaceAll(const std::string& source, const std::string& find, const std::string& with) {
  if (find.empty()) return source;
  std::string out;
  std::size_t start = 0;
  for (;;) {
    std::size_t at = source.find(find, start);
    if (at == std::string::npos) break;
    out.append(source, start, at - start);
    out += with;
    start = at + find.size();
  }
  out.append(source, start, std::string::npos);
  return out;
}

int Compare(const std::string& a, const std::string& b) { return a.compare(b); }
