// Design data: an ordered list of property assignments applied to an object
// in one SetProperties call. Values the toolkit has no use for are kept on the
// object all the same, so they can be read back.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/object.h"

struct Color {
  std::uint8_t red = 0, green = 0, blue = 0;
  bool operator==(const Color&) const = default;
};

using PropertyValue = std::variant<bool, std::int32_t, std::string, Color, float, std::uint8_t>;

struct Property {
  std::string name;
  PropertyValue value;
};

using PropertyList = std::vector<Property>;

// Typed makers, so a literal never lands in the wrong alternative.
inline Property BoolProp(std::string n, bool v) { return {std::move(n), v}; }
inline Property IntProp(std::string n, std::int32_t v) { return {std::move(n), v}; }
inline Property TextProp(std::string n, std::string v) { return {std::move(n), std::move(v)}; }
inline Property ColorProp(std::string n, Color v) { return {std::move(n), v}; }
inline Property SingleProp(std::string n, float v) { return {std::move(n), v}; }
inline Property ByteProp(std::string n, std::uint8_t v) { return {std::move(n), v}; }

class PropertyObject : public Object {
 public:
  // Stores the value; subclasses first apply the names they know.
  virtual void SetProperty(const std::string& name, const PropertyValue& value);
  // The value last set under the name, or nullptr.
  const PropertyValue* PropertyValueOf(const std::string& name) const;

 protected:
  bool BoolOf(const std::string& name, bool fallback) const;
  std::int32_t IntOf(const std::string& name, std::int32_t fallback) const;
  std::string TextOf(const std::string& name, const std::string& fallback) const;

 private:
  std::map<std::string, PropertyValue> values_;
};

// Sets every property of the list on the object, in the list's order.
void SetProperties(const std::shared_ptr<Object>& object, const PropertyList& list);
