#include "app/inspector/AttributeViewController.h"

#include <algorithm>

namespace app::inspector {
namespace {

constexpr const char* kErrorDomain = "AttributeViewController";
enum class AttributeError { TooLong = 1, ControlCharacter = 2, NotAPossibleValue = 3 };

platform::Status checkValue(const nodes::Attribute& attribute, const std::string& value) {
  const std::string name = attribute.displayName().value_or(attribute.name().value_or(""));
  if (const auto possible = attribute.possibleValues(); possible && !possible->empty()) {
    if (std::find(possible->begin(), possible->end(), value) == possible->end()) {
      return platform::Error(kErrorDomain, AttributeError::NotAPossibleValue, "\"" + value + "\" is not a value of " + name + ".");
    }
    return platform::Status::success();
  }
  if (value.size() > kMaximumAttributeTextLength) {
    return platform::Error(kErrorDomain, AttributeError::TooLong, name + " takes at most 4096 characters.");
  }
  if (std::any_of(value.begin(), value.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; })) {
    return platform::Error(kErrorDomain, AttributeError::ControlCharacter, name + " takes no control characters.");
  }
  return platform::Status::success();
}

}  // namespace

AttributeViewController::AttributeViewController(std::shared_ptr<nodes::Attribute> attribute,
                                                 AttributeDataSource& dataSource)
    : attribute_(std::move(attribute)), dataSource_(dataSource) {
  updateInterface();
}

void AttributeViewController::setAttribute(std::shared_ptr<nodes::Attribute> attribute) {
  attribute_ = std::move(attribute);
}

void AttributeViewController::disabledInterface(bool disabled) {
  interfaceDesabled_ = disabled;
  refreshEnabled();
}

void AttributeViewController::refreshEnabled() {
  state_.controlEnabled = state_.checkBox != CheckState::Off && !interfaceDesabled_;
  state_.checkBoxEnabled = !interfaceDesabled_;
}

void AttributeViewController::updateInterface() {
  state_.possibleValues = attribute_->possibleValues().value_or(std::vector<std::string>{});
  const auto value = dataSource_.valueForAttributeName(attribute_->name().value_or(""));
  if (!value) {
    if (const auto inherited = dataSource_.heritedAttributesForAttributeName(attribute_->name().value_or(""))) {
      setAttributeValue(inherited, true);
      return;
    }
  }
  setAttributeValue(value, false);
}

void AttributeViewController::setAttributeValue(const std::optional<std::string>& value, bool inherited) {
  edited_ = false;
  if (!value) {
    state_.value = attribute_->defaultValue().value_or("");
    state_.labelBold = false;
    state_.checkBox = CheckState::Off;
  } else if (value->empty()) {
    state_.value.clear();
    state_.labelBold = true;
    state_.checkBox = CheckState::Mixed;
  } else {
    state_.value = *value;
    state_.checkBox = CheckState::On;
    state_.labelBold = !inherited;
    if (inherited) state_.checkBox = CheckState::Off;
  }
  refreshEnabled();
}

void AttributeViewController::controlTextDidChange(std::string text) {
  edited_ = true;
  state_.value = std::move(text);
}

platform::Status AttributeViewController::attributeValueFieldChanged() {
  const std::string name = attribute_->name().value_or("");
  const std::string value = controlStringValue();
  if (dataSource_.valueForAttributeName(name) == value) return platform::Status::success();
  if (platform::Status status = checkValue(*attribute_, value); !status) {
    updateInterface();
    return status;
  }
  dataSource_.recordChange();
  attribute_->setValue(value);
  dataSource_.setValue(value, name);
  state_.labelBold = value != attribute_->defaultValue().value_or("");
  return platform::Status::success();
}

void AttributeViewController::attributeEnabledCheckboxChanged() {
  // The box's own step (on to off, off to mixed, mixed to on), then mixed
  // becomes on and on becomes off: a click turns off on and on the rest.
  CheckState state = state_.checkBox == CheckState::On    ? CheckState::Off
                     : state_.checkBox == CheckState::Off ? CheckState::Mixed
                                                          : CheckState::On;
  state = state == CheckState::On ? CheckState::Off : state == CheckState::Mixed ? CheckState::On : state;
  state_.checkBox = state;
  const std::string name = attribute_->name().value_or("");
  if (state == CheckState::On) {
    refreshEnabled();
    const std::string value = controlStringValue().empty() ? attribute_->defaultValue().value_or("") : controlStringValue();
    dataSource_.setValue(value, name);
    updateInterface();
    return;
  }
  const auto defaultValue = attribute_->defaultValue();
  if (defaultValue && dataSource_.valueForAttributeName(name) != defaultValue) dataSource_.recordChange();
  refreshEnabled();
  dataSource_.setValue(std::nullopt, name);
  updateInterface();
}

void AttributeViewController::saveAttributeValueFields() {
  if (!edited_) return;
  // The value only: the box step would turn an on box off and drop the value.
  (void)attributeValueFieldChanged();
  edited_ = false;
}

}  // namespace app::inspector
