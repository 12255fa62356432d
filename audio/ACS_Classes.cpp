#include "audio/ACS_Classes.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>
#include <utility>

namespace {

// Whatever escapes a pass must reach OnThreadException as an exception with a message.
const platform::Exception kUnknownFailure("The audio run failed for an unknown reason.");

// Rounds to the nearest integer, halves to the even neighbour (the default rounding mode), kept
// inside the int range.
int RoundHalfEven(double value) {
  double r = std::nearbyint(value);
  if (r >= static_cast<double>(std::numeric_limits<int>::max()))
    return std::numeric_limits<int>::max();
  if (r <= static_cast<double>(std::numeric_limits<int>::min()))
    return std::numeric_limits<int>::min();
  return static_cast<int>(r);
}

// The input link of a converter or a sink. While the component is not busy, a new Input is only
// stored. While it is, the swap is live: the new source is started on the caller's thread, the
// link swapped under the input lock (never in the middle of a request), then the old one flushed.
void SwapInput(std::atomic<TACSInput*>& link, TInputLock& lock, bool busy, TACSInput* Source) {
  if (Source == link.load()) return;
  if (!busy) {
    link = Source;
    return;
  }
  if (Source) Source->Init();
  TACSInput* old;
  {
    TInputLock::Guard guard(lock);
    old = link.exchange(Source);
  }
  if (old) old->Flush();
}

int RequestInputData(std::atomic<TACSInput*>& link, TInputLock& lock, void* Buffer,
                     int BufferSize) {
  TInputLock::Guard guard(lock);
  TACSInput* input = link.load();
  return input ? input->GetData(Buffer, BufferSize) : 0;
}

void FlushLinkedInput(std::atomic<TACSInput*>& link, TInputLock& lock) {
  TInputLock::Guard guard(lock);
  if (TACSInput* input = link.load()) input->Flush();
}

// A linked source that is being destroyed cannot be flushed any more, only forgotten, and never in
// the middle of a request.
void DropRemovedInput(std::atomic<TACSInput*>& link, TInputLock& lock,
                      platform::TComponent* AComponent, platform::TOperation Operation) {
  if (Operation == platform::opRemove && AComponent != nullptr &&
      AComponent == static_cast<platform::TComponent*>(link.load())) {
    TInputLock::Guard guard(lock);
    link = nullptr;
  }
}

}  // namespace

