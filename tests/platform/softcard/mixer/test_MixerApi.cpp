// The card's mixer devices through the mixer calls: topology, values, the recording-source rule,
// the state file and the levels the card takes from it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/runtime/GuiThread.h"
#include "platform/runtime/NotifyWindow.h"
#include "platform/softcard/Softcard.h"
#include "platform/softcard/mixer/MixerApi.h"
#include "platform/softcard/mixer/MixerState.h"
#include "platform/system/Shell.h"
#include "tests/platform/softcard/mixer/MixerTestEnv.h"

using namespace platform;
using namespace mixertest;

namespace {

const char* kSpeakerSources[] = {"SW Synth", "Wave", "CD Audio", "Line In", "Microphone"};
const char* kRecordSources[] = {"Stereo Mix", "SW Synth", "CD Audio", "Line In", "Microphone"};

std::vector<MIXERCONTROLDETAILS_LISTTEXT> ListTexts(HMIXER h, const MIXERCONTROL& c) {
  std::vector<MIXERCONTROLDETAILS_LISTTEXT> texts(c.cMultipleItems);
  MIXERCONTROLDETAILS d;
  d.dwControlID = c.dwControlID;
  d.cChannels = 1;
  d.cMultipleItems = c.cMultipleItems;
  d.cbDetails = sizeof(MIXERCONTROLDETAILS_LISTTEXT);
  d.paDetails = texts.data();
  EXPECT_EQ(mixerGetControlDetailsA(h, &d, MIXER_GETCONTROLDETAILSF_LISTTEXT), MMSYSERR_NOERROR);
  return texts;
}

// Selects recording source `s` of the standard device's recording destination.
MMRESULT SelectRecording(HMIXER h, int s) {
  MIXERCONTROL mux = ControlOfType(h, Destination(h, 1), MIXERCONTROL_CONTROLTYPE_MUX);
  std::vector<std::int32_t> v(mux.cMultipleItems, 0);
  v[static_cast<std::size_t>(s)] = 1;
  return Write(h, mux.dwControlID, 1, v, mux.cMultipleItems);
}

}  // namespace

