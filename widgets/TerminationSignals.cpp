#include "widgets/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <utility>

namespace tw {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The signal handler may only write to a pipe; the GUI thread reads it through the event loop.
int wakeFds[2] = {-1, -1};
std::function<void()> requestHandler;

extern "C" void WriteSignalNumber(int signalNumber) {
  const int saved = errno;
  const char byte = static_cast<char>(signalNumber);
  [[maybe_unused]] const ssize_t n = ::write(wakeFds[1], &byte, 1);
  errno = saved;
}

void SetHandlers(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signalNumber : kSignals) ::sigaction(signalNumber, &action, nullptr);
}

void RequestArrived() {
  char bytes[16];
  while (::read(wakeFds[0], bytes, sizeof bytes) > 0) {
  }
  SetHandlers(SIG_DFL);
  if (requestHandler) requestHandler();
}

}  // namespace

void OnTerminationRequest(std::function<void()> onRequest) {
  requestHandler = std::move(onRequest);
  if (wakeFds[0] < 0) {
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;  // the signals keep their default
    auto* notifier =
        new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] { RequestArrived(); });
  }
  SetHandlers(WriteSignalNumber);
}

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace tw
