#include "platform/properties.h"

void PropertyObject::SetProperty(const std::string& name, const PropertyValue& value) {
  values_[name] = value;
}

const PropertyValue* PropertyObject::PropertyValueOf(const std::string& name) const {
  auto it = values_.find(name);
  return it == values_.end() ? nullptr : &it->second;
}

bool PropertyObject::BoolOf(const std::string& name, bool fallback) const {
  const PropertyValue* v = PropertyValueOf(name);
  return v && std::holds_alternative<bool>(*v) ? std::get<bool>(*v) : fallback;
}

std::int32_t PropertyObject::IntOf(const std::string& name, std::int32_t fallback) const {
  const PropertyValue* v = PropertyValueOf(name);
  return v && std::holds_alternative<std::int32_t>(*v) ? std::get<std::int32_t>(*v) : fallback;
}

std::string PropertyObject::TextOf(const std::string& name, const std::string& fallback) const {
  const PropertyValue* v = PropertyValueOf(name);
  return v && std::holds_alternative<std::string>(*v) ? std::get<std::string>(*v) : fallback;
}

void SetProperties(const std::shared_ptr<Object>& object, const PropertyList& list) {
  auto& target = Use(Cast<PropertyObject>(object), "object for design data");
  for (const Property& p : list) target.SetProperty(p.name, p.value);
}
