#pragma once
// The pull-model stream framework: audio sources, converters and sinks.
//
// A chain has one sink at its head, any number of converters in the middle and one source at its
// tail:   sink (TACSOutput) -> converter (TACSConverter) -> ... -> source (TACSInput)
// Each sink owns a worker thread. On every pass the worker asks the sink to pull one PCM block from
// its Input and write it; the request travels down the chain, each converter asking its own Input.
// Nothing is pushed: a source delivers only what it is asked for, at the worker's pace.
//
// PCM blocks are interleaved frames (one sample per channel, channels in order); 8-bit samples are
// unsigned bytes, 16-bit samples signed little-endian words. The format travels beside the data,
// through the source's GetBitsPerSample, GetChannels and GetSampleRate.
//
// Threads:
//   - GUI thread: creating and wiring components (SetInput, properties), Run (with the sink's
//   Prepare
//     and so the chain's Init), Stop, Status, every event handler (OnDone, OnProgress).
//   - The sink's worker: the passes (Progress, DoOutput with the chain's GetData), the end of a run
//     (Done with the chain's Flush), failures of a pass (HandleThreadException, OnThreadException).
//
// Input locks: every sink and every converter has one. The worker holds the sink's lock around each
// block request, and each converter holds its own around its request to its Input, so on one
// request the locks are taken in chain order, sink first. SetInput on the GUI thread takes only the
// lock of the component whose Input it swaps, and only while that component is Busy. A failure can
// leave a lock held: Run and HandleThreadException force the sink's free, UnlockInputChain the
// converters'.
//
// Failures are raised as EACSException (or as the platform's stream errors) with a message text.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "audio/ACS_Types.h"
#include "platform/runtime/Component.h"
#include "platform/runtime/Exception.h"
#include "platform/runtime/Stream.h"
#include "platform/runtime/Thread.h"

class EACSException : public platform::Exception {
 public:
  using platform::Exception::Exception;
};

// A spin lock that a failure path may force free from another thread (which a mutex forbids). It
// guards a component's Input link and the requests made through it.
class TInputLock {
 public:
  // Waits, spinning without sleeping, until the lock is free, then holds it.
  void Lock() noexcept;
  // Frees the lock, whoever holds it.
  void Unlock() noexcept { held_.clear(std::memory_order_release); }
  bool Held() const noexcept { return held_.test(std::memory_order_acquire); }

  class Guard {
   public:
    explicit Guard(TInputLock& lock) : lock_(lock) { lock_.Lock(); }
    ~Guard() { lock_.Unlock(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    TInputLock& lock_;
  };

 private:
  std::atomic_flag held_;  // clear = free (std::atomic_flag starts clear in C++20)
};

// ---------------------------------------------------------------------------------------------
// TACSInput: the audio source, base of everything that delivers PCM.
//
// States: idle (not Busy) -> Init -> Busy, delivering: GetData is called repeatedly, returns the
// number of bytes it copied and 0 when the stream has ended (and keeps returning 0) -> Flush ->
// idle. Reset is a Flush that ignores failures.
//
// Position counts the bytes delivered since Init; Size, set by Init, the bytes the source will
// deliver in this run, or -1 when the length is open (a sink's Progress then reports -1). A source
// may deliver past its Size (capture may run over by less than one buffer).
//
// Which thread: Init on the thread that runs the sink (the GUI thread), GetData and Flush on the
// sink's worker; the format getters on either. Position, Size and Busy may be read from any thread.
//
// What every implementation of GetData does: raise EACSException "The Stream is not opened" when
// not Busy; copy at most BufferSize bytes into Buffer; advance Position by the count; return the
// count. Init sets Busy, Position 0, the staging buffer empty (FBufStart 1, FBufEnd 0) and Size;
// Flush releases what Init acquired and clears Busy.
//
// Destruction: a concrete source calls Destroying() first in its destructor, so that the sink or
// converter reading from it drops it (under its input lock, so never in the middle of a request)
// before any of the source's state goes away. The reader does not call the source's Flush then: the
// source's own destructor releases whatever Init acquired.
class TACSInput : public platform::TComponent {
 public:
  explicit TACSInput(platform::TComponent* AOwner);
  ~TACSInput() override;

  virtual int GetBitsPerSample() = 0;
  virtual int GetChannels() = 0;
  virtual int GetSampleRate() = 0;
  // Length of the material in seconds; 0 when the length is open.
  virtual int GetTotalTime();
  virtual int GetData(void* Buffer, int BufferSize) = 0;
  // Flush with any failure ignored, then Busy <- False.
  virtual void Reset();
  virtual void Init() = 0;
  virtual void Flush() = 0;

  int Position() const { return FPosition.load(); }
  int Size() const { return FSize.load(); }
  bool Busy() const { return FBusy.load(); }

