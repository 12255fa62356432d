#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/ACS_Classes.h"
#include "tests/audio/TestSupport.h"

using namespace std::chrono_literals;
using tw_test::MemSource;
using tw_test::MessageOf;
using tw_test::PassThrough;
using tw_test::PumpUntil;
using tw_test::Ramp;
using tw_test::SinkEvents;
using tw_test::Wire;

namespace {

// A sink that keeps what it pulls, following the contract every concrete sink follows.
class TestSink : public TACSOutput {
 public:
  explicit TestSink(platform::TComponent* owner) : TACSOutput(owner) {}
  ~TestSink() override { EndWorker(); }

  std::vector<std::uint8_t> got;  // worker writes; read after OnDone or the end of the worker
  std::atomic<int> prepares{0}, dones{0}, passes{0};
  std::atomic<bool> failPrepare{false};
  std::atomic<bool> failWrite{false};
  std::atomic<bool> inputBusyAtDone{true};
  int block = 1000;

 protected:
  void Prepare() override {
    if (failPrepare) throw EACSException("cannot create the file");
    Input()->Init();
    ++prepares;
  }
  bool DoOutput(bool Abort) override {
    ++passes;
    if (!CanOutput) return true;
    if (Abort) return false;
    std::uint8_t buf[4096];
    int n = GetInputData(buf, block);
    if (n == 0) return false;
    if (failWrite) throw EACSException("disk full");
    got.insert(got.end(), buf, buf + n);
    return true;
  }
  void Done() override {
    ++dones;
    FlushInput();
    inputBusyAtDone = Input() && Input()->Busy();
  }
};

class Framework : public ::testing::Test {
 protected:
  // A source of zeros that never ends and has no length.
  static MemSource* Endless(platform::TComponent* by) {
    auto* s = new MemSource(by, {});
    s->endless = true;
    s->openLength = true;
    return s;
  }
  // Makes `sink` read `src`, a source of `data` (without data, an endless one), with its events
  // counted in `ev` when `wired`.
  void Chain(std::vector<std::uint8_t> data, bool wired = true) {
    sink = new TestSink(&owner);
    src = data.empty() ? Endless(&owner) : new MemSource(&owner, std::move(data));
    sink->SetInput(src);
    if (wired) Wire(*sink, ev);
  }
  // Runs `out` and waits for its next OnDone.
  bool RunToDone(TACSOutput& out) {
    const int next = ev.done + 1;
    out.Run();
    return PumpUntil([&] { return ev.done == next; });
  }

  SinkEvents ev;  // before the owner: the handlers of the sinks it owns refer to it
  platform::TComponent owner{nullptr};
  TestSink* sink = nullptr;  // made by Chain, owned by owner
  MemSource* src = nullptr;
};

// ---- Progress -----------------------------------------------------------------------------------

TEST_F(Framework, ProgressIsAPercentageRoundedHalfToEven) {
  sink = new TestSink(&owner);
  EXPECT_EQ(sink->Progress(), 0) << "no input";
  src = new MemSource(&owner, {});
  sink->SetInput(src);
  struct Case {
    int position, size, expected;
  } cases[] = {{0, -1, -1}, {5, 0, 0},   {1, 3, 33},  {1, 8, 12},
               {3, 8, 38},  {5, 8, 62},  {7, 8, 88},  {1, 200, 0},
               {3, 200, 2}, {8, 8, 100}, {9, 8, 112}, {2147483647, 1, 2147483647}};
  for (const auto& c : cases) {
    src->SetCounters(c.position, c.size);
    EXPECT_EQ(sink->Progress(), c.expected) << c.position << " of " << c.size;
  }
}

// ---- Run, Stop, Status, OnDone ------------------------------------------------------------------

TEST_F(Framework, RunWithoutInputOrWhileRunningRaises) {
  sink = new TestSink(&owner);
  EXPECT_EQ(MessageOf([&] { sink->Run(); }), "Input is not assigned");
  auto* endless = new MemSource(&owner, {});
  endless->endless = true;
  sink->SetInput(endless);
  Wire(*sink, ev);
  sink->Run();
  EXPECT_EQ(MessageOf([&] { sink->Run(); }), "Component is Busy");
  EXPECT_EQ(sink->prepares, 1);
  EXPECT_NE(sink->Status(), 2) << "the first run goes on";
  sink->Stop();
  ASSERT_TRUE(PumpUntil([&] { return ev.done == 1; }));
  EXPECT_EQ(ev.failures, 0);
}

TEST_F(Framework, ARunDeliversEveryByteInOrderThenOnDoneWithTheSinkIdle) {
  const auto data = Ramp(10500);
  Chain(data, false);
  int statusInDone = -1, donesInDone = -1;
  bool inputBusyInDone = true;
  std::thread::id doneThread;
  sink->OnDone = [&](platform::TComponent* sender) {
    EXPECT_EQ(sender, sink);
    statusInDone = sink->Status();
    donesInDone = sink->dones;
    inputBusyInDone = src->Busy();
    doneThread = std::this_thread::get_id();
  };
  EXPECT_EQ(sink->Status(), 2);
  sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return statusInDone != -1; }));
  EXPECT_EQ(statusInDone, 2);
  EXPECT_EQ(donesInDone, 1) << "Done (file closed) comes before OnDone";
  EXPECT_FALSE(inputBusyInDone) << "the chain is flushed before OnDone";
  EXPECT_EQ(doneThread, std::this_thread::get_id()) << "OnDone runs on the GUI thread";
  EXPECT_EQ(sink->got, data);
  EXPECT_EQ(src->inits, 1);
  EXPECT_EQ(src->flushes, 1);
  EXPECT_EQ(sink->Progress(), 100);
}

