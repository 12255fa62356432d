#include "platform/runtime/Thread.h"

#include <chrono>

#include "platform/runtime/GuiThread.h"

namespace platform {

TThread::TThread() = default;

TThread::~TThread() {
  Terminate();
  WaitFor();
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id())
      thread_.detach();
    else
      thread_.join();
  }
}

void TThread::Resume() {
  std::unique_lock lock(mutex_);
  if (!started_) {
    started_ = true;
    suspended_ = false;
    // Started under the lock so that no other thread ever sees thread_ half assigned; the new
    // thread takes the lock only later, in Suspend or at its end.
    thread_ = std::thread(&TThread::Run, this);
    return;
  }
  if (suspended_) {
    suspended_ = false;
    wake_.notify_all();
  }
}

void TThread::Run() {
  try {
    Execute();
  } catch (...) {
    // Execute() is meant to handle its own failures; one that escapes must not end the process.
  }
  std::lock_guard lock(mutex_);
  finishedFlag_ = true;
  finished_.notify_all();
}

void TThread::Suspend() {
  SuspendUnless([] { return false; });
}

void TThread::SuspendUnless(const std::function<bool()>& stayAwake) {
  std::unique_lock lock(mutex_);
  if (terminated_) return;
  suspended_ = true;
  if (stayAwake()) {
    suspended_ = false;
    return;
  }
  wake_.wait(lock, [this] { return !suspended_ || terminated_; });
  suspended_ = false;
}

bool TThread::Suspended() const {
  std::lock_guard lock(mutex_);
  return suspended_;
}

void TThread::Terminate() {
  std::lock_guard lock(mutex_);
  terminated_ = true;
  wake_.notify_all();
}

bool TThread::Terminated() const {
  std::lock_guard lock(mutex_);
  return terminated_;
}

void TThread::WaitFor() {
  std::unique_lock lock(mutex_);
  if (!started_ || thread_.get_id() == std::this_thread::get_id()) return;
  if (!IsGuiThread()) {
    finished_.wait(lock, [this] { return finishedFlag_; });
    return;
  }
  // The thread may be waiting in Synchronize for this very thread: keep serving those calls.
  while (!finishedFlag_) {
    lock.unlock();
    CheckSynchronize();
    lock.lock();
    finished_.wait_for(lock, std::chrono::milliseconds(1), [this] { return finishedFlag_; });
  }
}

void TThread::Synchronize(const std::function<void()>& fn) { platform::Synchronize(fn); }

}  // namespace platform