 protected:
  std::atomic<int> FPosition{0};
  std::atomic<int> FSize{0};
  std::atomic<bool> FBusy{false};
  // Cursors into the descendant's own staging buffer: the 1-based index of the next unread byte and
  // the number of valid bytes; FBufStart > FBufEnd means the buffer is used up.
  int FBufStart = 1;
  int FBufEnd = 0;
};

// A source that reads a data stream, which the descendant opens and releases.
class TACSStreamedInput : public TACSInput {
 public:
  explicit TACSStreamedInput(platform::TComponent* AOwner);

 protected:
  std::unique_ptr<platform::TStream> FStream;  // owned; null while nothing is open
};

// TACSFileIn: a source that reads the file FileName.
//
// OpenFile and CloseFile are counted: the first OpenFile opens the file and reads its header into
// the format fields, Size and FTotalSamples; nested calls only count; the last CloseFile releases
// the file; a CloseFile with nothing open does nothing. The format getters open and close around
// their read, so on a closed source they read the header each time, and during a run they only
// count.
//
// Init opens the file, seeks StartSample and sets Size to the bytes of the range StartSample ..
// EndSample (EndSample -1 = to the end; frames counted per channel); Flush closes it.
// Loop: at the end of the data the descendant's GetData starts again from StartSample.
class TACSFileIn : public TACSStreamedInput {
 public:
  explicit TACSFileIn(platform::TComponent* AOwner);

  int GetBitsPerSample() override;
  int GetChannels() override;
  int GetSampleRate() override;
  int GetTotalTime() override;
  void Reset() override;
  void Init() override;
  void Flush() override;

  virtual void OpenFile() = 0;
  virtual void CloseFile() = 0;
  // Positions the reader at sample frame Sample of the data; False when the file cannot seek.
  virtual bool Seek(int Sample) = 0;

  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& Value) { FFileName = Value; }
  bool Loop() const { return FLoop; }
  void SetLoop(bool Value) { FLoop = Value; }
  int StartSample() const { return FStartSample; }
  void SetStartSample(int Value) { FStartSample = Value; }
  int EndSample() const { return FEndSample; }
  void SetEndSample(int Value) { FEndSample = Value; }
  // Sample frames in the file (per channel), as the header says; opens and closes like the getters.
  int TotalSamples();

 protected:
  // Returns what Read returns, with the file open meanwhile: opened and closed around the call as
  // the format getters do.
  template <typename Fn>
  auto WithFileOpen(Fn&& Read) {
    OpenFile();
    auto value = Read();
    CloseFile();
    return value;
  }

  std::string FFileName;
  std::atomic<int> FOpened{0};  // nesting depth of OpenFile
  std::atomic<int> FBPS{0};     // bits per sample, set by OpenFile
  std::atomic<int> FSR{0};      // sample rate, set by OpenFile
  std::atomic<int> FChan{0};    // channels, set by OpenFile
  bool FLoop = false;
  int FStartSample = 0;
  int FEndSample = -1;
  std::atomic<int> FTotalSamples{0};
};

// TACSConverter: a source that reads another source, its Input.
//
// What every converter does: its format getters answer with the Input's values unless it changes
// them; Init sets Busy, calls the Input's Init and takes the Input's Size (or computes its own from
// it); GetData makes its requests to the Input through GetInputData (under this converter's input
// lock); Flush calls the Input's Flush and clears Busy.
//
// SetInput while the converter is not Busy just stores the link. While it is Busy it is a live
// swap: the new source's Init (on the caller's thread), the link swapped under the input lock, then
// the old source's Flush. A converter asked to be its own Input ignores the request. When the Input
// is destroyed the converter drops the link (see TACSInput on destruction); GetInputData then
// delivers 0 (the end of the stream).
class TACSConverter : public TACSInput {
 public:
  explicit TACSConverter(platform::TComponent* AOwner);

  TACSInput* Input() const { return FInput.load(); }
  virtual void SetInput(TACSInput* Source);
  // Frees this converter's input lock and those of the converters down its chain.
  void UnlockInputChain();

 protected:
  void Notification(platform::TComponent* AComponent, platform::TOperation Operation) override;
  // One request to the Input, holding this converter's input lock; 0 when there is no Input.
  int GetInputData(void* Buffer, int BufferSize);
  // Fills Buffer with BlockSize bytes through as many requests as it takes; returns the bytes got.
  // 0 when the first request delivers nothing; a later request that delivers nothing ends the
  // block short and sets EndOfInput.
  int GetInputBlock(void* Buffer, int BlockSize, bool& EndOfInput);
  // The Input's Flush, holding the input lock; nothing without an Input.
  void FlushInput();

  TInputLock FInputLock;

