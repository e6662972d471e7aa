#include "foundation/AlertPresenter.h"

#include <mutex>
#include <utility>

namespace foundation {
namespace {

std::mutex presenterMutex;
std::shared_ptr<AlertPresenter> installedPresenter;  // guarded by presenterMutex

}  // namespace

void setAlertPresenter(std::shared_ptr<AlertPresenter> presenter) {
  std::shared_ptr<AlertPresenter> replaced;  // released outside the lock
  std::lock_guard guard(presenterMutex);
  replaced = std::exchange(installedPresenter, std::move(presenter));
}

std::shared_ptr<AlertPresenter> currentAlertPresenter() {
  std::lock_guard guard(presenterMutex);
  return installedPresenter;
}

ScopedAlertPresenter::ScopedAlertPresenter(std::shared_ptr<AlertPresenter> presenter)
    : previous_(currentAlertPresenter()) {
  setAlertPresenter(std::move(presenter));
}

ScopedAlertPresenter::~ScopedAlertPresenter() { setAlertPresenter(std::move(previous_)); }

}  // namespace foundation