TEST(MixerTopology, StandardDeviceHasTheCardsLinesAndControls) {
  ScopedMixerEnv env;
  ASSERT_EQ(mixerGetNumDevs(), 1u);
  MIXERCAPS caps;
  ASSERT_EQ(mixerGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_STREQ(caps.szPname, "Softcard Mixer");
  EXPECT_EQ(caps.cDestinations, 2u);
  EXPECT_NE(caps.wMid, 1);

  HMIXER h = OpenPlain(0);
  MIXERLINE speakers = Destination(h, 0);
  MIXERLINE recording = Destination(h, 1);
  EXPECT_STREQ(speakers.szName, "Speakers");
  EXPECT_STREQ(recording.szName, "Recording Control");
  ASSERT_EQ(speakers.cConnections, 5u);
  ASSERT_EQ(recording.cConnections, 5u);

  std::set<DWORD> lineIds = {speakers.dwLineID, recording.dwLineID};
  std::set<DWORD> controlIds;
  auto collect = [&](const MIXERLINE& line) {
    for (const auto& c : Controls(h, line)) EXPECT_TRUE(controlIds.insert(c.dwControlID).second);
  };
  collect(speakers);
  collect(recording);
  for (DWORD s = 0; s < 5; ++s) {
    MIXERLINE play = Source(h, 0, s);
    MIXERLINE rec = Source(h, 1, s);
    EXPECT_STREQ(play.szName, kSpeakerSources[s]);
    EXPECT_STREQ(rec.szName, kRecordSources[s]);
    EXPECT_EQ(play.cChannels, 2u);
    EXPECT_EQ(play.cControls, 2u);  // volume and mute
    EXPECT_EQ(rec.cControls, 1u);   // volume
    EXPECT_EQ(rec.dwSource, s);
    EXPECT_TRUE(lineIds.insert(play.dwLineID).second);
    EXPECT_TRUE(lineIds.insert(rec.dwLineID).second);
    collect(play);
    collect(rec);
  }
  // Line ids and control ids never coincide, so one passed for the other is refused.
  for (DWORD id : controlIds) EXPECT_EQ(lineIds.count(id), 0u);

  MIXERCONTROL volume = ControlOfType(h, Source(h, 0, 0), MIXERCONTROL_CONTROLTYPE_VOLUME);
  EXPECT_EQ(volume.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM, 0u);
  EXPECT_EQ(volume.lMaximum, 65535);
  MIXERCONTROL mute = ControlOfType(h, Source(h, 0, 0), MIXERCONTROL_CONTROLTYPE_MUTE);
  EXPECT_NE(mute.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM, 0u);

  MIXERCONTROL mux = ControlOfType(h, recording, MIXERCONTROL_CONTROLTYPE_MUX);
  EXPECT_EQ(mux.fdwControl, MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE);
  ASSERT_EQ(mux.cMultipleItems, 5u);
  auto texts = ListTexts(h, mux);
  for (DWORD k = 0; k < 5; ++k) {
    EXPECT_EQ(texts[k].dwParam1, Source(h, 1, k).dwLineID);
    EXPECT_STREQ(texts[k].szName, kRecordSources[k]);
  }
  EXPECT_EQ(mixerClose(h), MMSYSERR_NOERROR);
}

TEST(MixerTopology, FactoryStateRecordsWhatIsPlayed) {
  ScopedMixerEnv env;
  HMIXER h = OpenPlain(0);
  MIXERLINE speakers = Destination(h, 0);
  EXPECT_EQ(Read(h, ControlOfType(h, speakers, MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID, 2),
            (std::vector<std::int32_t>{49152, 49152}));
  EXPECT_EQ(Read(h, ControlOfType(h, speakers, MIXERCONTROL_CONTROLTYPE_MUTE).dwControlID, 1),
            (std::vector<std::int32_t>{0}));
  for (DWORD s = 0; s < 5; ++s) {
    MIXERLINE line = Source(h, 0, s);
    auto mute = Read(h, ControlOfType(h, line, MIXERCONTROL_CONTROLTYPE_MUTE).dwControlID, 1);
    EXPECT_EQ(mute[0], s == 4 ? 1 : 0) << line.szName;  // only the microphone is muted
  }
  MIXERCONTROL mux = ControlOfType(h, Destination(h, 1), MIXERCONTROL_CONTROLTYPE_MUX);
  EXPECT_EQ(Read(h, mux.dwControlID, 1, 5), (std::vector<std::int32_t>{1, 0, 0, 0, 0}));

  softcard::Levels levels = mixerGetLevels();
  EXPECT_EQ(levels.recordSource, softcard::Levels::RecordSource::StereoMix);
  // The card's levels before its first poll are the same: nothing jumps when it starts.
  EXPECT_EQ(levels, softcard::Levels{});
  mixerClose(h);
}

TEST(MixerTopology, TopologyListsDevicesByKind) {
  ScopedMixerEnv env("standard, quirks,bogus,standard");
  ASSERT_EQ(mixerGetNumDevs(), 3u);
  MIXERCAPS caps;
  ASSERT_EQ(mixerGetDevCapsA(1, &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_STREQ(caps.szPname, "Softcard Test Mixer");
  EXPECT_EQ(caps.wMid, 1);
  EXPECT_EQ(caps.cDestinations, 5u);
  EXPECT_EQ(mixerGetDevCapsA(3, &caps, sizeof caps), MMSYSERR_BADDEVICEID);

  env.Use(env.dir(), "none");
  EXPECT_EQ(mixerGetNumDevs(), 0u);
  HMIXER h = 0;
  EXPECT_EQ(mixerOpen(&h, 0, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
}

TEST(MixerTopology, QuirksDeviceFailsWhereItSays) {
  ScopedMixerEnv env("quirks");
  HMIXER h = OpenPlain(0);
  MIXERLINE line;
  line.dwDestination = 0;
  line.dwSource = 1;  // "Broken"
  EXPECT_NE(mixerGetLineInfoA(h, &line, MIXER_GETLINEINFOF_SOURCE), MMSYSERR_NOERROR);
  line.dwDestination = 1;  // "Broken Destination"
  EXPECT_NE(mixerGetLineInfoA(h, &line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_NOERROR);

  MIXERLINE mono = Source(h, 0, 0);
  EXPECT_STREQ(mono.szName, "Mono In");
  EXPECT_EQ(mono.cChannels, 1u);

  MIXERLINE disabled = Source(h, 0, 2);
  for (const auto& c : Controls(h, disabled)) {
    EXPECT_NE(c.fdwControl & MIXERCONTROL_CONTROLF_DISABLED, 0u);
  }
  EXPECT_EQ(Source(h, 0, 3).cControls, 0u);  // "Silent Line"
  EXPECT_EQ(Source(h, 0, 4).cChannels, 4u);  // "Surround"
  EXPECT_EQ(
      Read(h, ControlOfType(h, Source(h, 0, 4), MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID, 4),
      (std::vector<std::int32_t>{1000, 2000, 3000, 4000}));

  MIXERLINE failing = Source(h, 0, 6);  // "Controls Fail"
  std::vector<MIXERCONTROL> room(failing.cControls);
  MIXERLINECONTROLS lc;
  lc.dwLineID = failing.dwLineID;
  lc.cControls = failing.cControls;
  lc.pamxctrl = room.data();
  EXPECT_EQ(mixerGetLineControlsA(h, &lc, MIXER_GETLINECONTROLSF_ALL), MMSYSERR_ERROR);

  MIXERLINE reads = Source(h, 0, 7);  // "Read Fails": its volume cannot be read
  MIXERCONTROL volume = ControlOfType(h, reads, MIXERCONTROL_CONTROLTYPE_VOLUME);
  std::int32_t v[2];
  MIXERCONTROLDETAILS d;
  d.dwControlID = volume.dwControlID;
  d.cChannels = 2;
  d.cbDetails = 4;
  d.paDetails = v;
  EXPECT_EQ(mixerGetControlDetailsA(h, &d, MIXER_GETCONTROLDETAILSF_VALUE), MMSYSERR_ERROR);

  // The recording list names its items in reverse order and leaves "Aux" out.
  MIXERLINE recording = Destination(h, 2);
  MIXERCONTROL mux = ControlOfType(h, recording, MIXERCONTROL_CONTROLTYPE_MUX);
  auto texts = ListTexts(h, mux);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].dwParam1, Source(h, 2, 1).dwLineID);
  EXPECT_EQ(texts[1].dwParam1, Source(h, 2, 0).dwLineID);
  mixerClose(h);
}

TEST(MixerTopology, OpenFaultsOfTheTestDevices) {
  ScopedMixerEnv env("nonotify,flaky,unopenable");
  HWND wnd = AllocateHWnd([](TMessage&) {});
  HMIXER h = 0;
  EXPECT_NE(mixerOpen(&h, 0, wnd, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  EXPECT_NE(mixerOpen(&h, 0, wnd, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  EXPECT_EQ(mixerOpen(&h, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  mixerClose(h);

  EXPECT_NE(mixerOpen(&h, 1, wnd, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  EXPECT_EQ(mixerOpen(&h, 1, wnd, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  mixerClose(h);

  EXPECT_NE(mixerOpen(&h, 2, wnd, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  EXPECT_NE(mixerOpen(&h, 2, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  DeallocateHWnd(wnd);
}

TEST(MixerCalls, BadArgumentsGiveErrorCodes) {
  ScopedMixerEnv env;
  HMIXER h = OpenPlain(0);
  HMIXER other = 0;
  EXPECT_EQ(mixerOpen(nullptr, 0, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
  EXPECT_EQ(mixerOpen(&other, 0, 0, 0, 0x40000), MMSYSERR_INVALFLAG);
  EXPECT_EQ(mixerOpen(&other, 0, 0, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);  // no window

  MIXERLINE line;
  line.dwDestination = 2;
  EXPECT_EQ(mixerGetLineInfoA(h, &line, MIXER_GETLINEINFOF_DESTINATION), MIXERR_INVALLINE);
  line.dwDestination = 0;
  line.dwSource = 5;
  EXPECT_EQ(mixerGetLineInfoA(h, &line, MIXER_GETLINEINFOF_SOURCE), MIXERR_INVALLINE);
  EXPECT_EQ(mixerGetLineInfoA(h, &line, 7), MMSYSERR_INVALFLAG);

  MIXERLINE synth = Source(h, 0, 0);
  std::vector<MIXERCONTROL> room(1);
  MIXERLINECONTROLS lc;
  lc.dwLineID = synth.dwLineID;
  lc.cControls = 1;  // the line has two
  lc.pamxctrl = room.data();
  EXPECT_EQ(mixerGetLineControlsA(h, &lc, MIXER_GETLINECONTROLSF_ALL), MMSYSERR_INVALPARAM);
  lc.dwLineID = 12345;
  EXPECT_EQ(mixerGetLineControlsA(h, &lc, MIXER_GETLINECONTROLSF_ALL), MIXERR_INVALLINE);

  MIXERCONTROL volume = ControlOfType(h, synth, MIXERCONTROL_CONTROLTYPE_VOLUME);
  MIXERCONTROL mute = ControlOfType(h, synth, MIXERCONTROL_CONTROLTYPE_MUTE);
  std::int32_t v[8] = {};
  MIXERCONTROLDETAILS d;
  d.dwControlID = volume.dwControlID;
  d.cChannels = 3;  // neither 1 nor the line's 2
  d.cbDetails = 4;
  d.paDetails = v;
  EXPECT_EQ(mixerGetControlDetailsA(h, &d, MIXER_GETCONTROLDETAILSF_VALUE), MMSYSERR_INVALPARAM);
  d.cChannels = 2;
  d.cMultipleItems = 2;  // not a list
  EXPECT_EQ(mixerGetControlDetailsA(h, &d, MIXER_GETCONTROLDETAILSF_VALUE), MMSYSERR_INVALPARAM);
  d.cMultipleItems = 0;
  d.cbDetails = 2;
  EXPECT_EQ(mixerGetControlDetailsA(h, &d, MIXER_GETCONTROLDETAILSF_VALUE), MMSYSERR_INVALPARAM);
  EXPECT_EQ(mixerSetControlDetails(h, &d, MIXER_SETCONTROLDETAILSF_VALUE), MMSYSERR_INVALPARAM);
  d.cbDetails = 4;
  d.paDetails = nullptr;
  EXPECT_EQ(mixerSetControlDetails(h, &d, MIXER_SETCONTROLDETAILSF_VALUE), MMSYSERR_INVALPARAM);
  d.paDetails = v;
  d.dwControlID = 999;
  EXPECT_EQ(mixerGetControlDetailsA(h, &d, MIXER_GETCONTROLDETAILSF_VALUE), MIXERR_INVALCONTROL);
  d.dwControlID = mute.dwControlID;
  d.cChannels = 2;  // a uniform control takes one channel
  EXPECT_EQ(mixerSetControlDetails(h, &d, MIXER_SETCONTROLDETAILSF_VALUE), MMSYSERR_INVALPARAM);
  d.cChannels = 1;
  d.cbDetails = sizeof(MIXERCONTROLDETAILS_LISTTEXT);
  EXPECT_EQ(mixerGetControlDetailsA(h, &d, MIXER_GETCONTROLDETAILSF_LISTTEXT),
            MMSYSERR_INVALPARAM);  // a mute has no item names

  EXPECT_EQ(mixerClose(h), MMSYSERR_NOERROR);
  EXPECT_EQ(mixerClose(h), MMSYSERR_INVALHANDLE);
  line.dwDestination = 0;
  EXPECT_EQ(mixerGetLineInfoA(h, &line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(Write(h, volume.dwControlID, 1, {5}), MMSYSERR_INVALHANDLE);
  // Handles are not reused: a new one never revives a closed one.
  HMIXER again = OpenPlain(0);
  EXPECT_NE(again, h);
  mixerClose(again);
}

TEST(MixerValues, VolumesPerChannelAndForAllChannels) {
  ScopedMixerEnv env;
  HMIXER h = OpenPlain(0);
  MIXERCONTROL volume = ControlOfType(h, Source(h, 0, 1), MIXERCONTROL_CONTROLTYPE_VOLUME);
  ASSERT_EQ(Write(h, volume.dwControlID, 2, {1000, 2000}), MMSYSERR_NOERROR);
  EXPECT_EQ(Read(h, volume.dwControlID, 2), (std::vector<std::int32_t>{1000, 2000}));
  EXPECT_EQ(Read(h, volume.dwControlID, 1), (std::vector<std::int32_t>{1000}));
  ASSERT_EQ(Write(h, volume.dwControlID, 1, {3000}), MMSYSERR_NOERROR);
  EXPECT_EQ(Read(h, volume.dwControlID, 2), (std::vector<std::int32_t>{3000, 3000}));
  ASSERT_EQ(Write(h, volume.dwControlID, 2, {70000, -5}), MMSYSERR_NOERROR);
  EXPECT_EQ(Read(h, volume.dwControlID, 2), (std::vector<std::int32_t>{65535, 0}));

  MIXERCONTROL mute = ControlOfType(h, Source(h, 0, 1), MIXERCONTROL_CONTROLTYPE_MUTE);
  ASSERT_EQ(Write(h, mute.dwControlID, 1, {12800}), MMSYSERR_NOERROR);
  EXPECT_EQ(Read(h, mute.dwControlID, 1), (std::vector<std::int32_t>{1}));
  mixerClose(h);
}

TEST(MixerValues, RecordingListKeepsExactlyOneSelection) {
  ScopedMixerEnv env;
  HMIXER h = OpenPlain(0);
  MIXERCONTROL mux = ControlOfType(h, Destination(h, 1), MIXERCONTROL_CONTROLTYPE_MUX);
  DWORD n = mux.cMultipleItems;
  ASSERT_EQ(SelectRecording(h, 3), MMSYSERR_NOERROR);
  EXPECT_EQ(Read(h, mux.dwControlID, 1, n), (std::vector<std::int32_t>{0, 0, 0, 1, 0}));

  ASSERT_TRUE(mixerFlushState());
  std::string before = ReadText(env.file());
  EXPECT_EQ(Write(h, mux.dwControlID, 1, {0, 0, 0, 0, 0}, n), MIXERR_INVALVALUE);
  EXPECT_EQ(Write(h, mux.dwControlID, 1, {1, 0, 0, 0, 1}, n), MIXERR_INVALVALUE);
  EXPECT_EQ(Write(h, mux.dwControlID, 1, {0, 0, 0, 0}, n - 1), MMSYSERR_INVALPARAM);
  EXPECT_EQ(Read(h, mux.dwControlID, 1, n), (std::vector<std::int32_t>{0, 0, 0, 1, 0}));
  EXPECT_TRUE(mixerFlushState());
  EXPECT_EQ(ReadText(env.file()), before);  // a refused write changes nothing, on disk either

  // Any non-zero value selects.
  ASSERT_EQ(Write(h, mux.dwControlID, 1, {0, 12800, 0, 0, 0}, n), MMSYSERR_NOERROR);
  EXPECT_EQ(Read(h, mux.dwControlID, 1, n), (std::vector<std::int32_t>{0, 1, 0, 0, 0}));
  mixerClose(h);
}

TEST(MixerLevels, CardGainsFollowTheMixer) {
  ScopedMixerEnv env;
  HMIXER h = OpenPlain(0);
  MIXERLINE speakers = Destination(h, 0);
  auto set = [&](const MIXERLINE& line, DWORD type, std::vector<std::int32_t> v) {
    ASSERT_EQ(Write(h, ControlOfType(h, line, type).dwControlID, static_cast<DWORD>(v.size()), v),
              MMSYSERR_NOERROR);
  };
  set(speakers, MIXERCONTROL_CONTROLTYPE_VOLUME, {65535, 65535});
  set(Source(h, 0, 0), MIXERCONTROL_CONTROLTYPE_VOLUME, {16384, 16384});
  set(Source(h, 0, 1), MIXERCONTROL_CONTROLTYPE_VOLUME, {0, 32768});  // balance: the mean
  // The card's taper: unity at the factory 0xC000, 2.4 dB less for every halving.
  auto taper = [](double v) { return static_cast<float>(std::pow(v / 0xC000, 0.4)); };
  softcard::Levels l = mixerGetLevels();
  EXPECT_FLOAT_EQ(l.speakerMaster, taper(65535));
  EXPECT_GT(l.speakerMaster, 1.0f);  // above the factory setting the card amplifies
  EXPECT_FLOAT_EQ(l.speakerSynth, taper(16384));
  EXPECT_FLOAT_EQ(l.speakerWave, taper(16384));

  set(Source(h, 0, 0), MIXERCONTROL_CONTROLTYPE_MUTE, {1});
  set(speakers, MIXERCONTROL_CONTROLTYPE_MUTE, {1});
  l = mixerGetLevels();
  EXPECT_EQ(l.speakerSynth, 0.0f);
  EXPECT_EQ(l.speakerMaster, 0.0f);
  EXPECT_FLOAT_EQ(l.speakerWave, taper(16384));  // a mute of one line leaves the others

  set(Source(h, 1, 1), MIXERCONTROL_CONTROLTYPE_VOLUME, {6553, 6555});
  set(Destination(h, 1), MIXERCONTROL_CONTROLTYPE_VOLUME, {32768, 32768});
  ASSERT_EQ(SelectRecording(h, 1), MMSYSERR_NOERROR);
  l = mixerGetLevels();
  EXPECT_EQ(l.recordSource, softcard::Levels::RecordSource::Synth);
  EXPECT_FLOAT_EQ(l.recordLine, taper(6554));
  EXPECT_FLOAT_EQ(l.recordMaster, taper(32768));

  ASSERT_EQ(SelectRecording(h, 3), MMSYSERR_NOERROR);  // "Line In": nothing plays there
  EXPECT_EQ(mixerGetLevels().recordSource, softcard::Levels::RecordSource::Silent);
  mixerClose(h);
}

TEST(MixerLevels, OnlyTheCardsOwnDeviceDrivesTheSound) {
  ScopedMixerEnv env("quirks,standard");
  HMIXER quirks = OpenPlain(0);
  MIXERLINE playback = Destination(quirks, 0);
  ASSERT_EQ(
      Write(quirks, ControlOfType(quirks, playback, MIXERCONTROL_CONTROLTYPE_MUTE).dwControlID, 1,
            {1}),
      MMSYSERR_NOERROR);
  EXPECT_EQ(mixerGetLevels().speakerMaster, 1.0f);
  HMIXER card = OpenPlain(1);
  ASSERT_EQ(
      Write(card,
            ControlOfType(card, Destination(card, 0), MIXERCONTROL_CONTROLTYPE_MUTE).dwControlID, 1,
            {1}),
      MMSYSERR_NOERROR);
  EXPECT_EQ(mixerGetLevels().speakerMaster, 0.0f);
  mixerClose(quirks);
  mixerClose(card);
}

TEST(MixerStateFile, ValuesSurviveARestart) {
  ScopedMixerEnv env;
  HMIXER h = OpenPlain(0);
  MIXERCONTROL volume = ControlOfType(h, Source(h, 0, 2), MIXERCONTROL_CONTROLTYPE_VOLUME);
  ASSERT_EQ(Write(h, volume.dwControlID, 2, {123, 456}), MMSYSERR_NOERROR);
  ASSERT_EQ(SelectRecording(h, 4), MMSYSERR_NOERROR);
  ASSERT_TRUE(mixerFlushState());
  std::string text = ReadText(env.file());
  EXPECT_EQ(text.rfind("softcard-mixer-state 1\n", 0), 0u);
  EXPECT_NE(text.find("standard " + std::to_string(volume.dwControlID) + " 123 456\n"),
            std::string::npos);
  // No temporary files are left beside it.
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(env.dir())) {
    files += e.path().filename().string().find(".tmp") == std::string::npos ? 1 : 100;
  }
  EXPECT_EQ(files, 2);  // the state file and the lock file

  env.Restart();
  h = OpenPlain(0);
  EXPECT_EQ(Read(h, volume.dwControlID, 2), (std::vector<std::int32_t>{123, 456}));
  MIXERCONTROL mux = ControlOfType(h, Destination(h, 1), MIXERCONTROL_CONTROLTYPE_MUX);
  EXPECT_EQ(Read(h, mux.dwControlID, 1, 5), (std::vector<std::int32_t>{0, 0, 0, 0, 1}));
  mixerClose(h);
}

TEST(MixerStateFile, CorruptFileGivesFactoryValuesAndIsKeptUntilAChange) {
  ScopedMixerEnv env;
  std::filesystem::create_directories(env.dir());
  const std::string garbage = "\x01\x02 not a mixer state\nstandard 1 5 5\n";
  WriteText(env.file(), garbage);
  env.Restart();
  HMIXER h = OpenPlain(0);
  MIXERCONTROL volume = ControlOfType(h, Destination(h, 0), MIXERCONTROL_CONTROLTYPE_VOLUME);
  EXPECT_EQ(Read(h, volume.dwControlID, 2), (std::vector<std::int32_t>{49152, 49152}));
  EXPECT_EQ(ReadText(env.file()), garbage);  // reading never rewrites

  ASSERT_EQ(Write(h, volume.dwControlID, 2, {7, 8}), MMSYSERR_NOERROR);
  env.Restart();
  h = OpenPlain(0);
  EXPECT_EQ(Read(h, volume.dwControlID, 2), (std::vector<std::int32_t>{7, 8}));
  mixerClose(h);
}

TEST(MixerStateFile, BadLinesAreIgnoredOneByOne) {
  ScopedMixerEnv env;
  HMIXER h = OpenPlain(0);
  DWORD master = ControlOfType(h, Destination(h, 0), MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
  DWORD synth = ControlOfType(h, Source(h, 0, 0), MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
  DWORD wave = ControlOfType(h, Source(h, 0, 1), MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
  DWORD mute = ControlOfType(h, Source(h, 0, 1), MIXERCONTROL_CONTROLTYPE_MUTE).dwControlID;
  DWORD mux = ControlOfType(h, Destination(h, 1), MIXERCONTROL_CONTROLTYPE_MUX).dwControlID;
  mixerClose(h);
  // A line of the state file for control `id` of the standard device.
  auto line = [](DWORD id, const std::string& values) {
    return "standard " + std::to_string(id) + " " + values + "\n";
  };
  std::filesystem::create_directories(env.dir());
  WriteText(env.file(), "softcard-mixer-state 1\n# a comment\n" + line(master, "100 200") +
                            line(synth, "100") +       // one value short
                            line(wave, "100 70000") +  // out of range
                            line(mute, "2") +          // not 0 or 1
                            line(mux, "1 1 0 0 0") +   // two selected
                            line(9999, "1") +          // no such control
                            line(wave, "x 5"));
  env.Restart();
  h = OpenPlain(0);
  EXPECT_EQ(Read(h, master, 2), (std::vector<std::int32_t>{100, 200}));
  EXPECT_EQ(Read(h, synth, 2), (std::vector<std::int32_t>{49152, 49152}));
  EXPECT_EQ(Read(h, wave, 2), (std::vector<std::int32_t>{49152, 49152}));
  EXPECT_EQ(Read(h, mute, 1), (std::vector<std::int32_t>{0}));
  EXPECT_EQ(Read(h, mux, 1, 5), (std::vector<std::int32_t>{1, 0, 0, 0, 0}));
  mixerClose(h);
}

TEST(MixerStateFile, DevicesOfOtherTopologiesAreKept) {
  ScopedMixerEnv env("quirks");
  HMIXER h = OpenPlain(0);
  DWORD mono = ControlOfType(h, Source(h, 0, 0), MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
  ASSERT_EQ(Write(h, mono, 1, {4321}), MMSYSERR_NOERROR);
  mixerClose(h);

  env.Use(env.dir(), "standard");
  h = OpenPlain(0);
  ASSERT_EQ(Write(h, ControlOfType(h, Destination(h, 0), MIXERCONTROL_CONTROLTYPE_MUTE).dwControlID,
                  1, {1}),
            MMSYSERR_NOERROR);
  mixerClose(h);

  env.Use(env.dir(), "quirks");
  h = OpenPlain(0);
  EXPECT_EQ(Read(h, mono, 1), (std::vector<std::int32_t>{4321}));
  mixerClose(h);
}

TEST(MixerStateFile, UnwritableFolderKeepsValuesInMemory) {
  ScopedMixerEnv env;
  // A folder below a plain file cannot be made, not even by root.
  WriteText(env.root() + "/plain", "x");
  env.Use(env.root() + "/plain/state", "standard");
  HMIXER h = OpenPlain(0);
  DWORD volume = ControlOfType(h, Source(h, 0, 0), MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
  testing::internal::CaptureStderr();
  EXPECT_EQ(Write(h, volume, 2, {11, 22}), MMSYSERR_NOERROR);
  EXPECT_FALSE(mixerFlushState());
  EXPECT_EQ(Write(h, volume, 2, {33, 44}), MMSYSERR_NOERROR);
  EXPECT_FALSE(mixerFlushState());
  std::string warning = testing::internal::GetCapturedStderr();
  EXPECT_NE(warning.find("cannot save the mixer state"), std::string::npos);
  EXPECT_EQ(warning.find("cannot save", warning.find("cannot save") + 1), std::string::npos)
      << "the warning is given once";
  EXPECT_EQ(Read(h, volume, 2), (std::vector<std::int32_t>{33, 44}));
  EXPECT_EQ(ReadText(env.root() + "/plain"), "x");
  mixerClose(h);
}

TEST(MixerStateFile, ChangesOfAnotherProcessAreSeenAndNotified) {
  ScopedMixerEnv env;
  std::vector<TMessage> got;
  HWND wnd = AllocateHWnd([&](TMessage& m) { got.push_back(m); });
  HMIXER h = 0;
  ASSERT_EQ(mixerOpen(&h, 0, wnd, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  DWORD synth = ControlOfType(h, Source(h, 0, 0), MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
  ASSERT_EQ(Write(h, synth, 2, {1, 2}), MMSYSERR_NOERROR);
  ASSERT_TRUE(mixerFlushState());
  ProcessMessages();
  got.clear();

  std::string text = ReadText(env.file());
  std::string from = "standard " + std::to_string(synth) + " 1 2\n";
  std::string to = "standard " + std::to_string(synth) + " 555 666\n";
  text.replace(text.find(from), from.size(), to);
  WriteText(env.file() + ".other", text);
  std::filesystem::rename(env.file() + ".other", env.file());

  EXPECT_EQ(Read(h, synth, 2), (std::vector<std::int32_t>{555, 666}));
  ProcessMessages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Msg, MM_MIXM_CONTROL_CHANGE);
  EXPECT_EQ(got[0].WParam, h);
  EXPECT_EQ(static_cast<DWORD>(got[0].LParam), synth);

  // A state file deleted by hand puts the factory values back.
  std::filesystem::remove(env.file());
  EXPECT_EQ(Read(h, synth, 2), (std::vector<std::int32_t>{49152, 49152}));
  mixerClose(h);
  DeallocateHWnd(wnd);
}

TEST(MixerStateFile, ValueWrittenByOneProcessIsReadByAnother) {
  ScopedMixerEnv env;
  HMIXER h = OpenPlain(0);
  DWORD wave = ControlOfType(h, Source(h, 0, 1), MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
  EXPECT_EQ(Read(h, wave, 2), (std::vector<std::int32_t>{49152, 49152}));

  ASSERT_EQ(RunChild({"write", std::to_string(wave), "2024", "4048"}), 0);
  EXPECT_EQ(Read(h, wave, 2), (std::vector<std::int32_t>{2024, 4048}));

  ASSERT_EQ(Write(h, wave, 2, {77, 88}), MMSYSERR_NOERROR);
  EXPECT_EQ(RunChild({"expect", std::to_string(wave), "77", "88"}), 0);
  EXPECT_EQ(RunChild({"expect", std::to_string(wave), "1", "2"}), 1);  // the check can fail
  mixerClose(h);
}

TEST(MixerStateFile, WritersInTwoProcessesLoseNoChange) {
  ScopedMixerEnv env;
  HMIXER h = OpenPlain(0);
  DWORD wave = ControlOfType(h, Source(h, 0, 1), MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
  DWORD cd = ControlOfType(h, Source(h, 0, 2), MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
  // The child writes cd 200 times while this process writes wave 200 times.
  const pid_t pid = StartChild({"count", std::to_string(cd), "200"});
  ASSERT_GT(pid, 0);
  for (int i = 1; i <= 200; ++i) ASSERT_EQ(Write(h, wave, 1, {i}), MMSYSERR_NOERROR);
  ASSERT_EQ(WaitChild(pid), 0);
  env.Restart();
  h = OpenPlain(0);
  EXPECT_EQ(Read(h, wave, 2), (std::vector<std::int32_t>{200, 200}));
  EXPECT_EQ(Read(h, cd, 2), (std::vector<std::int32_t>{200, 200}));
  mixerClose(h);
}

// Counts the state files put in place in `dir` (each write renames a new file over the old one).
class StateWrites {
 public:
  explicit StateWrites(const std::string& dir)
      : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
        watch_(inotify_add_watch(fd_, dir.c_str(), IN_MOVED_TO)) {}
  ~StateWrites() { ::close(fd_); }
  StateWrites(const StateWrites&) = delete;
  StateWrites& operator=(const StateWrites&) = delete;

  bool ok() const { return fd_ >= 0 && watch_ >= 0; }
  // The writes seen so far, waiting up to `wait` for the first one when none came yet.
  int Count(std::chrono::milliseconds wait = std::chrono::milliseconds(0)) {
    pollfd p{fd_, POLLIN, 0};
    if (count_ == 0) ::poll(&p, 1, static_cast<int>(wait.count()));
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;) {
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
        if (e->len && std::string(e->name) == "mixer.state") ++count_;
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
    }
    return count_;
  }

 private:
  int fd_;
  int watch_;
  int count_ = 0;
};

TEST(MixerStateFile, ChangesAreWrittenTogetherAndSoon) {
  ScopedMixerEnv env;
  std::filesystem::create_directories(env.dir());
  StateWrites writes(env.dir());
  ASSERT_TRUE(writes.ok());
  HMIXER h = OpenPlain(0);
  DWORD wave = ControlOfType(h, Source(h, 0, 1), MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
  // As a settings file of thousands of lines applies them.
  for (int i = 1; i <= 2000; ++i) ASSERT_EQ(Write(h, wave, 1, {i}), MMSYSERR_NOERROR);
  ASSERT_TRUE(mixerFlushState());
  EXPECT_LE(writes.Count(), 25);
  EXPECT_NE(ReadText(env.file()).find(" " + std::to_string(wave) + " 2000 2000\n"),
            std::string::npos);

  // A single change reaches the file by itself.
  StateWrites later(env.dir());
  ASSERT_EQ(Write(h, wave, 1, {7}), MMSYSERR_NOERROR);
  EXPECT_EQ(later.Count(std::chrono::seconds(20)), 1);
  EXPECT_NE(ReadText(env.file()).find(" " + std::to_string(wave) + " 7 7\n"), std::string::npos);
  mixerClose(h);
}

TEST(MixerStateFile, PendingChangesAreWrittenBeforeAnotherProgramStarts) {
  ScopedMixerEnv env;
  HMIXER h = OpenPlain(0);
  DWORD cd = ControlOfType(h, Source(h, 0, 2), MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
  std::string seen;
  SetShellHook([&](const ShellRequest&) -> std::intptr_t {
    seen = ReadText(env.file());
    return 42;
  });
  ASSERT_EQ(Write(h, cd, 2, {321, 654}), MMSYSERR_NOERROR);
  EXPECT_GT(ShellExecuteA(0, nullptr, "/bin/true", nullptr, nullptr, SW_SHOWNORMAL), 32);
  SetShellHook({});
  EXPECT_NE(seen.find(" " + std::to_string(cd) + " 321 654\n"), std::string::npos);
  mixerClose(h);
}

TEST(MixerStateFile, FilesThatAreNotStateFilesAreNeitherReadNorReplaced) {
  ScopedMixerEnv env;
  HMIXER h = OpenPlain(0);
  DWORD wave = ControlOfType(h, Source(h, 0, 1), MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
  mixerClose(h);
  std::filesystem::create_directories(env.dir());
  const std::string line = "standard " + std::to_string(wave) + " 5 5\n";

  // Opening a FIFO to read it would wait for a writer for ever. Any reader that does so is seen
  // here, and set free.
  ASSERT_EQ(::mkfifo(env.file().c_str(), 0644), 0);
  std::atomic<bool> done{false}, blockedReader{false};
  std::thread watcher([&] {
    while (!done) {
      const int fd = ::open(env.file().c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        blockedReader = true;
        ::close(fd);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  const std::string big = "softcard-mixer-state 1\n" + line + std::string(1100000, '#') + "\n";
  for (const bool fifo : {true, false}) {
    if (!fifo) {
      done = true;
      watcher.join();
      std::filesystem::remove(env.file());
      WriteText(env.file(), big);
    }
    testing::internal::CaptureStderr();
    env.Restart();
    h = OpenPlain(0);
    EXPECT_EQ(Read(h, wave, 2), (std::vector<std::int32_t>{49152, 49152})) << fifo;
    ASSERT_EQ(Write(h, wave, 2, {9, 9}), MMSYSERR_NOERROR);
    EXPECT_FALSE(mixerFlushState());
    EXPECT_EQ(Read(h, wave, 2), (std::vector<std::int32_t>{9, 9}));  // kept in memory
    ASSERT_EQ(Write(h, wave, 2, {10, 10}), MMSYSERR_NOERROR);
    EXPECT_FALSE(mixerFlushState());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(env.file()), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << "said once: " << said;
    EXPECT_EQ(std::filesystem::is_fifo(env.file()), fifo);
    if (!fifo) {
      EXPECT_EQ(ReadText(env.file()), big);
    }
    mixerClose(h);
  }
  EXPECT_FALSE(blockedReader);
}

TEST(MixerStateFile, ALockHeldElsewhereDelaysTheWriteButNeverTheMixer) {
  ScopedMixerEnv env;
  HMIXER h = OpenPlain(0);
  DWORD wave = ControlOfType(h, Source(h, 0, 1), MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
  DWORD mute = ControlOfType(h, Destination(h, 0), MIXERCONTROL_CONTROLTYPE_MUTE).dwControlID;
  const std::string held = env.root() + "/held";
  const pid_t holder = StartChild({"hold", env.dir(), held});
  ASSERT_GT(holder, 0);
  for (int i = 0; i < 2000 && !std::filesystem::exists(held); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(std::filesystem::exists(held));

  testing::internal::CaptureStderr();
  ASSERT_EQ(Write(h, wave, 2, {1234, 1234}), MMSYSERR_NOERROR);
  // The holder lets go only when it ends (after half a minute): the write did not wait for it.
  EXPECT_EQ(::waitpid(holder, nullptr, WNOHANG), 0);

  // While a write waits for the lock, the mixer and the card's levels stay at hand.
  std::atomic<bool> flushing{true};
  bool flushed = true;
  std::thread writer([&] {
    flushed = mixerFlushState();
    flushing = false;
  });
  int answered = 0;
  for (int i = 0; flushing; ++i) {
    ASSERT_EQ(Write(h, mute, 1, {i % 2}), MMSYSERR_NOERROR);
    EXPECT_EQ(mixerGetLevels().speakerMaster, i % 2 ? 0.0f : 1.0f);
    if (flushing) ++answered;
  }
  writer.join();
  EXPECT_FALSE(flushed);
  EXPECT_GT(answered, 10);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("holds its lock"), std::string::npos);
  EXPECT_EQ(ReadText(env.file()).find(" 1234 1234\n"), std::string::npos);

  ::kill(holder, SIGKILL);
  WaitChild(holder);
  EXPECT_TRUE(mixerFlushState());
  EXPECT_NE(ReadText(env.file()).find(" " + std::to_string(wave) + " 1234 1234\n"),
            std::string::npos);
  mixerClose(h);
}

TEST(MixerStateFile, ALockThatIsAFolderIsReportedAndTheStateStillSaved) {
  ScopedMixerEnv env;
  std::filesystem::create_directories(env.dir() + "/mixer.state.lock");
  HMIXER h = OpenPlain(0);
  DWORD wave = ControlOfType(h, Source(h, 0, 1), MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
  testing::internal::CaptureStderr();
  ASSERT_EQ(Write(h, wave, 2, {4321, 4321}), MMSYSERR_NOERROR);
  EXPECT_TRUE(mixerFlushState());
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("cannot lock the mixer state"), std::string::npos) << said;
  EXPECT_NE(ReadText(env.file()).find(" 4321 4321\n"), std::string::npos);
  mixerClose(h);
}

TEST(MixerNotify, OneNotificationPerChangeForEveryNotifyingHandle) {
  ScopedMixerEnv env;
  std::vector<TMessage> first, second;
  HWND w1 = AllocateHWnd([&](TMessage& m) { first.push_back(m); });
  HWND w2 = AllocateHWnd([&](TMessage& m) { second.push_back(m); });
  HMIXER a = 0, b = 0;
  ASSERT_EQ(mixerOpen(&a, 0, w1, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  ASSERT_EQ(mixerOpen(&b, 0, w2, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  HMIXER quiet = OpenPlain(0);
  DWORD mute = ControlOfType(quiet, Source(quiet, 0, 3), MIXERCONTROL_CONTROLTYPE_MUTE).dwControlID;

  ASSERT_EQ(Write(quiet, mute, 1, {1}), MMSYSERR_NOERROR);
  EXPECT_TRUE(first.empty());  // queued for the GUI thread's next message processing
  ProcessMessages();
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(first[0].Msg, MM_MIXM_CONTROL_CHANGE);
  EXPECT_EQ(first[0].WParam, a);
  EXPECT_EQ(second[0].WParam, b);
  EXPECT_EQ(static_cast<DWORD>(first[0].LParam), mute);

  // A refused write notifies nobody; a closed handle and a gone window hear nothing more.
  MIXERCONTROL mux = ControlOfType(quiet, Destination(quiet, 1), MIXERCONTROL_CONTROLTYPE_MUX);
  EXPECT_EQ(Write(quiet, mux.dwControlID, 1, {0, 0, 0, 0, 0}, 5), MIXERR_INVALVALUE);
  mixerClose(b);
  ASSERT_EQ(Write(quiet, mute, 1, {0}), MMSYSERR_NOERROR);
  DeallocateHWnd(w1);
  ProcessMessages();
  EXPECT_EQ(first.size(), 1u);
  EXPECT_EQ(second.size(), 1u);

  mixerRaiseLineChangeForTesting(0, 42);
  ProcessMessages();
  EXPECT_EQ(first.size(), 1u);
  mixerClose(a);
  mixerClose(quiet);
  DeallocateHWnd(w2);
}

TEST(MixerNotify, LineChangesReachTheWindow) {
  ScopedMixerEnv env;
  std::vector<TMessage> got;
  HWND wnd = AllocateHWnd([&](TMessage& m) { got.push_back(m); });
  HMIXER h = 0;
  ASSERT_EQ(mixerOpen(&h, 0, wnd, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  DWORD line = Source(h, 0, 2).dwLineID;
  mixerRaiseLineChangeForTesting(0, line);
  ProcessMessages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Msg, MM_MIXM_LINE_CHANGE);
  EXPECT_EQ(got[0].WParam, h);
  EXPECT_EQ(static_cast<DWORD>(got[0].LParam), line);
  mixerClose(h);
  DeallocateHWnd(wnd);
}

// The second process of the cross-process tests: "write ID L R" sets a stereo volume, "expect ID
// L R" exits 0 when it reads those values and 1 otherwise, "count ID N" writes 1..N, "hold DIR
// MARK" holds the lock of state folder DIR for half a minute, making file MARK once it has it.
static int ChildMain(int argc, char** argv) {
  if (argc < 5) return 3;
  if (std::string(argv[2]) == "hold") {
    std::filesystem::create_directories(argv[3]);
    const int fd =
        ::open((std::string(argv[3]) + "/mixer.state.lock").c_str(), O_RDWR | O_CREAT, 0644);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) return 4;
    WriteText(argv[4], "held");
    ::sleep(30);
    return 0;
  }
  std::string what = argv[2];
  DWORD id = static_cast<DWORD>(std::stoul(argv[3]));
  HMIXER h = 0;
  if (mixerOpen(&h, 0, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return 4;
  if (what == "count") {
    int n = std::stoi(argv[4]);
    for (int i = 1; i <= n; ++i) {
      if (Write(h, id, 1, {i}) != MMSYSERR_NOERROR) return 5;
    }
    return 0;
  }
  if (argc < 6) return 3;
  std::int32_t v[2] = {std::stoi(argv[4]), std::stoi(argv[5])};
  if (what == "write") return Write(h, id, 2, {v[0], v[1]}) == MMSYSERR_NOERROR ? 0 : 5;
  std::int32_t got[2] = {-1, -1};
  MIXERCONTROLDETAILS d = ValueDetails(id, 2, 0, got);
  if (mixerGetControlDetailsA(h, &d, MIXER_GETCONTROLDETAILSF_VALUE) != MMSYSERR_NOERROR) return 5;
  return got[0] == v[0] && got[1] == v[1] ? 0 : 1;
}

int main(int argc, char** argv) { return MainWithChild(argc, argv, ChildMain); }