 private:
  std::atomic<TACSInput*> FInput{nullptr};  // borrowed: the window owns the source
};

class TACSOutput;

// TACSThread: a sink's worker. Created suspended by the sink's constructor and owned by the sink.
// Run resumes it; each pass it reports progress, asks the sink's DoOutput for one block and, at the
// end of a run (input exhausted or stop requested), finishes the run and delivers OnDone; then,
// while SuspendWhenIdle is on, it suspends itself until the next Run.
class TACSThread : public platform::TThread {
 public:
  explicit TACSThread(TACSOutput* Owner);
  ~TACSThread() override;

  std::atomic<bool> SuspendWhenIdle{true};
  std::atomic<bool> Stopped{false};  // the stop request

 protected:
  void Execute() override;

 private:
  void Fail(const std::exception& E);
  // Suspends unless a new run has already started (a Run from an OnDone handler, for one).
  void SuspendIfIdle();

  TACSOutput* ParentComponent;  // borrowed: the sink owns this thread
};

// TVerySmallThread: carries one OnDone call from the worker to the GUI thread. The worker makes one
// at the end of each run with a copy of the sink's OnDone and calls its Execute itself; the carrier
// never runs a thread of its own.
class TVerySmallThread : public platform::TThread {
 public:
  TVerySmallThread(TOutputDoneEvent Handler, platform::TComponent* Sender);
  ~TVerySmallThread() override;

  // Runs the handler, if assigned, on the GUI thread while the calling thread waits.
  void Execute() override;

 private:
  TOutputDoneEvent FOnDone;
  platform::TComponent* FSender;  // borrowed
};

// ---------------------------------------------------------------------------------------------
// TACSOutput: the audio sink, base of every writer.
//
// States (Status): 2 idle (not Busy) -> Run -> 0 running (Busy, worker resumed) -> end of input,
// Stop, or a failure -> 2 idle. Status is 1 while Busy with the worker suspended (the instant
// between Run setting Busy and resuming the worker).
//
// Order of calls in one run:
//   GUI thread:  Run -> Prepare (opens the destination, calls the Input's Init, writes a header).
//                A failure in Prepare is not raised to the caller of Run: the sink stays idle and
//                OnThreadException receives the failure on the calling thread; no OnDone.
//   worker:      passes: Progress (OnProgress on the GUI thread when it changed), DoOutput(Abort).
//                When DoOutput returns False or a stop was requested: Done (the destination is
//                completed and closed, the Input flushed), Busy cleared, then OnDone on the GUI
//                thread, then the worker suspends (SuspendWhenIdle). So inside OnDone Status is
//                already 2 and the file is closed; a handler may start another sink at once (or
//                this one again). A failure in a pass (or in an event handler, which comes back to
//                the worker): Done is attempted once, the sink becomes idle, OnThreadException
//                receives the failure on the worker; no OnDone.
//
// What a concrete sink supplies:
//   Prepare:           open or create the destination, call the Input's Init, write any header;
//                      raise on failure, leaving nothing open.
//   DoOutput(Abort):   when output is not enabled (CanOutput False) return True at once; when Abort
//                      is True (or the sink has flagged its own end) return False without reading;
//                      otherwise get one block with GetInputData, return False when it delivered 0
//                      bytes, else write it and return True. Worker thread.
//   Done:              complete and close the destination, then FlushInput. Worker thread (or the
//                      thread of a failure). Must cope with being called when nothing is open.
//   A concrete sink calls EndWorker() first thing in its destructor (see there).
//
// Progress: the Input's Position as a percentage of its Size, rounded to the nearest integer with
// halves to even; 0 without Input or with Size 0; -1 when Size is -1 (open length). It exceeds 100
// when the source delivers past its Size.
class TACSOutput : public platform::TComponent {
 public:
  explicit TACSOutput(platform::TComponent* AOwner);
  ~TACSOutput() override;

  // Starts a run. Raises EACSException "Component is Busy" while a run is in progress and "Input is
  // not assigned" without an Input. GUI thread.
  void Run();
  // Asks the run to end after the current pass; returns at once. A Stop given to an idle sink has
  // no effect on the next run.
  void Stop();
  // 0 running, 1 busy with the worker suspended, 2 idle.
  int Status() const;
  int Progress() const;

  TACSInput* Input() const { return FInput.load(); }
  // Not Busy: stores the link. Busy (a live swap): the new source's Init on the caller's thread,
  // the link swapped under the input lock, then the old source's Flush.
  virtual void SetInput(TACSInput* Source);

  bool SuspendWhenIdle() const;
  void SetSuspendWhenIdle(bool Value);
  bool Busy() const { return FBusy.load(); }

  // Handlers are set while the sink is idle (when the window is built).
  TOutputDoneEvent OnDone;
  TOutputProgressEvent OnProgress;
  TThreadExceptionEvent OnThreadException;