TEST_F(Framework, AnIdleSinkReportsStatus2AndItsWorkerSuspendsAfterTheRun) {
  Chain(Ramp(100));
  ASSERT_TRUE(RunToDone(*sink));
  int passes = sink->passes;
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(sink->passes, passes) << "a suspended worker runs no passes";
  EXPECT_EQ(sink->Status(), 2);
}

TEST_F(Framework, StopEndsTheRunWithDoneAndOnDoneLikeANaturalEnd) {
  Chain({});
  sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return src->requests > 20; }));
  EXPECT_EQ(sink->Status(), 0);
  sink->Stop();
  ASSERT_TRUE(PumpUntil([&] { return ev.done == 1; }));
  EXPECT_EQ(sink->dones, 1);
  EXPECT_EQ(sink->Status(), 2);
  EXPECT_FALSE(src->Busy());
  int requests = src->requests;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(src->requests, requests) << "nothing is read after the run ended";
  EXPECT_EQ(ev.failures, 0);
  EXPECT_EQ(sink->got.size(), static_cast<std::size_t>(requests) * 1000);
}

TEST_F(Framework, AStopGivenToAnIdleSinkDoesNotEndTheNextRun) {
  Chain(Ramp(50000));
  sink->Stop();
  ASSERT_TRUE(RunToDone(*sink));
  EXPECT_EQ(sink->got.size(), 50000u);
}

TEST_F(Framework, ASinkCanBeRunAgainAfterOnDone) {
  Chain(Ramp(3000));
  for (int run = 1; run <= 3; ++run) ASSERT_TRUE(RunToDone(*sink)) << "run " << run;
  EXPECT_EQ(sink->got.size(), 9000u);
  EXPECT_EQ(src->inits, 3);
}

TEST_F(Framework, OnDoneMayStartAnotherSinkAtOnce) {
  auto* first = new TestSink(&owner);
  auto* second = new TestSink(&owner);
  first->SetInput(new MemSource(&owner, Ramp(5000)));
  second->SetInput(new MemSource(&owner, Ramp(7000)));
  std::atomic<int> secondDone{0};
  first->OnDone = [&](platform::TComponent*) { second->Run(); };
  second->OnDone = [&](platform::TComponent*) { ++secondDone; };
  first->Run();
  ASSERT_TRUE(PumpUntil([&] { return secondDone == 1; }));
  EXPECT_EQ(second->got.size(), 7000u);
}

TEST_F(Framework, OnDoneMayRunTheSameSinkAgainWithoutItHanging) {
  Chain(Ramp(2000), false);
  std::atomic<int> done{0};
  sink->OnDone = [&](platform::TComponent*) {
    if (++done == 1) sink->Run();
  };
  sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return done == 2; })) << "the second run never flowed";
  EXPECT_EQ(sink->got.size(), 4000u);
  EXPECT_EQ(sink->Status(), 2);
}

TEST_F(Framework, RunRacingWithTheEndOfThePreviousRunStillFlows) {
  // A poller that sees Status 2 may run the sink again before the worker has delivered OnDone and
  // suspended itself; the new run must not be left at Status 1.
  Chain(Ramp(1000), false);
  std::atomic<int> done{0};
  sink->OnDone = [&](platform::TComponent*) { ++done; };
  for (int i = 0; i < 200; ++i) {
    sink->Run();
    ASSERT_TRUE(PumpUntil([&] { return sink->Status() == 2; }, 2000ms)) << "round " << i;
  }
  ASSERT_TRUE(PumpUntil([&] { return done == 200; }));
  EXPECT_EQ(sink->got.size(), 200000u);
}

