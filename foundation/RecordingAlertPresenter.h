#pragma once
// RecordingAlertPresenter: an AlertPresenter for tests of every folder. It
// records each alert and error it is asked to show and answers alerts from a
// queue of scripted responses (the first button once the queue is empty).
//
// Thread-safe: code under test may run alerts on any thread.

#include <deque>
#include <mutex>
#include <vector>

#include "foundation/AlertPresenter.h"

namespace foundation {

class RecordingAlertPresenter final : public AlertPresenter {
 public:
  ModalResponse runAlert(const AlertRequest& request) override;
  void presentError(const platform::Error& error) override;

  // The next alert answers `response`; queued answers are used in order.
  void queueResponse(ModalResponse response);

  std::vector<AlertRequest> alerts() const;
  std::vector<platform::Error> errors() const;

 private:
  mutable std::mutex mutex_;
  std::vector<AlertRequest> alerts_;      // guarded by mutex_
  std::vector<platform::Error> errors_;   // guarded by mutex_
  std::deque<ModalResponse> responses_;   // guarded by mutex_
};

}  // namespace foundation
