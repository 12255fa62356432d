#pragma once
// The mixer settings window: a mini mixer that shows and sets one line of one mixer device at a
// time (device, destination, line, volume bar, mute or selection box), named presets (Save, Load,
// Del over the ".set" files of the program folder), "Reset from init" (the user's volumes taken at
// start-up come back) and "Display volume control" (the card's own mixer panel).
//
// Every mixer access goes through the main window's Mixer. The shown line is the triple (device =
// ComboBox3's item, destination = ComboBox1's item, source line = ComboBox2's item - 1, item 0
// being the destination line itself); whoever walks Mixer over other devices puts it back on the
// shown device afterwards (ReturnMixerToShownDevice), so that the next write of the bar or the box
// goes to the line the window shows.
//
// What the window shows of a line always comes from reading it: after every write of the bar or
// the box the line is read again, so a value the card refused is not shown as set. `cb1` (never
// visible) is checked while the window itself moves the bar or the box, so that their handlers
// write nothing then.
//
// GUI thread only.

#include <QString>
#include <QWidget>
#include <cstdint>

#include "ui_Unit3.h"

class QEvent;

class TForm3 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm3(QWidget* parent = nullptr);
  ~TForm3() override;
  TForm3(const TForm3&) = delete;
  TForm3& operator=(const TForm3&) = delete;

  Ui::TForm3 ui;

  // Handlers.
  void FormCreate();  // at creation and on "R"
  void FormActivate();
  void ComboBox3Change();  // device chosen
  void ComboBox3Click();
  void ComboBox1Change();  // destination chosen
  void ComboBox2Enter();
  void ComboBox2Change();  // line chosen; the refresh of the shown line
  void TrackBarChange();
  void CheckBox3Click();
  void JvXPButton1Click();  // Save
  void JvXPButton2Click();  // Load
  void JvXPButton3Click();  // Reset from init
  void JvXPButton4Click();  // Del
  void JvXPButton5Click();  // Display volume control

  // Clears the line list, lists the shown destination's own line and its source lines, and shows
  // the first.
  void RefillLines();
  // Puts the main window's Mixer back on the device the window shows, after a walk over several
  // devices, and shows the shown line's values again (without writing them).
  void ReturnMixerToShownDevice();
  // The device the window shows, -1 when none.
  int ShownDevice() const { return ui.ComboBox3->ItemIndex(); }

  // The refusal of Save, in the language of the main window's language list (0..4).
  static QString OtherNameText(int languageIndex);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  // What the window shows of the shown line, as last read.
  struct ShownLine {
    bool read = false;  // false: nothing read yet; the bar and the box show nothing
    std::int32_t left = -1, right = -1, mute = -1;
    bool stereo = false, volDisabled = true, muteDisabled = true;
  };

  // Visibility of the bar and the box with their labels, the channel label, the bar's position and
  // the box's state, from shownLine_; the bar and the box are set under cb1.
  void Stabilize();
  // Reads the shown line into shownLine_ and shows it; false when the line cannot be read.
  bool ReadShownLine();
  // Writes `left` to both channels (or the shown right channel, keepBalance) and the box's state.
  void WriteShownLine(bool keepBalance);
  void ListPresets();
  void CopyHint(TComboBox* list);

  ShownLine shownLine_;
  bool noMixer_ = false;  // no mixer device: the mixer part of the window does nothing
};

// The mixer settings window of the running program, while it exists.
extern TForm3* Form3;
