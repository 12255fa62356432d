// TAudioMixer against the card's device and its test devices: the model, device choice, and the
// volume, mute and selection conventions of GetVolume and SetVolume.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mixer/AMixer.h"
#include "platform/runtime/GuiThread.h"
#include "tests/platform/softcard/mixer/MixerTestEnv.h"

using namespace platform;
using namespace mixertest;

namespace {

using V = std::vector<std::int32_t>;

struct Line {
  bool ok = false;
  std::int32_t L = 0, R = 0, M = 0;
  bool Stereo = true, VolDisabled = false, MuteDisabled = false, IsSelect = true;
  V Values() const { return {L, R, M}; }  // the volumes and the mute (or selection)
};

Line Get(TAudioMixer& mixer, int dest, int conn) {
  Line l;
  l.ok = mixer.GetVolume(dest, conn, l.L, l.R, l.M, l.Stereo, l.VolDisabled, l.MuteDisabled,
                         l.IsSelect);
  return l;
}

void ExpectUntouched(const Line& l) {
  EXPECT_EQ(l.Values(), (V{-1, -1, -1}));
  EXPECT_FALSE(l.Stereo);
  EXPECT_TRUE(l.VolDisabled);
  EXPECT_TRUE(l.MuteDisabled);
  EXPECT_FALSE(l.IsSelect);
}

// Direct access to a device's controls by platform numbering, to see what the mixer wrote.
class Probe {
 public:
  explicit Probe(UINT device) : h_(OpenPlain(device)) {}
  ~Probe() { mixerClose(h_); }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  std::vector<std::int32_t> Values(DWORD dest, int source, DWORD type, int nth = 0) {
    MIXERLINE line = source < 0 ? Destination(h_, dest) : Source(h_, dest, source);
    for (const auto& c : Controls(h_, line)) {
      if (c.dwControlType != type || nth-- > 0) continue;
      bool uniform = c.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM;
      return Read(h_, c.dwControlID, uniform ? 1 : line.cChannels, c.cMultipleItems);
    }
    ADD_FAILURE() << "no such control";
    return {};
  }
  std::vector<std::int32_t> Mux(DWORD dest, int nth = 0) {
    return Values(dest, -1, MIXERCONTROL_CONTROLTYPE_MUX, nth);
  }

 private:
  HMIXER h_;
};

}  // namespace

TEST(PointerList, GetOutsideTheListYieldsNoItem) {
  TPointerList list;
  int a = 1, b = 2;
  list.Add(&a);
  list.Add(&b);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Get(1), &b);
  EXPECT_EQ(list.Get(2), nullptr);
  EXPECT_EQ(list.Get(-1), nullptr);
}

