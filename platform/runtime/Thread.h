#pragma once
// TThread: a thread object that is created suspended, started and resumed by Resume(), can suspend
// itself, and is asked to end with Terminate().
//
// Life of a thread object:
//   - The constructor creates no system thread; the first Resume() starts one that runs Execute().
//     An object that is never resumed never runs (it may still call Execute() itself, directly).
//   - Only the thread itself suspends itself (Suspend, SuspendUnless); any thread resumes it.
//   - Terminate() only sets the terminate request; Execute() is expected to look at Terminated()
//   and
//     return. A suspended thread is woken by Terminate() (its Suspend returns), so a thread object
//     can always be ended.
//   - The destructor terminates the thread and waits for it to end (WaitFor). Classes that derive
//     from TThread must end the thread in their own destructor (call Terminate() and WaitFor()
//     first), because Execute() may still be using the derived parts.
//   - WaitFor() on the GUI thread keeps running the calls that other threads hand to it with
//     Synchronize, so that a thread waiting for the GUI thread can finish.
//   - Nothing may wait for a thread from that thread itself: WaitFor() there returns at once and
//   the
//     system thread is detached when the object is destroyed.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace platform {

class TThread {
 public:
  TThread();
  virtual ~TThread();

  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts the thread on the first call; afterwards wakes it if it is suspended. Any thread.
  void Resume();
  // Suspends the calling thread, which must be this thread, until Resume() or Terminate().
  // Returns at once when termination was requested.
  void Suspend();
  // As Suspend(), except that it does not suspend when stayAwake() is true; stayAwake() is asked
  // after the thread has been marked suspended, so a Resume() that races with it is never lost: a
  // thread that is made to stay awake by another thread's flag is either seen suspended by that
  // thread's next Resume() call, or sees the flag itself.
  void SuspendUnless(const std::function<bool()>& stayAwake);
  // True while the thread is suspended or has not been started yet.
  bool Suspended() const;

  void Terminate();
  bool Terminated() const;

  // Waits until Execute() has returned (at once if the thread never started).
  void WaitFor();

 protected:
  virtual void Execute() = 0;

  // Runs fn on the GUI thread while this thread waits; fn's exception is rethrown here.
  static void Synchronize(const std::function<void()>& fn);

 private:
  void Run();

  mutable std::mutex mutex_;          // guards every field below
  std::condition_variable wake_;      // suspended_ cleared or terminate requested
  std::condition_variable finished_;  // finished_ set
  bool started_ = false;
  bool suspended_ = true;
  bool terminated_ = false;
  bool finishedFlag_ = false;
  std::thread thread_;  // assigned once, by the first Resume()
};

}  // namespace platform
