#pragma once
// A countdown window that keeps what its controller last told it.

#include <string>
#include <vector>

#include "app/countdown/CountDownView.h"

namespace app::countdown {

class RecordingCountDownView : public CountDownView {
 public:
  void setTimeCount(const TimeCountDisplay& display) override { timeCount = display; }
  void setClipNames(const std::string& currentName, const std::string& nextName) override {
    current = currentName;
    next = nextName;
  }
  void setNodeList(const std::vector<NodeListItem>& list, std::size_t index) override {
    items = list;
    selected = index;
  }
  void selectTimeCountType(std::int32_t tag) override { type = tag; }
  WindowFrame frame() const override { return windowFrame; }
  void setFrame(const WindowFrame& frame) override { windowFrame = frame; }
  void setFullScreen(bool on, const std::string& image) override {
    fullScreen = on;
    buttonImage = image;
  }
  void timeCountSizeDidChange() override { ++sizeChanges; }
  void show() override { ++shows; }

  TimeCountDisplay timeCount;
  std::string current, next;
  std::vector<NodeListItem> items;
  std::size_t selected = 0;
  std::int32_t type = 0;
  WindowFrame windowFrame{100, 80, 400, 200};
  bool fullScreen = false;
  std::string buttonImage;
  int sizeChanges = 0;
  int shows = 0;
};

}  // namespace app::countdown
