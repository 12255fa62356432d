#include "platform/runtime/NotifyWindow.h"

#include <map>
#include <memory>
#include <mutex>

#include "platform/runtime/GuiThread.h"

namespace platform {
namespace {

struct Registry {
  std::mutex mutex;  // guards windows and next
  // Procedures are shared so that a delivery can run one outside the lock.
  std::map<HWND, std::shared_ptr<WndMethod>> windows;
  HWND next = 1;
};

Registry& registry() {
  static Registry r;
  return r;
}

std::shared_ptr<WndMethod> find(HWND wnd) {
  std::lock_guard lock(registry().mutex);
  auto it = registry().windows.find(wnd);
  return it == registry().windows.end() ? nullptr : it->second;
}

}  // namespace

HWND AllocateHWnd(WndMethod proc) {
  auto method = std::make_shared<WndMethod>(std::move(proc));
  std::lock_guard lock(registry().mutex);
  // Handles are never reused, so a message queued for a window that is gone cannot reach a newer
  // window that happens to get the same number.
  HWND wnd = registry().next++;
  registry().windows.emplace(wnd, std::move(method));
  return wnd;
}

void DeallocateHWnd(HWND wnd) {
  std::shared_ptr<WndMethod> doomed;
  {
    std::lock_guard lock(registry().mutex);
    auto it = registry().windows.find(wnd);
    if (it == registry().windows.end()) return;
    doomed = std::move(it->second);
    registry().windows.erase(it);
  }
}

bool PostMessageA(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!find(wnd)) return false;
  PostToGui([wnd, msg, wParam, lParam] {
    // Looked up again at delivery: the window may have gone in the meantime.
    auto method = find(wnd);
    if (!method || !*method) return;
    TMessage message{msg, wParam, lParam, 0};
    (*method)(message);
  });
  return true;
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return 0; }

}  // namespace platform