void TInputLock::Lock() noexcept {
  // Held only for one block request, so spinning is cheap; yielding keeps a waiting GUI thread from
  // starving the holder on a busy machine.
  while (held_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
}

// ---------------------------------------------------------------------------------------------

TACSInput::TACSInput(platform::TComponent* AOwner) : platform::TComponent(AOwner) {}

TACSInput::~TACSInput() { Destroying(); }

int TACSInput::GetTotalTime() { return 0; }

void TACSInput::Reset() {
  try {
    Flush();
  } catch (...) {
    // Reset is the way back to idle from any state, also from one in which Flush fails.
  }
  FBusy = false;
}

TACSStreamedInput::TACSStreamedInput(platform::TComponent* AOwner) : TACSInput(AOwner) {}

// ---------------------------------------------------------------------------------------------

TACSFileIn::TACSFileIn(platform::TComponent* AOwner) : TACSStreamedInput(AOwner) {}

int TACSFileIn::GetBitsPerSample() {
  return WithFileOpen([this] { return FBPS.load(); });
}

int TACSFileIn::GetChannels() {
  return WithFileOpen([this] { return FChan.load(); });
}

int TACSFileIn::GetSampleRate() {
  return WithFileOpen([this] { return FSR.load(); });
}

int TACSFileIn::TotalSamples() {
  return WithFileOpen([this] { return FTotalSamples.load(); });
}

int TACSFileIn::GetTotalTime() {
  return WithFileOpen([this] {
    const int bytesPerSample = FBPS / 8;
    if (FSR == 0 || FChan == 0 || bytesPerSample == 0) return 0;
    return RoundHalfEven(static_cast<double>(FSize.load()) /
                         (static_cast<double>(FSR) * FChan * bytesPerSample));
  });
}

void TACSFileIn::Reset() {
  TACSInput::Reset();
  FOpened = 0;
}

void TACSFileIn::Init() {
  if (FBusy) throw EACSException("The component is Busy");
  if (FFileName.empty()) throw EACSException("The file name is not assigned");
  OpenFile();
  try {
    if (FStartSample != 0) Seek(FStartSample);
    if (FStartSample != 0 || FEndSample != -1) {
      // A range that ends before it starts, or past the data, is cut to the data: Size promises
      // only what can be delivered.
      long long total = FTotalSamples;
      long long start = FStartSample < 0 ? 0 : FStartSample;
      long long end = FEndSample == -1 ? total : std::min<long long>(FEndSample, total);
      long long frames = end > start ? end - start : 0;
      long long bytes = static_cast<long long>(GetBitsPerSample() / 8) * frames * FChan;
      FSize = static_cast<int>(std::min<long long>(bytes, std::numeric_limits<int>::max()));
    }
  } catch (...) {
    CloseFile();
    throw;
  }
  FBusy = true;
  FBufStart = 1;
  FBufEnd = 0;
  FPosition = 0;
}

void TACSFileIn::Flush() {
  CloseFile();
  FBusy = false;
}

// ---------------------------------------------------------------------------------------------

TACSConverter::TACSConverter(platform::TComponent* AOwner) : TACSInput(AOwner) {}

void TACSConverter::SetInput(TACSInput* Source) {
  if (Source == this) return;
  SwapInput(FInput, FInputLock, Busy(), Source);
}

void TACSConverter::UnlockInputChain() {
  TACSConverter* converter = this;
  do {
    converter->FInputLock.Unlock();
    converter = dynamic_cast<TACSConverter*>(converter->Input());
  } while (converter && converter != this);  // a looped chain ends where it began
}

int TACSConverter::GetInputData(void* Buffer, int BufferSize) {
  return RequestInputData(FInput, FInputLock, Buffer, BufferSize);
}

int TACSConverter::GetInputBlock(void* Buffer, int BlockSize, bool& EndOfInput) {
  auto* into = static_cast<std::uint8_t*>(Buffer);
  int got = GetInputData(into, BlockSize);
  if (got <= 0) return 0;
  while (got < BlockSize) {
    const int more = GetInputData(into + got, BlockSize - got);
    if (more <= 0) {
      EndOfInput = true;
      break;
    }
    got += more;
  }
  return got;
}

void TACSConverter::FlushInput() { FlushLinkedInput(FInput, FInputLock); }

void TACSConverter::Notification(platform::TComponent* AComponent, platform::TOperation Operation) {
  DropRemovedInput(FInput, FInputLock, AComponent, Operation);
  platform::TComponent::Notification(AComponent, Operation);
}

// ---------------------------------------------------------------------------------------------

TACSThread::TACSThread(TACSOutput* Owner) : ParentComponent(Owner) {}

TACSThread::~TACSThread() {
  Terminate();
  WaitFor();
}

void TACSThread::SuspendIfIdle() {
  if (!SuspendWhenIdle) return;
  TACSOutput* sink = ParentComponent;
  SuspendUnless([sink] { return sink->Busy(); });
}

void TACSThread::Execute() {
  TACSOutput* sink = ParentComponent;
  while (!Terminated()) {
    try {
      int progress = sink->WorkerProgress();
      if (progress != sink->FProgress) {
        sink->FProgress = progress;
        if (sink->OnProgress)
          Synchronize([sink] {
            if (!sink->FEndingWorker) sink->OnProgress(sink);
          });
      }
      bool more = sink->DoOutput(Stopped);
      if (Stopped || !more) {
        Stopped = false;
        sink->FinishRun();
        TOutputDoneEvent handler = sink->OnDone;
        if (handler)
          handler = [sink, h = std::move(handler)](platform::TComponent* Sender) {
            if (!sink->FEndingWorker) h(Sender);
          };
        {
          TVerySmallThread carrier(std::move(handler), sink);
          carrier.Execute();
        }
        SuspendIfIdle();
      }
    } catch (const std::exception& e) {
      Fail(e);
    } catch (...) {
      Fail(kUnknownFailure);
    }
  }
}

void TACSThread::Fail(const std::exception& E) {
  Stopped = false;
  try {
    ParentComponent->HandleThreadException(E);
  } catch (...) {
    // A failing OnThreadException handler must not end the worker: the sink has to stay usable.
  }
  SuspendIfIdle();
}

TVerySmallThread::TVerySmallThread(TOutputDoneEvent Handler, platform::TComponent* Sender)
    : FOnDone(std::move(Handler)), FSender(Sender) {}

TVerySmallThread::~TVerySmallThread() {
  Terminate();
  WaitFor();
}

void TVerySmallThread::Execute() {
  if (FOnDone) Synchronize([this] { FOnDone(FSender); });
}

// ---------------------------------------------------------------------------------------------

TACSOutput::TACSOutput(platform::TComponent* AOwner)
    : platform::TComponent(AOwner), Thread(std::make_unique<TACSThread>(this)) {}

TACSOutput::~TACSOutput() {
  EndWorker();
  Destroying();
}

void TACSOutput::EndWorker() {
  if (!Thread) return;
  // The wait below lets a pending OnProgress or OnDone call through so that the worker can end,
  // but the handlers must not run: they belong to a window that is tearing this sink down.
  FEndingWorker = true;
  Thread->Terminate();
  Thread->WaitFor();
  Thread.reset();
}

void TACSOutput::Run() {
  if (Busy()) throw EACSException("Component is Busy");
  if (!Input()) throw EACSException("Input is not assigned");
  FInputLock.Unlock();
  try {
    Prepare();
  } catch (const std::exception& e) {
    HandleThreadException(e);
    return;
  } catch (...) {
    HandleThreadException(kUnknownFailure);
    return;
  }
  FBusy = true;
  if (!Thread) return;
  Thread->Stopped = false;
  CanOutput = true;
  // Resume wakes a suspended worker and does nothing to one that is still finishing the previous
  // run; that one sees Busy before it would suspend (SuspendIfIdle) and goes on with this run.
  Thread->Resume();
}

void TACSOutput::Stop() {
  if (Thread) Thread->Stopped = true;
}

int TACSOutput::Status() const {
  if (!Busy()) return 2;
  if (!Thread || Thread->Suspended()) return 1;
  return 0;
}

int TACSOutput::Progress() const {
  TACSInput* input = FInput.load();
  if (!input) return 0;
  const int size = input->Size();
  if (size == -1) return -1;
  if (size == 0) return 0;
  return RoundHalfEven(static_cast<double>(input->Position()) / size * 100.0);
}

int TACSOutput::WorkerProgress() {
  TInputLock::Guard guard(FInputLock);
  return Progress();
}

void TACSOutput::SetInput(TACSInput* Source) { SwapInput(FInput, FInputLock, Busy(), Source); }

bool TACSOutput::SuspendWhenIdle() const { return Thread ? Thread->SuspendWhenIdle.load() : true; }

void TACSOutput::SetSuspendWhenIdle(bool Value) {
  if (Thread) Thread->SuspendWhenIdle = Value;
}

void TACSOutput::Notification(platform::TComponent* AComponent, platform::TOperation Operation) {
  // A run in progress whose Input is dropped ends as at the end of its input.
  DropRemovedInput(FInput, FInputLock, AComponent, Operation);
  platform::TComponent::Notification(AComponent, Operation);
}

int TACSOutput::GetInputData(void* Buffer, int BufferSize) {
  return RequestInputData(FInput, FInputLock, Buffer, BufferSize);
}

int TACSOutput::GetInputData16(std::span<std::int16_t> Block, std::span<std::uint8_t> Narrow,
                               int& Channels) {
  Channels = 0;
  return WithInputLocked([&](TACSInput* input) {
    if (input == nullptr) return 0;
    Channels = input->GetChannels();
    if (input->GetBitsPerSample() != 8)
      return input->GetData(Block.data(), static_cast<int>(Block.size_bytes()));
    // Unsigned 8-bit samples centred on 128 become signed 16-bit ones at the same level.
    const auto narrow = Narrow.first(std::min(Narrow.size(), Block.size()));
    const int got = input->GetData(narrow.data(), static_cast<int>(narrow.size()));
    for (int i = 0; i < got; ++i) {
      const auto at = static_cast<std::size_t>(i);
      Block[at] = static_cast<std::int16_t>((static_cast<int>(narrow[at]) - 128) * 256);
    }
    return got * 2;
  });
}

void TACSOutput::FlushInput() { FlushLinkedInput(FInput, FInputLock); }

void TACSOutput::FinishRun() {
  if (!Busy()) return;
  CanOutput = false;
  Done();
  RunEnded(false);
  FBusy = false;
}

void TACSOutput::HandleThreadException(const std::exception& E) {
  FInputLock.Unlock();
  if (Status() != 2) {
    if (auto* converter = dynamic_cast<TACSConverter*>(Input())) {
      try {
        converter->UnlockInputChain();
      } catch (...) {
      }
    }
    try {
      Done();
    } catch (...) {
      // The run has failed already; what matters now is that the sink becomes idle.
    }
  }
  try {
    RunEnded(true);
  } catch (...) {
    // As above: the failure to report is the run's.
  }
  CanOutput = false;
  FBusy = false;
  if (OnThreadException && !FEndingWorker) OnThreadException(this, E);
}

// ---------------------------------------------------------------------------------------------

TACSStreamedOutput::TACSStreamedOutput(platform::TComponent* AOwner) : TACSOutput(AOwner) {}

TACSFileOut::TACSFileOut(platform::TComponent* AOwner) : TACSStreamedOutput(AOwner) {}

void TACSFileOut::SetFileMode(TFileOutputMode /*NewMode*/) { FFileMode = foRewrite; }

void TACSFileOut::CheckFileStillNamed() const {
  const auto* file = dynamic_cast<const platform::TFileStream*>(FStream.get());
  if (file != nullptr && !file->StillNamed())
    throw EACSException("The file \"" + FFileName +
                        "\" was deleted or replaced while it was being written, so what was "
                        "written to it is lost.");
}

void TACSFileOut::NoteFileCreated() {
  if (const auto* file = dynamic_cast<const platform::TFileStream*>(FStream.get()))
    FCreated = CreatedFile{FFileName, file->Identity()};
}

void TACSFileOut::RunEnded(bool Failed) {
  // Forgotten at every end, so that a later run that fails before it creates its file cannot
  // remove this one.
  const std::optional<CreatedFile> created = std::exchange(FCreated, std::nullopt);
  if (Failed && created) platform::RemoveFileIfEmpty(created->name, created->identity);
}

void TACSFileOut::CheckEncoderInput(int Bits, int Channels, int Rate, const std::string& Format) {
  if (Bits != 8 && Bits != 16) {
    throw EACSException("Cannot encode " + std::to_string(Bits) + "-bit audio to " + Format +
                        ": only 8-bit and 16-bit PCM can be encoded.");
  }
  if (Channels != 1 && Channels != 2) {
    throw EACSException("Cannot encode audio with " + std::to_string(Channels) + " channels to " +
                        Format + ": only mono and stereo can be encoded.");
  }
  if (Rate <= 0) {
    throw EACSException("Cannot encode audio to " + Format + ": the input has no sample rate (" +
                        std::to_string(Rate) + " Hz).");
  }
}
