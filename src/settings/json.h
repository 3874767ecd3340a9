// The settings text: one JSON object written and read in a fixed form.
//
// Writing: ToString gives "{", the members as "name":value joined by ",", and
// "}", with no blank between tokens and no line end. Members come in the order
// in which they were first set; setting a member again replaces its value in
// place. Names and string values are escaped: \ " and control characters,
// the invisible format characters as \uXXXX, and every slash as \/.
//
// Reading: JSONItem(text) parses UTF-8 text. Empty or white-space text gives
// an empty object. An array is read too, but no member can be read from it by
// name. A name given twice keeps its last value; text after the outermost
// value is ignored. Malformed text raises JSONException with the error
// number and a message that ends in " at position N" (the byte offset where
// the error was found) when N > 0. Nesting depth costs memory, never stack.
//
// Cost: a read takes time in proportion to the text's size, and the log of
// an object's member count per member, whose names go through a std::map.
// Each value takes a node of 20 bytes, each name, string and number a
// std::string of 32, so a read can take about 35 times the text at its peak
// (nested brackets, or zeros in an array: bench/json_bench). The launcher
// reads at most TextInputStream::kMaxSize bytes.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/object.h"

namespace json_detail {
struct Tree;
}

class JSONItem : public Object {
 public:
  JSONItem();                                  // an empty object
  explicit JSONItem(const std::string& text);  // raises JSONException
  ~JSONItem() override;

  // Sets the member to a string value. Raises JSONException 13 on an array.
  void Value(const std::string& name, const std::string& value);

  // The member's value as text: a string as its text, a number as written,
  // "true" or "false", "" for null, an object or array as its compact text.
  // Raises KeyNotFoundException naming the member when there is none, and
  // JSONException 13 "JSONItem is an array" on an array.
  std::string Value(const std::string& name) const;

  std::string ToString() const;

  // The writer only knows the compact form with escaped slashes.
  bool Compact = true;
  bool EscapeSlashes = true;

  bool IsArray() const;
  std::size_t Count() const;  // members of an object, items of an array

 private:
  std::unique_ptr<json_detail::Tree> tree_;
};
