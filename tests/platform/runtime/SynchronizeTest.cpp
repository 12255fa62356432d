#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/runtime/GuiThread.h"

using namespace std::chrono_literals;

namespace {

class Failure : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

TEST(Synchronize, WorkerWaitsUntilTheGuiThreadHasRunTheCall) {
  ASSERT_TRUE(platform::IsGuiThread());
  std::atomic<int> stage{0};
  bool ranOnGui = false;
  std::thread worker([&] {
    platform::Synchronize([&] { ranOnGui = platform::IsGuiThread(); });
    stage = 1;
  });
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(stage, 0) << "the worker must wait for the GUI thread";
  auto deadline = std::chrono::steady_clock::now() + 2s;
  while (stage == 0 && std::chrono::steady_clock::now() < deadline) {
    platform::ProcessMessages();
    std::this_thread::sleep_for(1ms);
  }
  worker.join();
  EXPECT_EQ(stage, 1);
  EXPECT_TRUE(ranOnGui);
}

TEST(Synchronize, TheCallsExceptionIsRethrownInTheWorkerWithItsType) {
  std::atomic<bool> done{false};
  std::string caught;
  std::thread worker([&] {
    try {
      platform::Synchronize([] { throw Failure("disk full"); });
    } catch (const Failure& e) {
      caught = e.what();
    }
    done = true;
  });
  while (!done) {
    platform::CheckSynchronize();
    std::this_thread::sleep_for(1ms);
  }
  worker.join();
  EXPECT_EQ(caught, "disk full");
}

TEST(Synchronize, CallsFromSeveralWorkersAllRunOnTheGuiThread) {
  constexpr int kWorkers = 4, kCalls = 50;
  int total = 0;  // touched only on the GUI thread
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w)
    workers.emplace_back([&] {
      for (int i = 0; i < kCalls; ++i) platform::Synchronize([&] { ++total; });
      ++finished;
    });
  while (finished < kWorkers) platform::ProcessMessages();
  for (auto& t : workers) t.join();
  EXPECT_EQ(total, kWorkers * kCalls);
}

}  // namespace
