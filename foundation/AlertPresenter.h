#pragma once
// AlertPresenter: the seam through which foundation code shows modal alerts
// and errors to the operator. The application installs its window layer's
// implementation at start-up; tests install a RecordingAlertPresenter. With
// none installed, CVNAlertUtilities logs the alert and answers the first
// button, so headless hosts never block.
//
// Installation is process-wide and thread-safe; presenters are called on the
// thread that runs the alert (the main thread, by the system's rules) and
// without any foundation lock held.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Error.h"

namespace foundation {

// The platform's alert styles.
enum class AlertStyle { Warning = 0, Informational = 1, Critical = 2 };

// The platform's modal response: the first button answers 1000, the second
// 1001, and so on.
using ModalResponse = std::int64_t;
inline constexpr ModalResponse kAlertFirstButtonReturn = 1000;
inline constexpr ModalResponse kAlertSecondButtonReturn = 1001;
inline constexpr ModalResponse kAlertThirdButtonReturn = 1002;

struct AlertRequest {
  AlertStyle style = AlertStyle::Warning;
  std::string title;    // the alert's message text
  std::string message;  // the alert's informative text
  std::vector<std::string> buttonTitles;  // in order, never empty
  friend bool operator==(const AlertRequest&, const AlertRequest&) = default;
};

class AlertPresenter {
 public:
  virtual ~AlertPresenter() = default;
  // Runs the alert modally; answers kAlertFirstButtonReturn + the position of
  // the button pressed.
  virtual ModalResponse runAlert(const AlertRequest& request) = 0;
  // Shows an error (its description and failure reason) to the operator.
  virtual void presentError(const platform::Error& error) = 0;
};

// Installs the process-wide presenter; nullptr removes it.
void setAlertPresenter(std::shared_ptr<AlertPresenter> presenter);
// The installed presenter, or nullptr.
std::shared_ptr<AlertPresenter> currentAlertPresenter();

// Installs a presenter for its lifetime and restores the previous one (tests).
class ScopedAlertPresenter {
 public:
  explicit ScopedAlertPresenter(std::shared_ptr<AlertPresenter> presenter);
  ~ScopedAlertPresenter();
  ScopedAlertPresenter(const ScopedAlertPresenter&) = delete;
  ScopedAlertPresenter& operator=(const ScopedAlertPresenter&) = delete;

 private:
  std::shared_ptr<AlertPresenter> previous_;
};

}  // namespace foundation
