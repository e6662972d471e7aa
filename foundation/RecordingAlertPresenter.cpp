#include "foundation/RecordingAlertPresenter.h"

namespace foundation {

ModalResponse RecordingAlertPresenter::runAlert(const AlertRequest& request) {
  std::lock_guard guard(mutex_);
  alerts_.push_back(request);
  if (responses_.empty()) return kAlertFirstButtonReturn;
  const ModalResponse response = responses_.front();
  responses_.pop_front();
  return response;
}

void RecordingAlertPresenter::presentError(const platform::Error& error) {
  std::lock_guard guard(mutex_);
  errors_.push_back(error);
}

void RecordingAlertPresenter::queueResponse(ModalResponse response) {
  std::lock_guard guard(mutex_);
  responses_.push_back(response);
}

std::vector<AlertRequest> RecordingAlertPresenter::alerts() const {
  std::lock_guard guard(mutex_);
  return alerts_;
}

std::vector<platform::Error> RecordingAlertPresenter::errors() const {
  std::lock_guard guard(mutex_);
  return errors_;
}

}  // namespace foundation
