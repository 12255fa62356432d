#include "platform/softcard/mixer/MixerApi.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/runtime/WholeFile.h"
#include "platform/softcard/Softcard.h"
#include "platform/softcard/mixer/MixerState.h"
#include "platform/system/Shell.h"

namespace platform {
namespace {

using mixerstate::ControlDef;
using mixerstate::DeviceDef;
using mixerstate::LineDef;
using mixerstate::Values;

constexpr std::size_t kMaxStateFileSize = 1 << 20;
// A change reaches the state file this long after it was made, together with every change made in
// the meantime: applying a settings file of thousands of lines then costs a few writes, not one per
// line.
constexpr auto kWriteDelay = std::chrono::milliseconds(100);
// How long a write waits for another process's hold on the state folder's lock before it gives up
// and leaves the changes for the next write.
constexpr auto kLockWait = std::chrono::seconds(2);

// What stat says about the state file, to notice cheaply that another process replaced it.
struct FileId {
  bool exists = false;
  bool regular = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  timespec ctime{};

  bool operator==(const FileId& o) const {
    return exists == o.exists && regular == o.regular && dev == o.dev && ino == o.ino &&
           size == o.size && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
           ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
  // Something is there that the card neither reads nor replaces: a FIFO, a device or a folder
  // (opening one could block for ever), or a file too big to be a state file.
  bool Foreign() const {
    return exists && (!regular || size > static_cast<off_t>(kMaxStateFileSize));
  }
};

FileId Identify(const std::string& path) {
  FileId id;
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return id;
  id.exists = true;
  id.regular = S_ISREG(st.st_mode);
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  id.size = st.st_size;
  id.mtime = st.st_mtim;
  id.ctime = st.st_ctim;
  return id;
}

// The whole state file; nothing when it cannot be read or is not a regular file of at most
// kMaxStateFileSize bytes (the file could have been replaced since it was looked at).
std::optional<std::string> ReadStateFile(const std::string& path) {
  std::string text;
  if (ReadWholeFile(path, kMaxStateFileSize, text) != WholeFileRead::Ok) return std::nullopt;
  return text;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool MakeDirectories(const std::string& dir) {
  for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    std::string part = dir.substr(0, pos);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// The cross-process write lock of the state folder, held while the object lives. Waits at most
// `wait` for another process to let go of it.
class FolderLock {
 public:
  enum class State { Held, Busy, Unusable };

  FolderLock(const std::string& dir, std::chrono::milliseconds wait) {
    // Without its folder there is nothing to lock; the write that follows fails and says why.
    if (dir.empty() || !MakeDirectories(dir)) return;
    fd_ = ::open((dir + "/mixer.state.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      error_ = errno;
      state_ = State::Unusable;
      return;
    }
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
      if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
      if (errno != EWOULDBLOCK && errno != EINTR) {
        error_ = errno;
        state_ = State::Unusable;
        return;
      }
      if (std::chrono::steady_clock::now() >= until) {
        state_ = State::Busy;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  State state() const { return state_; }
  int error() const { return error_; }  // why the lock is unusable

 private:
  int fd_ = -1;
  State state_ = State::Held;
  int error_ = 0;
};

struct OpenHandle {
  UINT device = 0;
  HWND window = 0;  // 0 when the handle asked for no notifications
};

struct Notice {
  HWND window;
  UINT message;
  HMIXER mixer;
  DWORD id;
};

class MixerService {
 public:
  static MixerService& Get() {
    static MixerService service;
    return service;
  }

  UINT Count() {
    std::lock_guard lock(mutex_);
    Init();
    return static_cast<UINT>(devices_.size());
  }

  MMRESULT Open(HMIXER* mixer, UINT deviceId, HWND callback, DWORD flags) {
    if (!mixer) return MMSYSERR_INVALPARAM;
    if (flags != CALLBACK_NULL && flags != CALLBACK_WINDOW) return MMSYSERR_INVALFLAG;
    bool notify = flags == CALLBACK_WINDOW;
    if (notify && callback == 0) return MMSYSERR_INVALPARAM;
    std::lock_guard lock(mutex_);
    Init();
    if (deviceId >= devices_.size()) return MMSYSERR_BADDEVICEID;
    switch (devices_[deviceId].openFault) {
      case mixerstate::OpenFault::None:
        break;
      case mixerstate::OpenFault::Never:
        return MMSYSERR_ALLOCATED;
      case mixerstate::OpenFault::NoNotify:
        if (notify) return MMSYSERR_NOTSUPPORTED;
        break;
      case mixerstate::OpenFault::NotifyEveryOther:
        if (notify && ++notifyAttempts_[deviceId] % 2 == 1) return MMSYSERR_ERROR;
        break;
    }
    HMIXER h = nextHandle_++;
    handles_[h] = OpenHandle{deviceId, notify ? callback : 0};
    *mixer = h;
    return MMSYSERR_NOERROR;
  }

  MMRESULT Close(HMIXER mixer) {
    std::lock_guard lock(mutex_);
    return handles_.erase(mixer) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
  }

  MMRESULT Caps(UINT deviceId, MIXERCAPS* caps, UINT size) {
    if (!caps || size < sizeof(MIXERCAPS)) return MMSYSERR_INVALPARAM;
    std::lock_guard lock(mutex_);
    Init();
    if (deviceId >= devices_.size()) return MMSYSERR_BADDEVICEID;
    const DeviceDef& d = devices_[deviceId];
    *caps = MIXERCAPS{};
    caps->wMid = d.mid;
    caps->wPid = d.pid;
    caps->vDriverVersion = d.version;
    CopyName(caps->szPname, d.name);
    caps->cDestinations = static_cast<DWORD>(d.destinations.size());
    return MMSYSERR_NOERROR;
  }

  MMRESULT LineInfo(HMIXER mixer, MIXERLINE* line, DWORD flags) {
    if (!line) return MMSYSERR_INVALPARAM;
    if (flags != MIXER_GETLINEINFOF_DESTINATION && flags != MIXER_GETLINEINFOF_SOURCE) {
      return MMSYSERR_INVALFLAG;
    }
    std::lock_guard lock(mutex_);
    const DeviceDef* device = DeviceOf(mixer);
    if (!device) return MMSYSERR_INVALHANDLE;
    if (line->dwDestination >= device->destinations.size()) return MIXERR_INVALLINE;
    const auto& dest = device->destinations[line->dwDestination];
    const LineDef* def = &dest.line;
    if (flags == MIXER_GETLINEINFOF_SOURCE) {
      if (line->dwSource >= dest.sources.size()) return MIXERR_INVALLINE;
      def = &dest.sources[line->dwSource];
    }
    if (def->queryFails) return MMSYSERR_ERROR;
    line->dwLineID = def->id;
    line->cChannels = def->channels;
    line->cConnections =
        flags == MIXER_GETLINEINFOF_SOURCE ? 0 : static_cast<DWORD>(dest.sources.size());
    line->cControls = static_cast<DWORD>(def->controls.size());
    if (flags == MIXER_GETLINEINFOF_DESTINATION) line->dwSource = 0;
    CopyName(line->szName, def->name);
    return MMSYSERR_NOERROR;
  }

  MMRESULT LineControls(HMIXER mixer, MIXERLINECONTROLS* controls, DWORD flags) {
    if (!controls) return MMSYSERR_INVALPARAM;
    if (flags != MIXER_GETLINECONTROLSF_ALL) return MMSYSERR_INVALFLAG;
    std::lock_guard lock(mutex_);
    const DeviceDef* device = DeviceOf(mixer);
    if (!device) return MMSYSERR_INVALHANDLE;
    const LineDef* line = device->FindLine(controls->dwLineID);
    if (!line) return MIXERR_INVALLINE;
    if (line->controlsFail) return MMSYSERR_ERROR;
    if (controls->cControls != line->controls.size()) return MMSYSERR_INVALPARAM;
    if (controls->cControls > 0 && !controls->pamxctrl) return MMSYSERR_INVALPARAM;
    for (std::size_t i = 0; i < line->controls.size(); ++i) {
      const ControlDef& c = line->controls[i];
      MIXERCONTROL& out = controls->pamxctrl[i];
      out = MIXERCONTROL{};
      out.dwControlID = c.id;
      out.dwControlType = c.type;
      out.fdwControl = c.flags;
      out.cMultipleItems = c.items;
      out.lMinimum = c.Minimum();
      out.lMaximum = c.Maximum();
    }
    return MMSYSERR_NOERROR;
  }

  MMRESULT GetDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, DWORD flags) {
    if (!details || !details->paDetails) return MMSYSERR_INVALPARAM;
    if (flags != MIXER_GETCONTROLDETAILSF_VALUE && flags != MIXER_GETCONTROLDETAILSF_LISTTEXT) {
      return MMSYSERR_INVALFLAG;
    }
    std::vector<Notice> notices;
    MMRESULT result;
    {
      std::lock_guard lock(mutex_);
      result = GetDetailsLocked(mixer, *details, flags, notices);
    }
    Deliver(notices);
    return result;
  }

  MMRESULT SetDetails(HMIXER mixer, const MIXERCONTROLDETAILS* details, DWORD flags) {
    if (!details || !details->paDetails || details->cbDetails != sizeof(std::int32_t)) {
      return MMSYSERR_INVALPARAM;
    }
    if (flags != MIXER_SETCONTROLDETAILSF_VALUE) return MMSYSERR_INVALFLAG;
    std::vector<Notice> notices;
    MMRESULT result;
    bool levelsChanged = false;
    {
      std::lock_guard lock(mutex_);
      result = SetDetailsLocked(mixer, *details, notices, levelsChanged);
    }
    Deliver(notices);
    if (levelsChanged) PushLevels();
    return result;
  }

  softcard::Levels Levels(bool card) {
    std::vector<Notice> notices;
    softcard::Levels levels;
    {
      std::lock_guard lock(mutex_);
      Init();
      if (card) cardPolling_ = true;
      Refresh(false, notices);
      levels = mixerstate::LevelsFrom(values_);
    }
    Deliver(notices);
    return levels;
  }

  // Writes what is pending, as the end of a process does, and forgets the rest.
  void Reset() {
    Flush(false);
    std::lock_guard lock(mutex_);
    pending_.clear();
    initialised_ = false;
    cardPolling_ = false;  // a running card sets it again at its next poll
    handles_.clear();
    notifyAttempts_.clear();
    Init();
  }

  void RaiseLineChange(UINT deviceId, DWORD lineId) {
    std::vector<Notice> notices;
    {
      std::lock_guard lock(mutex_);
      Notify(deviceId, MM_MIXM_LINE_CHANGE, lineId, notices);
    }
    Deliver(notices);
  }

  // Writes the changes that are not in the state file yet. True when none is left pending.
  // Waits for the folder lock without holding mutex_, which the card's render thread needs.
  bool Flush(bool notify = true) {
    std::string dir;
    {
      std::lock_guard lock(mutex_);
      if (pending_.empty()) return true;
      dir = dir_;
    }
    std::vector<Notice> notices;
    bool done = false;
    {
      FolderLock folder(dir, kLockWait);
      std::lock_guard lock(mutex_);
      if (folder.state() == FolderLock::State::Busy) {
        Warn(kLocked, "cannot save the mixer state in " + path_ +
                          " now: another program holds its lock; changes are kept and saved with "
                          "the next change");
      } else {
        if (folder.state() == FolderLock::State::Unusable) {
          Warn(kNoLock, "cannot lock the mixer state in " + path_ + " (" +
                            std::strerror(folder.error()) + "); it is saved without the lock");
        }
        // Other processes' changes first, then ours over them: nobody's change is lost.
        Refresh(true, notices);
        done = Save();
      }
    }
    if (notify) Deliver(notices);
    return done;
  }

  ~MixerService() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (writer_.joinable()) writer_.join();
    // The end of the program: what is pending is written now. Nobody is left to notify.
    Flush(false);
  }

 private:
  MixerService() = default;

  enum Warning : unsigned { kCannotSave = 1, kLocked = 2, kForeign = 4, kNoLock = 8 };

  template <std::size_t N>
  static void CopyName(char (&out)[N], const std::string& name) {
    std::size_t n = std::min(name.size(), N - 1);
    std::memcpy(out, name.data(), n);
    out[n] = '\0';
  }

  // Reads the environment on first use (and after a reset). Caller holds mutex_.
  void Init() {
    if (initialised_) return;
    initialised_ = true;
    const char* kinds = std::getenv("SOFTCARD_TOPOLOGY");
    devices_ = mixerstate::BuildTopology(kinds ? kinds : "standard");
    known_ = devices_;
    if (std::none_of(known_.begin(), known_.end(),
                     [](const DeviceDef& d) { return d.key == "standard"; })) {
      known_.push_back(mixerstate::StandardDevice());
    }
    dir_ = mixerstate::StateDirectory();
    path_ = dir_.empty() ? "" : dir_ + "/mixer.state";
    seen_ = FileId{};
    warned_ = 0;
    values_ = mixerstate::FactoryValues(known_);
    SetBeforeStartHook([] { MixerService::Get().Flush(); });
    Refresh(true, ignored_);
    ignored_.clear();
  }

  const DeviceDef* DeviceOf(HMIXER mixer) {
    auto it = handles_.find(mixer);
    if (it == handles_.end()) return nullptr;
    return &devices_[it->second.device];
  }

  // Takes in another process's changes when the file is not the one last seen (or always, when
  // `force`), keeping this process's pending changes over them, and queues a notification for every
  // control whose values changed. Caller holds mutex_.
  void Refresh(bool force, std::vector<Notice>& notices) {
    if (path_.empty()) return;
    FileId id = Identify(path_);
    if (!force && id == seen_) return;
    Values stored;
    if (id.Foreign()) {
      Warn(kForeign, path_ + (id.regular ? " is larger than 1 MiB" : " is not a regular file") +
                         ": it is not a mixer state, so the mixer starts from its factory state "
                         "and the file is kept as it is; changes are kept until the program ends");
    } else if (id.exists) {
      auto text = ReadStateFile(path_);
      if (!text) {
        seen_ = id;  // unreadable: keep what we have, and do not retry until it changes
        return;
      }
      stored = mixerstate::ParseState(*text);
    }
    // A file that has gone (deleted by hand) or that is not ours resets the mixer to its factory
    // values.
    Values fresh = mixerstate::Resolve(known_, stored);
    for (const auto& [key, controls] : pending_) {
      for (const auto& [control, numbers] : controls) fresh[key][control] = numbers;
    }
    for (UINT d = 0; d < devices_.size(); ++d) {
      const auto& before = values_[devices_[d].key];
      const auto& after = fresh[devices_[d].key];
      for (const auto& [control, numbers] : after) {
        auto old = before.find(control);
        if (old == before.end() || old->second != numbers) {
          Notify(d, MM_MIXM_CONTROL_CHANGE, control, notices);
        }
      }
    }
    values_ = std::move(fresh);
    seen_ = id;
  }

  void Notify(UINT deviceId, UINT message, DWORD id, std::vector<Notice>& notices) {
    for (const auto& [h, open] : handles_) {
      if (open.device == deviceId && open.window != 0) {
        notices.push_back({open.window, message, h, id});
      }
    }
  }

  static void Deliver(const std::vector<Notice>& notices) {
    for (const auto& n : notices) {
      PostMessageA(n.window, n.message, n.mixer, static_cast<LPARAM>(n.id));
    }
  }

  // Checks the shape of a detail record against the control: the channel count is 1 or (for a
  // control that is not uniform) the line's; the item count is the control's for a list, else 0.
  static bool ShapeFits(const ControlDef& control, const LineDef& line,
                        const MIXERCONTROLDETAILS& d) {
    bool multiple = (control.flags & MIXERCONTROL_CONTROLF_MULTIPLE) != 0;
    if (d.cMultipleItems != (multiple ? control.items : 0)) return false;
    if (d.cChannels == 1) return true;
    return (control.flags & MIXERCONTROL_CONTROLF_UNIFORM) == 0 && d.cChannels == line.channels;
  }

  MMRESULT GetDetailsLocked(HMIXER mixer, MIXERCONTROLDETAILS& d, DWORD flags,
                            std::vector<Notice>& notices) {
    const DeviceDef* device = DeviceOf(mixer);
    if (!device) return MMSYSERR_INVALHANDLE;
    const ControlDef* control = device->FindControl(d.dwControlID);
    if (!control) return MIXERR_INVALCONTROL;
    if (!ShapeFits(*control, *device->LineOfControl(control->id), d)) return MMSYSERR_INVALPARAM;
    std::size_t items = control->items ? control->items : 1;

    if (flags == MIXER_GETCONTROLDETAILSF_LISTTEXT) {
      if (d.cbDetails != sizeof(MIXERCONTROLDETAILS_LISTTEXT) || control->list.empty()) {
        return MMSYSERR_INVALPARAM;
      }
      if (control->fault != mixerstate::ControlFault::None) return MMSYSERR_ERROR;
      auto* out = static_cast<MIXERCONTROLDETAILS_LISTTEXT*>(d.paDetails);
      for (std::size_t ch = 0; ch < d.cChannels; ++ch) {
        for (std::size_t k = 0; k < items; ++k) {
          auto& record = out[ch * items + k];
          record = MIXERCONTROLDETAILS_LISTTEXT{};
          record.dwParam1 = control->list[k].lineId;
          CopyName(record.szName, control->list[k].name);
        }
      }
      return MMSYSERR_NOERROR;
    }

    if (d.cbDetails != sizeof(std::int32_t)) return MMSYSERR_INVALPARAM;
    if (control->fault == mixerstate::ControlFault::ReadFails) return MMSYSERR_ERROR;
    Refresh(false, notices);
    const auto& values = values_[device->key][control->id];
    auto* out = static_cast<std::int32_t*>(d.paDetails);
    for (std::size_t ch = 0; ch < d.cChannels; ++ch) {
      std::size_t from = d.cChannels == 1 ? 0 : ch;
      for (std::size_t k = 0; k < items; ++k) out[ch * items + k] = values[from * items + k];
    }
    return MMSYSERR_NOERROR;
  }

  MMRESULT SetDetailsLocked(HMIXER mixer, const MIXERCONTROLDETAILS& d,
                            std::vector<Notice>& notices, bool& levelsChanged) {
    auto handle = handles_.find(mixer);
    if (handle == handles_.end()) return MMSYSERR_INVALHANDLE;
    UINT deviceId = handle->second.device;
    const DeviceDef& device = devices_[deviceId];
    const ControlDef* control = device.FindControl(d.dwControlID);
    if (!control) return MIXERR_INVALCONTROL;
    if (!ShapeFits(*control, *device.LineOfControl(control->id), d)) return MMSYSERR_INVALPARAM;

    // A value written for one channel goes to every channel.
    std::size_t items = control->items ? control->items : 1;
    const auto* in = static_cast<const std::int32_t*>(d.paDetails);
    std::vector<std::int32_t> values(control->ValueCount());
    for (std::size_t ch = 0; ch < control->channels; ++ch) {
      std::size_t from = d.cChannels == 1 ? 0 : ch;
      for (std::size_t k = 0; k < items; ++k) {
        std::int32_t v = in[from * items + k];
        values[ch * items + k] = control->type == MIXERCONTROL_CONTROLTYPE_VOLUME
                                     ? std::clamp(v, control->Minimum(), control->Maximum())
                                     : (v != 0 ? 1 : 0);
      }
    }
    // A single-select list must keep exactly one item selected, as on real hardware.
    if (!mixerstate::ValidValues(*control, values)) return MIXERR_INVALVALUE;

    Refresh(false, notices);
    pending_[device.key][control->id] = values;
    values_[device.key][control->id] = std::move(values);
    ScheduleWrite();
    Notify(deviceId, MM_MIXM_CONTROL_CHANGE, control->id, notices);
    levelsChanged = device.key == "standard" && cardPolling_;
    return MMSYSERR_NOERROR;
  }

  // Has the writer thread write the pending changes kWriteDelay from now, unless a write is due
  // already. Caller holds mutex_.
  void ScheduleWrite() {
    if (writeDue_) return;
    writeDue_ = std::chrono::steady_clock::now() + kWriteDelay;
    if (!writer_.joinable()) writer_ = std::thread([this] { WriteLoop(); });
    wake_.notify_all();
  }

  void WriteLoop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (!writeDue_) {
        wake_.wait(lock);
        continue;
      }
      if (wake_.wait_until(lock, *writeDue_, [this] { return stopping_; })) break;
      writeDue_.reset();
      lock.unlock();
      // A write that fails keeps the changes pending: the next change schedules another one.
      Flush();
      lock.lock();
    }
  }

  // Replaces the state file by one holding values_ and forgets the pending changes. On failure,
  // and when the file there is not one the card may replace, the file stays as it was and the
  // changes stay pending. Caller holds mutex_ and the folder lock.
  bool Save() {
    if (path_.empty()) return CannotSave("no state folder (HOME is not set)");
    if (seen_.Foreign()) return false;  // Refresh has said why
    std::string temp = path_ + ".tmp." + std::to_string(::getpid());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return CannotSave(std::strerror(errno));
    bool ok = WriteAll(fd, mixerstate::FormatState(values_));
    int error = errno;
    if (::close(fd) != 0 && ok) {
      ok = false;
      error = errno;
    }
    if (ok && ::rename(temp.c_str(), path_.c_str()) != 0) {
      ok = false;
      error = errno;
    }
    if (!ok) {
      ::unlink(temp.c_str());
      return CannotSave(std::strerror(error));
    }
    seen_ = Identify(path_);
    pending_.clear();
    return true;
  }

  bool CannotSave(const std::string& why) {
    return Warn(kCannotSave, "cannot save the mixer state in " +
                                 (path_.empty() ? std::string("(none)") : path_) + " (" + why +
                                 "); changes are kept until the program ends");
  }

  // Says `message` on stderr, once per kind of trouble; false.
  bool Warn(Warning kind, const std::string& message) {
    if (warned_ & kind) return false;
    warned_ |= kind;
    std::fprintf(stderr, "softcard: %s\n", message.c_str());
    return false;
  }

  // Hands the card the levels of the current state. Pushes are serialised and each one takes the
  // state anew, so the card always ends with the latest levels whatever order writers run in.
  // Never called with mutex_ held: the render thread takes mutex_ (in Levels) under its own lock.
  void PushLevels() {
    std::lock_guard push(pushMutex_);
    softcard::Levels levels;
    {
      std::lock_guard lock(mutex_);
      levels = mixerstate::LevelsFrom(values_);
    }
    softcard::Card::Instance().SetLevels(levels);
  }

  std::mutex pushMutex_;  // serialises PushLevels
  std::mutex mutex_;      // guards every member below
  bool initialised_ = false;
  std::vector<DeviceDef> devices_;  // the topology, by device number
  std::vector<DeviceDef> known_;    // devices_ plus the card's own device if it is not listed
  Values values_;
  std::string dir_;
  std::string path_;
  FileId seen_;     // the state file as last read or written
  Values pending_;  // changes made here that the state file does not hold yet
  std::optional<std::chrono::steady_clock::time_point> writeDue_;  // when the writer writes them
  std::thread writer_;                                             // started with the first change
  std::condition_variable wake_;  // wakes the writer: a write was scheduled, or the end
  bool stopping_ = false;
  unsigned warned_ = 0;  // the Warning kinds already said
  std::map<HMIXER, OpenHandle> handles_;
  HMIXER nextHandle_ = 1;
  std::map<UINT, unsigned> notifyAttempts_;
  // Set once the card has asked for its levels: only then does it exist to be pushed to, and
  // pushing earlier would start a card in processes that only look at the mixer.
  bool cardPolling_ = false;
  std::vector<Notice> ignored_;
};

}  // namespace

UINT mixerGetNumDevs() { return MixerService::Get().Count(); }

MMRESULT mixerOpen(HMIXER* mixer, UINT deviceId, HWND callback, std::uintptr_t, DWORD flags) {
  return MixerService::Get().Open(mixer, deviceId, callback, flags);
}

MMRESULT mixerClose(HMIXER mixer) { return MixerService::Get().Close(mixer); }

MMRESULT mixerGetDevCapsA(UINT deviceId, MIXERCAPS* caps, UINT size) {
  return MixerService::Get().Caps(deviceId, caps, size);
}

MMRESULT mixerGetLineInfoA(HMIXER mixer, MIXERLINE* line, DWORD flags) {
  return MixerService::Get().LineInfo(mixer, line, flags);
}

MMRESULT mixerGetLineControlsA(HMIXER mixer, MIXERLINECONTROLS* controls, DWORD flags) {
  return MixerService::Get().LineControls(mixer, controls, flags);
}

MMRESULT mixerGetControlDetailsA(HMIXER mixer, MIXERCONTROLDETAILS* details, DWORD flags) {
  return MixerService::Get().GetDetails(mixer, details, flags);
}

namespace {
std::function<void()> changeObserver;  // set and run on the thread that sets the mixer
}  // namespace

MMRESULT mixerSetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, DWORD flags) {
  if (changeObserver) changeObserver();
  return MixerService::Get().SetDetails(mixer, details, flags);
}

void mixerSetChangeObserverForTesting(std::function<void()> observer) {
  changeObserver = std::move(observer);
}

bool mixerFlushState() { return MixerService::Get().Flush(); }

void mixerResetForTesting() { MixerService::Get().Reset(); }

void mixerRaiseLineChangeForTesting(UINT deviceId, DWORD lineId) {
  MixerService::Get().RaiseLineChange(deviceId, lineId);
}

softcard::Levels mixerGetLevels() { return MixerService::Get().Levels(false); }

namespace {
// A program that links the mixer devices gets a card that follows them.
[[maybe_unused]] const bool kCardFollowsMixer = [] {
  softcard::SetLevelsProvider([] { return MixerService::Get().Levels(true); });
  return true;
}();
}  // namespace

}  // namespace platform