TEST_F(Framework, WithoutSuspendWhenIdleAStopOnAnIdleSinkStillDeliversOnDone) {
  Chain(Ramp(10));
  sink->SetSuspendWhenIdle(false);
  EXPECT_FALSE(sink->SuspendWhenIdle());
  ASSERT_TRUE(RunToDone(*sink));
  int requests = src->requests;
  ASSERT_TRUE(PumpUntil([&] { return sink->passes > 100; })) << "the idle worker keeps passing";
  EXPECT_EQ(src->requests, requests) << "idle passes read nothing";
  EXPECT_EQ(sink->Status(), 2);
  sink->Stop();
  ASSERT_TRUE(PumpUntil([&] { return ev.done == 2; }));
  EXPECT_EQ(sink->dones, 1) << "no run ended, so no Done";
}

// ---- OnProgress ---------------------------------------------------------------------------------

TEST_F(Framework, OnProgressIsRaisedOnlyWhenTheValueChanges) {
  Chain(Ramp(100000));
  ASSERT_TRUE(RunToDone(*sink));
  // 100 passes of 1 % each: 1, 2, ..., 100, each once; 0 is not new for a new sink.
  ASSERT_EQ(ev.progress.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(ev.progress[i], i + 1);
  // A second run starts from 0 again, which differs from the last value (100).
  ev.progress.clear();
  ASSERT_TRUE(RunToDone(*sink));
  ASSERT_FALSE(ev.progress.empty());
  EXPECT_EQ(ev.progress.front(), 0);
}

// ---- Failures -----------------------------------------------------------------------------------

TEST_F(Framework, AFailingPrepareIsHandedToOnThreadExceptionOnTheCallingThread) {
  Chain(Ramp(100));
  sink->failPrepare = true;
  EXPECT_NO_THROW(sink->Run());
  EXPECT_EQ(sink->Status(), 2);
  EXPECT_EQ(ev.failures, 1);
  EXPECT_EQ(ev.failure, "cannot create the file");
  EXPECT_EQ(ev.failureThread, std::this_thread::get_id());
  EXPECT_EQ(sink->dones, 0);
  PumpUntil([] { return false; }, 30ms);
  EXPECT_EQ(ev.done, 0);
  // The sink is not stuck: a later run succeeds.
  sink->failPrepare = false;
  ASSERT_TRUE(RunToDone(*sink));
}

TEST_F(Framework, AFailingPassEndsTheRunWithoutOnDoneAndTheWorkerSurvives) {
  Chain(Ramp(20000));
  sink->failWrite = true;
  sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return ev.failures == 1; }));
  {
    std::lock_guard lock(ev.mutex);
    EXPECT_EQ(ev.failure, "disk full");
    EXPECT_NE(ev.failureThread, std::this_thread::get_id()) << "reported on the worker";
  }
  EXPECT_EQ(sink->dones, 1) << "Done is attempted once";
  EXPECT_FALSE(src->Busy()) << "Done flushed the chain";
  ASSERT_TRUE(PumpUntil([&] { return sink->Status() == 2; }));
  PumpUntil([] { return false; }, 30ms);
  EXPECT_EQ(ev.done, 0);
  sink->failWrite = false;
  sink->got.clear();
  ASSERT_TRUE(RunToDone(*sink));
  EXPECT_EQ(sink->got.size(), 20000u);
}

TEST_F(Framework, AFailureOfAnEventHandlerComesBackToTheWorker) {
  Chain(Ramp(20000));
  sink->OnProgress = [](platform::TComponent*) { throw EACSException("handler failed"); };
  sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return ev.failures == 1; }));
  EXPECT_EQ(ev.Failure(), "handler failed");
  EXPECT_EQ(ev.done, 0);
}

TEST_F(Framework, AFailingOnThreadExceptionHandlerDoesNotKillTheWorker) {
  Chain(Ramp(5000), false);
  sink->failWrite = true;
  std::atomic<int> calls{0};
  sink->OnThreadException = [&](platform::TComponent*, const std::exception&) {
    ++calls;
    throw std::runtime_error("handler failed too");
  };
  std::atomic<int> done{0};
  sink->OnDone = [&](platform::TComponent*) { ++done; };
  sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return calls == 1 && sink->Status() == 2; }));
  sink->failWrite = false;
  sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return done == 1; }));
}

TEST_F(Framework, UnlockInputChainFreesEveryConverterLockDownTheChain) {
  auto* upper = new PassThrough(&owner);
  auto* lower = new PassThrough(&owner);
  upper->SetInput(lower);
  lower->SetInput(new MemSource(&owner, {}));
  upper->Lock().Lock();
  lower->Lock().Lock();
  upper->UnlockInputChain();
  EXPECT_FALSE(upper->Lock().Held());
  EXPECT_FALSE(lower->Lock().Held());
  // A looped chain does not loop for ever.
  lower->SetInput(upper);
  upper->Lock().Lock();
  upper->UnlockInputChain();
  EXPECT_FALSE(upper->Lock().Held());
}

