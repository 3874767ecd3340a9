// The text functions. Text is UTF-8 std::string; comparison is byte-exact
// (file systems here are case-sensitive). Right counts characters, not bytes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A list of texts whose read past its end raises OutOfBoundsException.
class StringArray {
 public:
  StringArray() = default;
  explicit StringArray(std::vector<std::string> items) : items_(std::move(items)) {}
  const std::string& operator[](std::size_t index) const;
  std::size_t size() const { return items_.size(); }
  const std::vector<std::string>& items() const { return items_; }

 private:
  std::vector<std::string> items_;
};

// The text split at every occurrence of the separator: "a  b" at " " gives
// "a", "", "b". An empty separator gives the text as one field.
StringArray Split(const std::string& text, const std::string& separator);

// The last count characters (code points) of the text, or all of it.
std::string Right(const std::string& text, std::size_t count);

// The source with its first occurrence of find replaced.
std::string Replace(const std::string& source, const std::string& find, const std::string& with);

// The source with every occurrence of find replaced; what is put in is not
// searched again.
std::string ReplaceAll(const std::string& source, const std::string& find, const std::string& with);

// The string comparison: 0 when equal, negative or positive by byte order.
int Compare(const std::string& a, const std::string& b);
