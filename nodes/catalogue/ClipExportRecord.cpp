#include "nodes/catalogue/ClipExportRecord.h"

#include <cmath>
#include <limits>
#include <string>

#include "nodes/catalogue/CatalogueTransferErrors.h"
#include "nodes/media/ClipInfoKeys.h"
#include "nodes/playlist/PlaylistItem.h"

namespace nodes {
namespace {

using catalogue::AttributeKind;
using catalogue::ClipAttribute;
using platform::Dictionary;
using platform::Error;
using platform::Result;
using platform::Value;

Error wrongType(std::string_view key, const Value& value, const char* expected) {
  return Error(kCatalogueTransferErrorDomain, CatalogueTransferErrorCode::ImportValueWrongType,
               "\"" + std::string(key) + "\": expected " + expected + ", found " + value.describe(),
               Dictionary{{kCatalogueTransferKeyKey, Value(std::string(key))}});
}

// A whole number held by an integer, or by a real without a fraction.
std::optional<std::int64_t> wholeNumber(const Value& value) {
  if (value.isInteger()) return value.integer();
  if (value.isReal()) {
    const double real = *value.real();
    if (std::isfinite(real) && real == std::trunc(real) && std::fabs(real) < 9.0e18)
      return static_cast<std::int64_t>(real);
  }
  return std::nullopt;
}

Value emptyValue(AttributeKind kind) {
  switch (kind) {
    case AttributeKind::Text:
      return Value(std::string());
    case AttributeKind::Integer:
    case AttributeKind::Int32:
      return Value(std::int64_t{0});
    case AttributeKind::Real:
      return Value(0.0);
    case AttributeKind::Boolean:
      return Value(false);
    case AttributeKind::Date:
    case AttributeKind::Any:
      return Value();
  }
  return Value();
}

}  // namespace

Dictionary exportDictionaryFromClipRow(const CatalogueRow& row) {
  Dictionary clip;
  for (const ClipAttribute& attribute : catalogue::clipAttributes()) {
    auto found = row.find(attribute.name);
    if (found != row.end() && !found->second.isNone()) clip.emplace(attribute.name, found->second);
  }
  auto dateString = clip.find(clipinfo::kLastModificationDateString);
  if (dateString == clip.end() || dateString->second == Value(std::string())) {
    auto date = clip.find(clipinfo::kLastModificationDate);
    if (date != clip.end() && date->second.isDate()) {
      clip.insert_or_assign(clipinfo::kLastModificationDateString,
                            Value(PlaylistItem::dateToString(*date->second.date())));
    }
  }
  return clip;
}

Result<Value> checkedClipValue(const ClipAttribute& attribute, const Value& value) {
  switch (attribute.kind) {
    case AttributeKind::Text:
      if (value.isString()) return value;
      return wrongType(attribute.name, value, "text");
    case AttributeKind::Integer:
    case AttributeKind::Int32: {
      const bool narrow = attribute.kind == AttributeKind::Int32;
      const std::optional<std::int64_t> number = wholeNumber(value);
      if (number && (!narrow || (*number >= std::numeric_limits<std::int32_t>::min() &&
                                 *number <= std::numeric_limits<std::int32_t>::max()))) {
        return Value(*number);
      }
      return wrongType(attribute.name, value, narrow ? "a 32-bit whole number" : "a whole number");
    }
    case AttributeKind::Real:
      // The store cannot keep NaN or the infinities as numbers.
      if (value.isNumber() && std::isfinite(*value.real())) return Value(*value.real());
      return wrongType(attribute.name, value, "a finite number");
    case AttributeKind::Boolean:
      if (value.isBoolean()) return value;
      return wrongType(attribute.name, value, "a boolean");
    case AttributeKind::Date:
      if (value.isDate()) return value;
      return wrongType(attribute.name, value, "a date");
    case AttributeKind::Any:
      if (value.isString() || value.isInteger() || value.isBoolean() || value.isData() ||
          (value.isReal() && std::isfinite(*value.real()))) {
        return value;
      }
      return wrongType(attribute.name, value, "text, a number, a boolean or data");
  }
  return wrongType(attribute.name, value, "a value of the attribute's kind");
}

Result<CatalogueRow> clipRowFromExportDictionary(const Dictionary& clip) {
  CatalogueRow row;
  for (const ClipAttribute& attribute : catalogue::clipAttributes()) {
    auto found = clip.find(attribute.name);
    if (found == clip.end() || found->second.isNone()) {
      row.emplace(attribute.name, emptyValue(attribute.kind));
      continue;
    }
    Result<Value> checked = checkedClipValue(attribute, found->second);
    if (!checked.ok()) return checked.error();
    row.emplace(attribute.name, std::move(*checked));
  }
  const std::string* uniqueID = row[clipinfo::kUniqueID].string();
  if (!uniqueID || uniqueID->empty()) {
    return Error(kCatalogueTransferErrorDomain, CatalogueTransferErrorCode::ImportValueWrongType,
                 std::string("\"") + clipinfo::kUniqueID + "\": a clip needs a unique ID",
                 Dictionary{{kCatalogueTransferKeyKey, Value(clipinfo::kUniqueID)}});
  }
  return row;
}

}  // namespace nodes
