#pragma once
// The card's own mixer panel: every mixer device (its product name), one tab per destination, and
// per line its name, a volume slider (left and right when the line is stereo), its mute box and,
// on a destination that selects one recording source at a time, one radio button per item.
//
// The panel works through the mixer calls only: it never starts the card or its synthesiser, so
// what it sets is what every other program sees, and it reads every control again four times a
// second, so it follows the changes other programs make. The only Qt code of the platform layer.
//
// Controls are named "device/destination/line/what" (line -1 for the destination line itself;
// what: left, right, mute, or select/N for item N of a selection list), for tests and tools.

#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "platform/softcard/mixer/MixerApi.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QGridLayout;
class QSlider;
class QTabWidget;

namespace platform::softcard {

class TPanelWindow : public QWidget {
  Q_OBJECT
 public:
  // `tab` 0 opens every device on its playback tab, 1 on its recording tab.
  explicit TPanelWindow(int tab, QWidget* parent = nullptr);
  ~TPanelWindow() override;
  TPanelWindow(const TPanelWindow&) = delete;
  TPanelWindow& operator=(const TPanelWindow&) = delete;

  // Reads every control and shows what it holds, without writing anything.
  void Refresh();

  // How often the panel reads the mixer again.
  static constexpr int kPollMs = 250;

 private:
  // One control shown by widgets: a volume (one or two sliders), a mute box, or a selection list
  // (one radio button per item, in a group that keeps one checked).
  struct Binding {
    platform::HMIXER mixer = 0;
    platform::DWORD control = 0;
    platform::DWORD channels = 1;  // values per item: 1 for a uniform control
    platform::DWORD items = 0;     // list items, 0 for a plain control
    std::vector<QSlider*> sliders;
    QCheckBox* mute = nullptr;
    QButtonGroup* group = nullptr;
  };

  void AddDevice(platform::UINT device, QWidget* parent, int tab);
  QWidget* DestinationPage(int device, platform::HMIXER mixer, const platform::MIXERLINE& dest);
  // The controls of `line` in column `column` of `grid`, named after `prefix`.
  void AddLine(platform::HMIXER mixer, const platform::MIXERLINE& line, const QString& prefix,
               QGridLayout* grid, int column);
  // The detail record for the values of b's control, in `values` (sized to them).
  static platform::MIXERCONTROLDETAILS Details(const Binding& b, std::vector<std::int32_t>& values);
  std::vector<std::int32_t> Read(const Binding& b) const;
  void Write(const Binding& b, std::vector<std::int32_t> values);
  void SliderMoved(std::size_t binding, std::size_t channel, int value);

  std::vector<platform::HMIXER> handles_;
  std::vector<Binding> bindings_;
  QTimer poll_;
};

// The tab to open for the panel's arguments: "mmsys.cpl,,1" the recording tab; nothing,
// "mmsys.cpl,,0" or anything else the playback tab.
int PanelTabOfArguments(const QStringList& arguments);

}  // namespace platform::softcard
