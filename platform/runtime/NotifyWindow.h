#pragma once
// Hidden message windows: a handle that other code can post messages to, each message being handed
// to the window's procedure on the GUI thread at its next message processing (see GuiThread.h).
//
// Components use one to receive platform notifications (the mixer's line and control changes) on
// the GUI thread, whatever thread raised them. A message posted to a window that is deallocated
// before the GUI thread comes round to it is dropped.

#include <cstdint>
#include <functional>

namespace platform {

using UINT = std::uint32_t;
using HWND = std::uint32_t;  // 0 is no window
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

struct TMessage {
  UINT Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

using WndMethod = std::function<void(TMessage& message)>;

// Creates a hidden window whose messages go to `proc` on the GUI thread.
HWND AllocateHWnd(WndMethod proc);

// Destroys the window; messages still queued for it are dropped. Call it on the GUI thread (where
// the window's procedure runs), so that no message is being handled while it goes.
void DeallocateHWnd(HWND wnd);

// Queues a message for the window and returns at once; callable from any thread. False when the
// window does not exist.
bool PostMessageA(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The default handling of a message no procedure wants: nothing happens and the result is 0.
LRESULT DefWindowProcA(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace platform
