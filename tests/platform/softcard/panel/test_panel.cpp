// The card's mixer panel against a second process: what the user sets in the panel's window is
// what another program reads, and what another program sets shows in the panel.

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/softcard/mixer/MixerApi.h"
#include "platform/softcard/panel/Panel.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"

namespace {

using namespace platform;

// The values of the first control of `type` of a line (source -1: the destination line itself) of
// an open device, and the control's record; empty values when the line or control is missing.
std::vector<std::int32_t> Values(HMIXER h, DWORD dest, int source, DWORD type,
                                 MIXERCONTROL* found = nullptr) {
  MIXERLINE line;
  line.dwDestination = dest;
  line.dwSource = source < 0 ? 0 : static_cast<DWORD>(source);
  if (mixerGetLineInfoA(h, &line,
                        source < 0 ? MIXER_GETLINEINFOF_DESTINATION : MIXER_GETLINEINFOF_SOURCE) !=
      MMSYSERR_NOERROR)
    return {};
  std::vector<MIXERCONTROL> controls(line.cControls);
  MIXERLINECONTROLS query;
  query.dwLineID = line.dwLineID;
  query.cControls = line.cControls;
  query.pamxctrl = controls.data();
  if (mixerGetLineControlsA(h, &query, MIXER_GETLINECONTROLSF_ALL) != MMSYSERR_NOERROR) return {};
  for (const MIXERCONTROL& c : controls) {
    if (c.dwControlType != type) continue;
    const DWORD channels = (c.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : line.cChannels;
    std::vector<std::int32_t> values(channels * (c.cMultipleItems ? c.cMultipleItems : 1));
    MIXERCONTROLDETAILS d;
    d.dwControlID = c.dwControlID;
    d.cChannels = channels;
    d.cMultipleItems = c.cMultipleItems;
    d.cbDetails = sizeof(std::int32_t);
    d.paDetails = values.data();
    if (mixerGetControlDetailsA(h, &d, MIXER_GETCONTROLDETAILSF_VALUE) != MMSYSERR_NOERROR)
      return {};
    if (found) *found = c;
    return values;
  }
  return {};
}

bool SetValues(HMIXER h, DWORD dest, int source, DWORD type, std::vector<std::int32_t> values) {
  MIXERCONTROL control;
  const std::vector<std::int32_t> old = Values(h, dest, source, type, &control);
  if (old.size() != values.size()) return false;
  MIXERCONTROLDETAILS d;
  d.dwControlID = control.dwControlID;
  d.cChannels =
      static_cast<DWORD>(values.size() / (control.cMultipleItems ? control.cMultipleItems : 1));
  d.cMultipleItems = control.cMultipleItems;
  d.cbDetails = sizeof(std::int32_t);
  d.paDetails = values.data();
  return mixerSetControlDetails(h, &d, MIXER_SETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
}

HMIXER Open(UINT device) {
  HMIXER h = 0;
  mixerOpen(&h, device, 0, 0, CALLBACK_NULL);
  return h;
}

std::vector<std::int32_t> Selection(std::size_t items, std::size_t selected) {
  std::vector<std::int32_t> values(items, 0);
  values[selected] = 1;
  return values;
}

// The second process: "check" exits 0 when the mixer holds what the panel set; "set" makes changes
// of its own, and "check-set" exits 0 when the mixer still holds them.
int Child(const char* what) {
  const HMIXER standard = Open(0), test = Open(1);
  if (std::strcmp(what, "check") == 0) {
    const bool ok =
        Values(test, 0, -1, MIXERCONTROL_CONTROLTYPE_VOLUME) ==
            std::vector<std::int32_t>{12345, 23456} &&
        Values(standard, 0, 0, MIXERCONTROL_CONTROLTYPE_MUTE) == std::vector<std::int32_t>{1} &&
        Values(standard, 1, -1, MIXERCONTROL_CONTROLTYPE_MUX) == Selection(5, 3);
    return ok ? 0 : 1;
  }
  const bool check = std::strcmp(what, "check-set") == 0;
  auto have = [&](HMIXER h, DWORD dest, int source, DWORD type, std::vector<std::int32_t> values) {
    return check ? Values(h, dest, source, type) == values
                 : SetValues(h, dest, source, type, values);
  };
  const bool ok = have(standard, 0, 1, MIXERCONTROL_CONTROLTYPE_VOLUME, {777, 888}) &&
                  have(standard, 1, -1, MIXERCONTROL_CONTROLTYPE_MUX, Selection(5, 4)) &&
                  have(test, 0, 0, MIXERCONTROL_CONTROLTYPE_MUTE, {1});
  return ok ? 0 : 1;
}

// Runs `Child(what)` in a second process; true when it ended with status 0.
bool RunChild(const char* what) { return tw_test::Run({"/proc/self/exe", "--panel-child", what}); }

template <typename T>
T* Control(QWidget& panel, const char* name) {
  T* control = panel.findChild<T*>(QString::fromLatin1(name));
  if (!control) qWarning("no control %s", name);
  return control;
}

}  // namespace

class PanelTest : public QObject {
  Q_OBJECT

 private slots:
  void opensTheTabItIsAskedFor();
  void sharesTheMixerWithOtherProcesses();
};

void PanelTest::opensTheTabItIsAskedFor() {
  QCOMPARE(platform::softcard::PanelTabOfArguments({}), 0);
  QCOMPARE(platform::softcard::PanelTabOfArguments({"mmsys.cpl,,0"}), 0);
  QCOMPARE(platform::softcard::PanelTabOfArguments({"mmsys.cpl,,1"}), 1);
  platform::softcard::TPanelWindow panel(1);
  const QList<QTabWidget*> devices = panel.findChildren<QTabWidget*>();
  QCOMPARE(devices.size(), 2);
  for (QTabWidget* tabs : devices) QCOMPARE(tabs->currentIndex(), 1);
  QCOMPARE(devices[0]->tabText(1), QString("Recording Control"));
  QVERIFY(devices[1]->count() > devices[0]->count());
}

void PanelTest::sharesTheMixerWithOtherProcesses() {
  platform::softcard::TPanelWindow panel(0);
  panel.show();
  auto* left = Control<QSlider>(panel, "1/0/-1/left");
  auto* right = Control<QSlider>(panel, "1/0/-1/right");
  auto* mute = Control<QCheckBox>(panel, "0/0/0/mute");
  auto* lineIn = Control<QAbstractButton>(panel, "0/1/select/3");
  QVERIFY(left && right && mute && lineIn);
  QVERIFY(Control<QSlider>(panel, "1/0/0/right") == nullptr);  // the test device's mono line
  left->setValue(12345);
  right->setValue(23456);
  mute->click();
  lineIn->click();
  QTRY_VERIFY(RunChild("check"));

  auto* wave = Control<QSlider>(panel, "0/0/1/left");
  auto* waveRight = Control<QSlider>(panel, "0/0/1/right");
  auto* microphone = Control<QAbstractButton>(panel, "0/1/select/4");
  auto* monoMute = Control<QCheckBox>(panel, "1/0/0/mute");
  QVERIFY(wave && waveRight && microphone && monoMute);
  QVERIFY(RunChild("set"));
  QTRY_COMPARE(wave->value(), 777);
  QTRY_COMPARE(waveRight->value(), 888);
  QTRY_VERIFY(microphone->isChecked());
  QVERIFY(!lineIn->isChecked());
  QTRY_VERIFY(monoMute->isChecked());
  // Showing another program's change writes nothing back.
  QVERIFY(RunChild("check-set"));
}

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--panel-child") == 0) return Child(argv[2]);
  // A mixer of the test's own, with two devices of different shapes.
  const tw_test::TempDir state("tw-panel-");
  ::setenv("SOFTCARD_STATE_DIR", state.Path().c_str(), 1);
  ::setenv("SOFTCARD_TOPOLOGY", "standard,quirks", 1);
  QApplication app(argc, argv);
  PanelTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "test_panel.moc"
