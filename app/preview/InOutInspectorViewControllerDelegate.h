#pragma once
// What the pane's owner (the in/out inspector) hears and decides. The
// setters answer whether the delegate took the value: a delegate that does
// not take one leaves it to the pane, which changes the item itself.
//
// Main thread only.

namespace app {

class ClipPreviewViewController;

class InOutInspectorViewControllerDelegate {
 public:
  virtual ~InOutInspectorViewControllerDelegate() = default;

  virtual void inOutPointInspectorViewControllerDidLoad(ClipPreviewViewController& /*controller*/) {}
  virtual bool shouldShowOverridenInOutPointCheckbox() { return false; }
  virtual bool shouldPreventInOutDurationModifications() { return false; }
  virtual bool canSplitItems() { return false; }

  virtual bool splitAtTime(double /*seconds*/) { return false; }
  virtual bool setInPointInSeconds(double /*seconds*/) { return false; }
  virtual bool setOutPointInSeconds(double /*seconds*/) { return false; }
  virtual bool setMediaItemDurationInSeconds(double /*seconds*/) { return false; }
  virtual bool setHasOverridenInOutPoint(bool /*overriden*/) { return false; }
  virtual void itemDidInitialize() {}
};

}  // namespace app