// ---- Inputs: converters, live swaps, removal ----------------------------------------------------

TEST_F(Framework, DataFlowsThroughConvertersAndAConverterIsNotItsOwnInput) {
  const auto data = Ramp(12345);
  Chain(data);
  auto* conv = new PassThrough(&owner);
  conv->SetInput(conv);
  EXPECT_EQ(conv->Input(), nullptr);
  conv->SetInput(src);
  conv->SetInput(conv);
  EXPECT_EQ(conv->Input(), src);
  sink->SetInput(conv);
  ASSERT_TRUE(RunToDone(*sink));
  EXPECT_EQ(sink->got, data);
  EXPECT_FALSE(conv->Busy());
  EXPECT_FALSE(src->Busy());
}

TEST_F(Framework, ALiveSwapInitialisesTheNewInputAndFlushesTheOldOne) {
  Chain({});
  const auto data = Ramp(4000);
  auto* b = new MemSource(&owner, data);
  sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return src->requests > 5; }));
  sink->SetInput(b);
  EXPECT_EQ(b->inits, 1);
  EXPECT_EQ(src->flushes, 1);
  EXPECT_FALSE(src->Busy());
  ASSERT_TRUE(PumpUntil([&] { return ev.done == 1; }));
  // The end of the recording is the whole of b, after the zeros of the endless source.
  ASSERT_GE(sink->got.size(), data.size());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), sink->got.end() - data.size()));
}

TEST_F(Framework, DestroyingTheInputDuringARunEndsTheRunSafely) {
  Chain({});
  sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return src->requests > 5; }));
  delete src;
  EXPECT_EQ(sink->Input(), nullptr);
  ASSERT_TRUE(PumpUntil([&] { return ev.done == 1; }));
  EXPECT_EQ(sink->Status(), 2);
  EXPECT_EQ(ev.failures, 0);
}

TEST_F(Framework, RemovalOfAnotherComponentLeavesTheInputAlone) {
  Chain(Ramp(10));
  auto* other = new MemSource(&owner, {});
  delete other;
  EXPECT_EQ(sink->Input(), src);
}

// ---- Destruction --------------------------------------------------------------------------------

TEST_F(Framework, DestroyingASinkDuringARunAbandonsItWithoutDoneOrOnDone) {
  auto unowned = std::make_unique<TestSink>(nullptr);
  src = Endless(&owner);
  unowned->SetInput(src);
  Wire(*unowned, ev);
  unowned->Run();
  ASSERT_TRUE(PumpUntil([&] { return src->requests > 5; }));
  const int donesBefore = unowned->dones;
  unowned.reset();
  EXPECT_EQ(donesBefore, 0);
  PumpUntil([] { return false; }, 20ms);
  EXPECT_EQ(ev.done, 0);
  EXPECT_EQ(ev.failures, 0);
}

TEST_F(Framework, DestroyingASinkWhoseWorkerIsSuspendedEndsTheWorker) {
  // After a run the worker is suspended; the destructor must wake and end it, not hang or leak it.
  auto unowned = std::make_unique<TestSink>(nullptr);
  unowned->SetInput(new MemSource(&owner, Ramp(100)));
  Wire(*unowned, ev);
  ASSERT_TRUE(RunToDone(*unowned));
  ASSERT_TRUE(PumpUntil([&] { return unowned->Status() == 2; }));
  auto start = std::chrono::steady_clock::now();
  unowned.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(Framework, DestroyingASinkWhileItsWorkerWaitsForTheGuiThreadDoesNotDeadlock) {
  auto unowned = std::make_unique<TestSink>(nullptr);
  unowned->SetInput(new MemSource(&owner, Ramp(400000)));
  std::atomic<int> progress{0};
  unowned->OnProgress = [&](platform::TComponent*) { ++progress; };
  unowned->Run();
  // Without pumping, the worker soon blocks in its OnProgress call to this thread.
  std::this_thread::sleep_for(20ms);
  auto start = std::chrono::steady_clock::now();
  unowned.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(progress, 0) << "no handler runs into a sink that is being destroyed";
}

TEST_F(Framework, DestroyingTheOwnerDuringARunTearsDownTheChain) {
  auto* window = new platform::TComponent(nullptr);
  auto* windowSink = new TestSink(window);
  auto* conv = new PassThrough(window);
  src = Endless(window);
  conv->SetInput(src);
  windowSink->SetInput(conv);
  Wire(*windowSink, ev);
  windowSink->Run();
  ASSERT_TRUE(PumpUntil([&] { return src->requests > 5; }));
  // The source and converter go first, while the sink still runs: the sink must drop them before
  // they are torn down (the sanitizers see any use after that).
  auto start = std::chrono::steady_clock::now();
  delete window;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(ev.failures, 0);
}

}  // namespace
