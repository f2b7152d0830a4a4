#include "app/directory.h"

#include <utility>

namespace corvenel {

Variant Variant::Text(std::string text) {
  Variant v;
  v.kind_ = Kind::kText;
  v.values_.push_back(std::move(text));
  return v;
}

Variant Variant::Array(std::vector<std::string> values) {
  Variant v;
  v.kind_ = Kind::kArray;
  v.values_ = std::move(values);
  return v;
}

const std::string& Variant::Element(size_t index) const {
  switch (kind_) {
    case Kind::kNull:
      throw VariantError("Variant is null, not an array");
    case Kind::kText:
      throw VariantError("Variant is not an array");
    case Kind::kArray:
      break;
  }
  if (index >= values_.size()) {
    throw VariantError("Variant array index " + std::to_string(index) + " out of bounds (" +
                       std::to_string(values_.size()) + " elements)");
  }
  return values_[index];
}

std::string Variant::AsText() const {
  std::string text;
  for (size_t i = 0; i < values_.size(); ++i) {
    if (i > 0) text += "; ";
    text += values_[i];
  }
  return text;
}

}  // namespace corvenel
