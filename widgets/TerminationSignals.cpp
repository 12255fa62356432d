#include "widgets/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <utility>

namespace tw {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The signal handler may only write to a pipe; the GUI thread reads it through the event loop.
int wakeFds[2] = {-1, -1};
std::function<void()> requestHandler;
// Armed: a request closes the program. Closing: the close a request started runs; requests are
// ignored. Ended: the signals have their default action.
enum class Requests { Armed, Closing, Ended };
Requests requests = Requests::Armed;

std::function<void()> exitGiveBack;  // GUI thread, and exit() on it

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

void EndRequests() {
  requests = Requests::Ended;
  SetHandlers(SIG_DFL);
}

void RequestArrived() {
  char bytes[16];
  while (::read(wakeFds[0], bytes, sizeof bytes) > 0) {
  }
  // A request while the close runs, or one written just before the default actions came back.
  if (requests != Requests::Armed) return;
  requests = Requests::Closing;
  if (requestHandler) requestHandler();
  // A close that did not say when the mixer was back has given it back by now.
  if (requests == Requests::Closing) EndRequests();
}

extern "C" void GiveBackAtExit() {
  if (auto giveBack = std::exchange(exitGiveBack, {})) giveBack();
}

}  // namespace

void OnTerminationRequest(std::function<void()> onRequest) {
  requestHandler = std::move(onRequest);
  requests = Requests::Armed;
  if (wakeFds[0] < 0) {
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;  // the signals keep their default
    auto* notifier =
        new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] { RequestArrived(); });
  }
  SetHandlers(WriteSignalNumber);
}

void OnExitWithoutClose(std::function<void()> giveBack) {
  // Registered after the card and the mixer were first used, so that it runs before they are torn
  // down on the way out.
  static const bool registered = std::atexit(GiveBackAtExit) == 0;
  if (registered) exitGiveBack = std::move(giveBack);
}

void MixerGivenBack() {
  exitGiveBack = {};
  if (requests == Requests::Closing) EndRequests();
}

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace tw
