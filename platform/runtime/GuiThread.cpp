#include "platform/runtime/GuiThread.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {
namespace {

struct Call {
  std::function<void()> fn;
  // Set for synchronised calls: the caller waits on `done` and reads `error`.
  bool waited = false;
  bool finished = false;
  std::exception_ptr error;
};

struct Queue {
  std::mutex mutex;  // guards calls, the hooks and every Call's finished/error
  std::condition_variable done;
  std::deque<std::shared_ptr<Call>> calls;
  std::function<void()> wake;
  std::function<void()> pumpEvents;
  std::thread::id guiThread = std::this_thread::get_id();
};

Queue& queue() {
  static Queue q;
  return q;
}

// Initialised during static initialisation, on the main thread, so that the main thread is the GUI
// thread by default.
[[maybe_unused]] const bool registered = (queue(), true);

void enqueue(const std::shared_ptr<Call>& call) {
  std::function<void()> wake;
  {
    std::lock_guard lock(queue().mutex);
    queue().calls.push_back(call);
    wake = queue().wake;
  }
  if (wake) wake();
}

}  // namespace

bool IsGuiThread() {
  std::lock_guard lock(queue().mutex);
  return std::this_thread::get_id() == queue().guiThread;
}

void SetGuiThread() {
  std::lock_guard lock(queue().mutex);
  queue().guiThread = std::this_thread::get_id();
}

void SetToolkitHooks(std::function<void()> wake, std::function<void()> pumpEvents) {
  std::lock_guard lock(queue().mutex);
  queue().wake = std::move(wake);
  queue().pumpEvents = std::move(pumpEvents);
}

void Synchronize(const std::function<void()>& fn) {
  if (IsGuiThread()) {
    fn();
    return;
  }
  auto call = std::make_shared<Call>();
  call->fn = fn;
  call->waited = true;
  enqueue(call);
  std::exception_ptr error;
  {
    std::unique_lock lock(queue().mutex);
    queue().done.wait(lock, [&] { return call->finished; });
    // Taken out under the lock, so that only this thread holds the exception from now on (its
    // reference count is invisible to the thread sanitizer).
    error = std::move(call->error);
  }
  if (error) std::rethrow_exception(error);
}

void PostToGui(std::function<void()> fn) {
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  enqueue(call);
}

void CheckSynchronize() {
  if (!IsGuiThread()) return;
  // Only the calls queued before this point run: a call that queues another must not keep the
  // GUI thread here for ever.
  std::deque<std::shared_ptr<Call>> batch;
  {
    std::lock_guard lock(queue().mutex);
    batch.swap(queue().calls);
  }
  for (auto& call : batch) {
    std::exception_ptr error;
    try {
      call->fn();
    } catch (...) {
      error = std::current_exception();
    }
    if (call->waited) {
      std::lock_guard lock(queue().mutex);
      call->error = std::move(error);
      call->finished = true;
    } else if (error) {
      // Nobody waits for a posted call: its failure cannot be handed back, and it must not take
      // the GUI thread down with it.
    }
  }
  if (!batch.empty()) queue().done.notify_all();
}

void ProcessMessages() {
  if (!IsGuiThread()) return;
  CheckSynchronize();
  std::function<void()> pump;
  {
    std::lock_guard lock(queue().mutex);
    pump = queue().pumpEvents;
  }
  if (pump) pump();
}

}  // namespace platform