TEST(PointerList, ClearFreesEachItemOnceInOrder) {
  std::vector<int> freed;
  int items[3] = {10, 20, 30};
  {
    TPointerList list;
    list.FreeItem = [&](void* p) { freed.push_back(*static_cast<int*>(p)); };
    for (int& i : items) list.Add(&i);
    list.Clear();
    EXPECT_EQ(freed, (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(list.Count(), 0);
    list.Add(&items[0]);
  }
  EXPECT_EQ(freed, (std::vector<int>{10, 20, 30, 10}));  // the destructor clears too
}

TEST(AudioMixerModel, OpensDeviceZeroAndListsItsLines) {
  ScopedMixerEnv env;
  TAudioMixer mixer(nullptr);
  EXPECT_EQ(mixer.MixerCount, 1);
  EXPECT_EQ(mixer.MixerId(), 0);
  EXPECT_STREQ(mixer.MixerCaps.szPname, "Softcard Mixer");
  EXPECT_EQ(mixer.ProductName(), "Softcard Mixer");
  EXPECT_EQ(mixer.Manufacturer(), std::to_string(mixer.MixerCaps.wMid) + " = Unknown");
  EXPECT_EQ(mixer.ProductId(), mixer.MixerCaps.wPid);
  EXPECT_EQ(mixer.DriverVersion(), mixer.MixerCaps.vDriverVersion);
  EXPECT_EQ(mixer.NumberOfLine(), 2);
  ASSERT_EQ(mixer.Destinations->Count(), 2);
  TMixerDestination* recording = mixer.Destinations->Get(1);
  EXPECT_STREQ(recording->LineInfo.szName, "Recording Control");
  EXPECT_EQ(recording->ParentMixer, &mixer);
  ASSERT_EQ(recording->Connections->Count(), 5);
  EXPECT_STREQ(recording->Connections->Get(0)->LineInfo.szName, "Stereo Mix");
  EXPECT_EQ(recording->Connections->Get(5), nullptr);
  EXPECT_EQ(recording->Controls->Count(), 2);  // volume and the source list
  EXPECT_EQ(recording->Controls->Get(1)->dwControlType, MIXERCONTROL_CONTROLTYPE_MUX);
  EXPECT_EQ(mixer.Destinations->Get(0)->Connections->Get(4)->Controls->Count(), 2);
  EXPECT_EQ(mixer.Destinations->Get(2), nullptr);
}

TEST(AudioMixerModel, NoDeviceMeansAnEmptyModel) {
  ScopedMixerEnv env("none");
  TAudioMixer mixer(nullptr);
  EXPECT_EQ(mixer.MixerCount, 0);
  EXPECT_EQ(mixer.MixerId(), -1);
  ASSERT_NE(mixer.Destinations, nullptr);
  EXPECT_EQ(mixer.Destinations->Count(), 0);
  Line l = Get(mixer, 0, -1);
  EXPECT_FALSE(l.ok);
  ExpectUntouched(l);
  EXPECT_FALSE(mixer.SetVolume(0, 0, 1, 1, 1));
  mixer.SetMixerId(0);
  EXPECT_EQ(mixer.MixerId(), -1);
}

TEST(AudioMixerModel, SetMixerIdOutsideTheDevicesChangesNothing) {
  ScopedMixerEnv env("standard,quirks");
  TAudioMixer mixer(nullptr);
  mixer.SetMixerId(1);
  TMixerDestinations* model = mixer.Destinations.get();
  HMIXER handle = mixer.MixerHandle;
  for (int bad : {-1, 2, 100}) {
    mixer.SetMixerId(bad);
    EXPECT_EQ(mixer.MixerId(), 1);
    EXPECT_EQ(mixer.Destinations.get(), model);
    EXPECT_EQ(mixer.MixerHandle, handle);
    EXPECT_EQ(mixer.Manufacturer(), "Microsoft");
  }
}

TEST(AudioMixerModel, SetMixerIdOfTheOpenDeviceReopensAndRebuilds) {
  ScopedMixerEnv env;
  TAudioMixer mixer(nullptr);
  HMIXER before = mixer.MixerHandle;
  mixer.SetMixerId(0);
  EXPECT_EQ(mixer.MixerId(), 0);
  EXPECT_NE(mixer.MixerHandle, before);
  // The old handle was closed.
  MIXERLINE line;
  EXPECT_EQ(mixerGetLineInfoA(before, &line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(mixer.Destinations->Count(), 2);
}

TEST(AudioMixerModel, FailedQueriesShiftTheIndices) {
  ScopedMixerEnv env("quirks");
  TAudioMixer mixer(nullptr);
  EXPECT_EQ(mixer.Manufacturer(), "Microsoft");
  EXPECT_EQ(mixer.NumberOfLine(), 5);
  // "Broken Destination" cannot be read: the other four move up.
  ASSERT_EQ(mixer.Destinations->Count(), 4);
  EXPECT_STREQ(mixer.Destinations->Get(1)->LineInfo.szName, "Recording");
  EXPECT_EQ(mixer.Destinations->Get(1)->LineInfo.dwDestination, 2u);
  TMixerConnections& playback = *mixer.Destinations->Get(0)->Connections;
  ASSERT_EQ(playback.Count(), 8);  // "Broken" left out
  EXPECT_STREQ(playback.Get(1)->LineInfo.szName, "Disabled");
  EXPECT_EQ(playback.Get(1)->LineInfo.dwSource, 2u);
  EXPECT_EQ(playback.Get(5)->Controls->Count(), 0);  // "Controls Fail"
  EXPECT_EQ(playback.Get(5)->Controls->Get(0), nullptr);
  EXPECT_STREQ(playback.Get(5)->LineInfo.szName, "Controls Fail");
}

TEST(AudioMixerModel, OpenAttemptsAndUnopenableDevices) {
  ScopedMixerEnv env("nonotify,flaky,unopenable");
  int events = 0;
  TAudioMixer mixer(nullptr);
  mixer.OnControlChange = [&](TComponent*, std::int32_t, std::int32_t) { ++events; };
  // Opened without notifications after two refusals: usable, but silent.
  EXPECT_EQ(mixer.MixerId(), 0);
  EXPECT_EQ(mixer.Destinations->Count(), 2);
  EXPECT_TRUE(mixer.SetVolume(0, 0, 100, 100, -1));
  ProcessMessages();
  EXPECT_EQ(events, 0);
  EXPECT_EQ(Get(mixer, 0, 0).L, 100);

  mixer.SetMixerId(1);  // refuses the first attempt with notifications only
  EXPECT_EQ(mixer.MixerId(), 1);
  EXPECT_TRUE(mixer.SetVolume(0, 0, 200, 200, -1));
  ProcessMessages();
  EXPECT_EQ(events, 1);

  mixer.SetMixerId(2);
  EXPECT_EQ(mixer.MixerId(), -1);
  ASSERT_NE(mixer.Destinations, nullptr);
  EXPECT_EQ(mixer.Destinations->Count(), 0);
  EXPECT_FALSE(mixer.SetVolume(0, 0, 1, 1, 1));

  mixer.SetMixerId(0);
  mixer.CloseMixer();
  EXPECT_EQ(mixer.MixerId(), -1);
  ASSERT_NE(mixer.Destinations, nullptr);
  EXPECT_EQ(mixer.Destinations->Count(), 0);
}

TEST(AudioMixerModel, OwnedMixerGoesWithItsOwner) {
  ScopedMixerEnv env;
  auto owner = std::make_unique<TComponent>(nullptr);
  auto* mixer = new TAudioMixer(owner.get());  // owned by `owner`
  EXPECT_EQ(owner->ComponentCount(), 1);
  HMIXER h = mixer->MixerHandle;
  owner.reset();
  MIXERLINE line;
  EXPECT_EQ(mixerGetLineInfoA(h, &line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_INVALHANDLE);
}

TEST(AudioMixerValues, StereoLineReadsAndWritesBothChannels) {
  ScopedMixerEnv env;
  TAudioMixer mixer(nullptr);
  Line l = Get(mixer, 0, 0);  // "SW Synth"
  EXPECT_TRUE(l.ok);
  EXPECT_EQ(l.Values(), (V{49152, 49152, 0}));
  EXPECT_TRUE(l.Stereo);
  EXPECT_FALSE(l.VolDisabled);
  EXPECT_FALSE(l.MuteDisabled);
  EXPECT_FALSE(l.IsSelect);

  Probe probe(0);
  EXPECT_TRUE(mixer.SetVolume(0, 0, 1000, 2000, 1));
  EXPECT_EQ(probe.Values(0, 0, MIXERCONTROL_CONTROLTYPE_VOLUME), (V{1000, 2000}));
  EXPECT_EQ(probe.Values(0, 0, MIXERCONTROL_CONTROLTYPE_MUTE), (V{1}));
  EXPECT_TRUE(mixer.SetVolume(0, 0, 3000, -1, -1));  // Right -1: both get Left; mute left alone
  EXPECT_EQ(probe.Values(0, 0, MIXERCONTROL_CONTROLTYPE_VOLUME), (V{3000, 3000}));
  EXPECT_EQ(probe.Values(0, 0, MIXERCONTROL_CONTROLTYPE_MUTE), (V{1}));
  EXPECT_TRUE(mixer.SetVolume(0, 0, -1, 5, 0));  // Left -1: volume left alone, mute cleared
  EXPECT_EQ(probe.Values(0, 0, MIXERCONTROL_CONTROLTYPE_VOLUME), (V{3000, 3000}));
  EXPECT_EQ(probe.Values(0, 0, MIXERCONTROL_CONTROLTYPE_MUTE), (V{0}));

  Line master = Get(mixer, 0, -1);
  EXPECT_EQ(master.L, 49152);
  EXPECT_FALSE(master.IsSelect);
  EXPECT_TRUE(mixer.SetVolume(0, -1, 10, 20, 1));
  EXPECT_EQ(probe.Values(0, -1, MIXERCONTROL_CONTROLTYPE_VOLUME), (V{10, 20}));
  EXPECT_EQ(probe.Values(0, -1, MIXERCONTROL_CONTROLTYPE_MUTE), (V{1}));
}

TEST(AudioMixerValues, MonoVolumesGiveRightEqualToLeft) {
  ScopedMixerEnv env("quirks");
  TAudioMixer mixer(nullptr);
  Line mono = Get(mixer, 0, 0);  // a one-channel line
  EXPECT_EQ(mono.L, 30000);
  EXPECT_EQ(mono.R, 30000);
  EXPECT_FALSE(mono.Stereo);
  Probe probe(0);
  EXPECT_TRUE(mixer.SetVolume(0, 0, 100, 200, -1));
  EXPECT_EQ(probe.Values(0, 0, MIXERCONTROL_CONTROLTYPE_VOLUME), (V{100}));

  Line uniform = Get(mixer, 1, -1);  // one value for both channels of "Recording"
  EXPECT_EQ(uniform.L, 20000);
  EXPECT_EQ(uniform.R, 20000);
  EXPECT_FALSE(uniform.Stereo);
  EXPECT_EQ(uniform.M, -1);  // a destination line never reads a selection
  EXPECT_FALSE(uniform.IsSelect);
}

TEST(AudioMixerValues, UnusualLines) {
  ScopedMixerEnv env("quirks");
  TAudioMixer mixer(nullptr);
  Probe probe(0);
  // Model indices of "Playback": 0 Mono In, 1 Disabled, 2 Silent Line, 3 Surround, 4 Wide,
  // 5 Controls Fail, 6 Read Fails, 7 Many Controls.
  Line disabled = Get(mixer, 0, 1);
  EXPECT_EQ(disabled.L, 49152);
  EXPECT_TRUE(disabled.VolDisabled);
  EXPECT_TRUE(disabled.MuteDisabled);

  Line silent = Get(mixer, 0, 2);
  EXPECT_TRUE(silent.ok);
  ExpectUntouched(silent);
  EXPECT_TRUE(mixer.SetVolume(0, 2, 5, 5, 1));

  Line surround = Get(mixer, 0, 3);
  EXPECT_EQ(surround.L, 1000);
  EXPECT_EQ(surround.R, 2000);
  EXPECT_TRUE(surround.Stereo);
  EXPECT_TRUE(mixer.SetVolume(0, 3, 10, 20, -1));
  EXPECT_EQ(probe.Values(0, 4, MIXERCONTROL_CONTROLTYPE_VOLUME), (V{10, 20, 10, 20}));

  // 110 channels: more than the operations keep, so absent.
  Line wide = Get(mixer, 0, 4);
  EXPECT_EQ(wide.L, -1);
  EXPECT_TRUE(wide.VolDisabled);
  EXPECT_TRUE(mixer.SetVolume(0, 4, 7, 7, -1));
  EXPECT_EQ(probe.Values(0, 5, MIXERCONTROL_CONTROLTYPE_VOLUME), V(110, 49152));

  Line noControls = Get(mixer, 0, 5);
  ExpectUntouched(noControls);

  Line readFails = Get(mixer, 0, 6);
  EXPECT_EQ(readFails.L, -1);
  EXPECT_TRUE(readFails.VolDisabled);
  EXPECT_EQ(readFails.M, 1);
  EXPECT_FALSE(readFails.MuteDisabled);

  // A list-type mute and a second volume: only the first plain ones are read or written.
  Line many = Get(mixer, 0, 7);
  EXPECT_EQ(many.Values(), (V{111, 222, 1}));
  EXPECT_TRUE(mixer.SetVolume(0, 7, 5, 6, 0));
  EXPECT_EQ(probe.Values(0, 8, MIXERCONTROL_CONTROLTYPE_VOLUME, 0), (V{5, 6}));
  EXPECT_EQ(probe.Values(0, 8, MIXERCONTROL_CONTROLTYPE_VOLUME, 1), (V{333, 444}));
  EXPECT_EQ(probe.Values(0, 8, MIXERCONTROL_CONTROLTYPE_MUTE, 0), (V{0, 0}));
  EXPECT_EQ(probe.Values(0, 8, MIXERCONTROL_CONTROLTYPE_MUTE, 1), (V{0}));
}

TEST(AudioMixerValues, OutOfRangeAddresses) {
  ScopedMixerEnv env;
  TAudioMixer mixer(nullptr);
  for (int dest : {-1, 2, 99}) {
    Line l = Get(mixer, dest, 0);
    EXPECT_FALSE(l.ok);
    ExpectUntouched(l);
    EXPECT_FALSE(mixer.SetVolume(dest, 0, 1, 1, 1));
  }
  for (int conn : {-2, 5, 99}) {
    Line l = Get(mixer, 0, conn);
    EXPECT_TRUE(l.ok);
    ExpectUntouched(l);
    EXPECT_TRUE(mixer.SetVolume(1, conn, 1, 1, 1));
  }
  // Nothing was written anywhere: the state file was never created.
  EXPECT_FALSE(std::filesystem::exists(env.file()));
}

TEST(AudioMixerSelection, SelectionStandsInForMute) {
  ScopedMixerEnv env;
  TAudioMixer mixer(nullptr);
  Probe probe(0);
  Line mix = Get(mixer, 1, 0);
  EXPECT_EQ(mix.M, 1);
  EXPECT_TRUE(mix.IsSelect);
  EXPECT_FALSE(mix.MuteDisabled);
  EXPECT_EQ(mix.L, 49152);
  Line cd = Get(mixer, 1, 2);
  EXPECT_EQ(cd.M, 0);
  EXPECT_TRUE(cd.IsSelect);

  EXPECT_TRUE(mixer.SetVolume(1, 3, -1, -1, 1));
  EXPECT_EQ(probe.Mux(1), (V{0, 0, 0, 1, 0}));
  EXPECT_EQ(probe.Values(1, 3, MIXERCONTROL_CONTROLTYPE_VOLUME), (V{49152, 49152}));
  EXPECT_TRUE(mixer.SetVolume(1, 1, 12800, 12800, 1));
  EXPECT_EQ(probe.Mux(1), (V{0, 1, 0, 0, 0}));  // every other item sent as 0
  EXPECT_EQ(probe.Values(1, 1, MIXERCONTROL_CONTROLTYPE_VOLUME), (V{12800, 12800}));

  // 0 sends every item as 0, which the card refuses: the selection stays.
  EXPECT_TRUE(mixer.SetVolume(1, 1, -1, -1, 0));
  EXPECT_EQ(probe.Mux(1), (V{0, 1, 0, 0, 0}));
  EXPECT_EQ(Get(mixer, 1, 1).M, 1);
}

TEST(AudioMixerSelection, ListsThatLeaveALineOutOrCannotBeNamed) {
  ScopedMixerEnv env("quirks");
  TAudioMixer mixer(nullptr);
  Probe probe(0);
  // "Recording" (model index 1): items in reverse order, "Aux" not among them.
  EXPECT_EQ(Get(mixer, 1, 0).M, 1);  // "Stereo Mix", the list's second item
  Line mic = Get(mixer, 1, 1);
  EXPECT_EQ(mic.M, 0);
  EXPECT_TRUE(mic.IsSelect);
  EXPECT_TRUE(mixer.SetVolume(1, 1, -1, -1, 1));
  EXPECT_EQ(probe.Mux(2), (V{1, 0}));
  EXPECT_EQ(probe.Values(2, 1, MIXERCONTROL_CONTROLTYPE_MUTE), (V{0}));  // its own mute untouched

  Line aux = Get(mixer, 1, 2);
  EXPECT_FALSE(aux.IsSelect);
  EXPECT_EQ(aux.M, 0);  // falls back to the line's mute
  EXPECT_FALSE(aux.MuteDisabled);
  EXPECT_TRUE(mixer.SetVolume(1, 2, -1, -1, 1));
  EXPECT_EQ(probe.Values(2, 2, MIXERCONTROL_CONTROLTYPE_MUTE), (V{0}));  // never written
  EXPECT_EQ(probe.Mux(2), (V{1, 0}));
  EXPECT_EQ(Get(mixer, 1, 2).M, 0);

  // "Select Test": the first list cannot name its items; reading goes on to the second, writing
  // uses only the first and so writes nothing.
  Line a = Get(mixer, 2, 0);
  EXPECT_TRUE(a.IsSelect);
  EXPECT_EQ(a.M, 0);
  EXPECT_EQ(Get(mixer, 2, 1).M, 1);
  EXPECT_TRUE(mixer.SetVolume(2, 0, -1, -1, 1));
  EXPECT_EQ(probe.Mux(3, 0), (V{1, 0}));
  EXPECT_EQ(probe.Mux(3, 1), (V{1, 0}));
  EXPECT_EQ(probe.Values(3, 0, MIXERCONTROL_CONTROLTYPE_MUTE), (V{0}));

  // "Wide Select": a list of 102 items is more than the operations keep.
  Line c = Get(mixer, 3, 0);
  EXPECT_FALSE(c.IsSelect);
  EXPECT_EQ(c.M, 0);
  EXPECT_TRUE(mixer.SetVolume(3, 0, -1, -1, 1));
  EXPECT_EQ(probe.Values(4, 0, MIXERCONTROL_CONTROLTYPE_MUTE), (V{0}));
  EXPECT_EQ(probe.Mux(4)[0], 1);
}

TEST(AudioMixerEvents, OncePerChangeOnTheGuiThread) {
  ScopedMixerEnv env;
  std::vector<std::pair<std::int32_t, std::int32_t>> controls, lines;
  TComponent* sender = nullptr;
  TAudioMixer mixer(nullptr);
  mixer.OnControlChange = [&](TComponent* s, std::int32_t h, std::int32_t id) {
    sender = s;
    controls.emplace_back(h, id);
  };
  mixer.OnLineChange = [&](TComponent*, std::int32_t h, std::int32_t id) {
    lines.emplace_back(h, id);
  };
  const std::int32_t handle = static_cast<std::int32_t>(mixer.MixerHandle);
  TMixerConnection& synth = *mixer.Destinations->Get(0)->Connections->Get(0);
  const auto volumeId = static_cast<std::int32_t>(synth.Controls->Get(0)->dwControlID);
  const auto muteId = static_cast<std::int32_t>(synth.Controls->Get(1)->dwControlID);

  EXPECT_TRUE(mixer.SetVolume(0, 0, 100, 100, -1));
  EXPECT_TRUE(controls.empty());  // not before the GUI thread processes its messages
  ProcessMessages();
  ASSERT_EQ(controls.size(), 1u);
  EXPECT_EQ(controls[0], std::make_pair(handle, volumeId));
  EXPECT_EQ(sender, &mixer);

  controls.clear();
  EXPECT_TRUE(mixer.SetVolume(0, 0, 200, 200, 1));
  ProcessMessages();
  EXPECT_EQ(controls, (std::vector<std::pair<std::int32_t, std::int32_t>>{{handle, volumeId},
                                                                          {handle, muteId}}));
  ProcessMessages();
  EXPECT_EQ(controls.size(), 2u);

  mixerRaiseLineChangeForTesting(0, synth.LineInfo.dwLineID);
  ProcessMessages();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], std::make_pair(handle, static_cast<std::int32_t>(synth.LineInfo.dwLineID)));
}

TEST(AudioMixerEvents, NotificationsPendingForADestroyedMixerAreDropped) {
  ScopedMixerEnv env;
  int events = 0;
  {
    TAudioMixer mixer(nullptr);
    mixer.OnControlChange = [&](TComponent*, std::int32_t, std::int32_t) { ++events; };
    EXPECT_TRUE(mixer.SetVolume(0, 0, 100, 100, 1));
  }
  ProcessMessages();
  EXPECT_EQ(events, 0);
}

TEST(AudioMixerStateFile, ValuesSetInOneProcessAreReadInAnother) {
  ScopedMixerEnv env;
  {
    TAudioMixer mixer(nullptr);
    EXPECT_TRUE(mixer.SetVolume(0, 1, 25000, 24000, 1));
    EXPECT_TRUE(mixer.SetVolume(1, 1, 12800, 12800, 1));
  }
  EXPECT_EQ(RunChild({"expect", "0", "1", "25000", "24000", "1"}), 0);
  EXPECT_EQ(RunChild({"expect", "1", "1", "12800", "12800", "1"}), 0);
  EXPECT_EQ(RunChild({"expect", "1", "0", "49152", "49152", "0"}), 0);
  EXPECT_EQ(RunChild({"expect", "1", "0", "49152", "49152", "1"}), 1);  // the check can fail

  ASSERT_EQ(RunChild({"set", "0", "3", "777", "-1", "0"}), 0);
  TAudioMixer mixer(nullptr);
  EXPECT_EQ(Get(mixer, 0, 3).Values(), (V{777, 777, 0}));
}

// The second process: "set D C L R M" runs SetVolume; "expect D C L R M" exits 0 when GetVolume
// reads those values and 1 otherwise.
static int ChildMain(int argc, char** argv) {
  if (argc != 8) return 3;
  std::string what = argv[2];
  int v[5];
  for (int i = 0; i < 5; ++i) v[i] = std::stoi(argv[3 + i]);
  TAudioMixer mixer(nullptr);
  if (what == "set") return mixer.SetVolume(v[0], v[1], v[2], v[3], v[4]) ? 0 : 4;
  Line l = Get(mixer, v[0], v[1]);
  return l.ok && l.L == v[2] && l.R == v[3] && l.M == v[4] ? 0 : 1;
}

int main(int argc, char** argv) { return MainWithChild(argc, argv, ChildMain); }