 protected:
  virtual bool DoOutput(bool Abort) = 0;
  virtual void Done() = 0;
  virtual void Prepare() = 0;
  // The end of every run that Run started, on the thread where it ended, after Done: Failed before
  // OnThreadException (a failed Prepare included), not Failed before OnDone. Nothing here.
  virtual void RunEnded(bool /*Failed*/) {}

  void Notification(platform::TComponent* AComponent, platform::TOperation Operation) override;

  // One block request to the Input, holding the sink's input lock; 0 when there is no Input.
  int GetInputData(void* Buffer, int BufferSize);
  // Runs fn with the Input while holding the sink's input lock (for requests that fill one block
  // from several GetData calls); fn gets null when there is no Input.
  template <typename Fn>
  auto WithInputLocked(Fn&& fn) {
    TInputLock::Guard guard(FInputLock);
    return fn(FInput.load());
  }
  // One block request for a sink whose encoder takes 16-bit samples, holding the input lock. A
  // 16-bit Input fills Block as it is; an 8-bit Input is read into Narrow (at most as many samples
  // as Block holds) and widened into Block. Returns the bytes now in Block, 0 at the end of the
  // input or without an Input, and sets Channels to the Input's channel count (0 without one).
  int GetInputData16(std::span<std::int16_t> Block, std::span<std::uint8_t> Narrow, int& Channels);
  // The Input's Flush, holding the input lock; nothing without an Input. For Done.
  void FlushInput();

  // Ends the worker: asks it to terminate and waits until it has (a pass in progress is finished,
  // a run in progress is abandoned without Done or OnDone; a suspended worker is woken to end).
  // On the GUI thread the wait keeps serving the worker's synchronised calls, without running the
  // OnProgress and OnDone handlers any more. Every concrete sink
  // calls it first in its destructor, because the worker calls the sink's virtual operations; later
  // calls do nothing.
  void EndWorker();

  // True from Run until the run ends; while False, DoOutput does nothing and returns True.
  std::atomic<bool> CanOutput{false};

 private:
  friend class TACSThread;

  // Ends a failed run on the thread of the failure and hands the failure to OnThreadException.
  void HandleThreadException(const std::exception& E);
  // The normal end of a run: Done, then idle. Worker thread.
  void FinishRun();
  // Progress as the worker takes it, under the input lock so that the Input cannot be destroyed
  // while it is read.
  int WorkerProgress();

  TInputLock FInputLock;
  std::atomic<TACSInput*> FInput{nullptr};  // borrowed: the window owns the source
  std::atomic<bool> FBusy{false};
  int FProgress = 0;                       // the last progress the worker reported; worker only
  std::atomic<bool> FEndingWorker{false};  // set by EndWorker: handlers are no longer called
  std::unique_ptr<TACSThread> Thread;
};

// A sink that writes a stream, which its Prepare creates and its Done frees.
class TACSStreamedOutput : public TACSOutput {
 public:
  explicit TACSStreamedOutput(platform::TComponent* AOwner);

 protected:
  std::unique_ptr<platform::TStream> FStream;  // owned; open from Prepare to Done
};

// A sink that writes the file FileName. FileMode chooses between rewriting and appending; the base
// SetFileMode keeps foRewrite whatever it is given, sinks that can append override it to store the
// mode.
class TACSFileOut : public TACSStreamedOutput {
 public:
  explicit TACSFileOut(platform::TComponent* AOwner);

  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& Value) { FFileName = Value; }
  TFileOutputMode FileMode() const { return FFileMode; }
  virtual void SetFileMode(TFileOutputMode NewMode);

 protected:
  // For the Prepare of an encoding sink: raises EACSException, naming Format ("MP3"), for an Input
  // format the encoder cannot take: other than 8-bit or 16-bit PCM, other than mono or stereo, or
  // without a sample rate.
  static void CheckEncoderInput(int Bits, int Channels, int Rate, const std::string& Format);
  // For the Done of a sink, before it releases FStream: raises EACSException when FileName no
  // longer names the file written (deleted or replaced meanwhile), so the run is not taken for a
  // success.
  void CheckFileStillNamed() const;
  // For the Prepare of a sink whose failed run must leave no empty file behind (the encoders),
  // right after it created FFileName as FStream: when the run fails, the file is removed if the
  // name still leads to it and it holds nothing. A file with data stays, as does anything else.
  void NoteFileCreated();
  void RunEnded(bool Failed) override;

  std::string FFileName;
  TFileOutputMode FFileMode = foRewrite;

 private:
  struct CreatedFile {
    std::string name;
    platform::FileIdentity identity;
  };
  std::optional<CreatedFile> FCreated;  // the file this run created, until the run ends
};
