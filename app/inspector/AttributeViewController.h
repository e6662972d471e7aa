#pragma once
// AttributeViewController: the editor of one clip attribute in the Attributes
// pane: a three-state box (on: the clips carry a value; off: the default
// applies; mixed: the clips differ), the name (bold when the clips carry a
// value of their own) and the value, a pop-up of the attribute's possible
// values or a text. Values are read from and written through its data
// source, the pane.
//
// Owned by the pane (kept per attribute name across selections). Main thread.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/inspector/ClipInspectorViewController.h"
#include "nodes/media/Attribute.h"
#include "platform/Error.h"

namespace app::inspector {

// What an editor reads from and writes to.
class AttributeDataSource {
 public:
  virtual ~AttributeDataSource() = default;
  // The selected clips' common value; "" when they differ; none when no clip has it.
  virtual std::optional<std::string> valueForAttributeName(const std::string& name) const = 0;
  virtual std::optional<std::string> heritedAttributesForAttributeName(const std::string&) const { return std::nullopt; }
  // none removes the attribute from the clips.
  virtual void setValue(const std::optional<std::string>& value, const std::string& name) = 0;
  // The playlist records a change (its edited mark).
  virtual void recordChange() = 0;
};

// Longest attribute text taken.
inline constexpr std::size_t kMaximumAttributeTextLength = 4096;

struct AttributeEditorState {
  CheckState checkBox = CheckState::Off;
  bool checkBoxEnabled = true;
  bool labelBold = false;
  bool controlEnabled = false;  // the value control and the name label
  std::string value;            // shown in the control
  std::vector<std::string> possibleValues;  // a pop-up when not empty
};

class AttributeViewController {
 public:
  AttributeViewController(std::shared_ptr<nodes::Attribute> attribute, AttributeDataSource& dataSource);

  const std::shared_ptr<nodes::Attribute>& attribute() const { return attribute_; }
  void setAttribute(std::shared_ptr<nodes::Attribute> attribute);
  bool edited() const { return edited_; }
  const AttributeEditorState& state() const { return state_; }

  void disabledInterface(bool disabled);
  void updateInterface();
  // The operator typed into the text (not yet committed).
  void controlTextDidChange(std::string text);
  // The value control committed (pop-up chosen, text ended); refused text
  // changes nothing and says why.
  platform::Status attributeValueFieldChanged();
  // The box was clicked.
  void attributeEnabledCheckboxChanged();
  // Commits a pending edit: the value only, the box stays as it is.
  void saveAttributeValueFields();
  const std::string& controlStringValue() const { return state_.value; }

 private:
  void setAttributeValue(const std::optional<std::string>& value, bool inherited);
  void refreshEnabled();

  std::shared_ptr<nodes::Attribute> attribute_;
  AttributeDataSource& dataSource_;  // the pane; owns this editor
  bool edited_ = false;
  bool interfaceDesabled_ = false;
  AttributeEditorState state_;
};

}  // namespace app::inspector
