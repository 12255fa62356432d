#include "converter/Unit3.h"

#include <QColor>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QPalette>

#include "converter/MixerSettings.h"
#include "converter/ProgramFolder.h"
#include "converter/Unit1.h"
#include "mixer/AMixer.h"
#include "platform/system/Files.h"
#include "platform/system/Shell.h"
#include "widgets/Toolkit.h"

TForm3* Form3 = nullptr;

namespace {

QString Name(const char* text, std::size_t size) {
  return QString::fromUtf8(text, static_cast<qsizetype>(strnlen(text, size)));
}

TAudioMixer& MainMixer() { return *Form1->Mixer; }

// Runs `body`, then `after` whether or not `body` raised (the failure goes on to the caller).
template <typename Body, typename After>
void ThenAlways(Body body, After after) {
  try {
    body();
  } catch (...) {
    after();
    throw;
  }
  after();
}

}  // namespace

TForm3::TForm3(QWidget* parent) : QWidget(parent) {
  ui.setupUi(this);
  Form3 = this;
  QPalette grey = palette();
  grey.setColor(QPalette::Window, QColor(212, 208, 200));
  setPalette(grey);
  setAutoFillBackground(true);
  ui.cb1->hide();
  // Device, destination and line names come from the card, preset names from the user, and any of
  // them can be long: the lists keep their layout's width and show a long name's start.
  for (TComboBox* list : {ui.ComboBox3, ui.ComboBox1, ui.ComboBox2, ui.ComboBox4})
    list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  ui.ComboBox4->addItem("Presets");
  ui.ComboBox4->SetItemIndex(0);

  ui.ComboBox3->OnClick = [this] { Guarded([this] { ComboBox3Click(); }); };
  ui.ComboBox3->OnChange = [this] { Guarded([this] { ComboBox3Change(); }); };
  ui.ComboBox1->OnChange = [this] { Guarded([this] { ComboBox1Change(); }); };
  ui.ComboBox2->OnEnter = [this] { Guarded([this] { ComboBox2Enter(); }); };
  ui.ComboBox2->OnChange = [this] { Guarded([this] { ComboBox2Change(); }); };
  ui.TrackBar->OnChange = [this] { Guarded([this] { TrackBarChange(); }); };
  ui.CheckBox3->OnClick = [this] { Guarded([this] { CheckBox3Click(); }); };
  BindClick(this, ui.JvXPButton1, &TForm3::JvXPButton1Click);
  BindClick(this, ui.JvXPButton2, &TForm3::JvXPButton2Click);
  BindClick(this, ui.JvXPButton3, &TForm3::JvXPButton3Click);
  BindClick(this, ui.JvXPButton4, &TForm3::JvXPButton4Click);
  BindClick(this, ui.JvXPButton5, &TForm3::JvXPButton5Click);
  BindClick(this, ui.JvXPButton6, &TForm3::FormCreate);

  Guarded([this] { FormCreate(); });
}

TForm3::~TForm3() {
  if (Form3 == this) Form3 = nullptr;
}

void TForm3::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow())
    Guarded([this] { FormActivate(); });
}

// ---------------------------------------------------------------------------------------------
// Showing a line

void TForm3::Stabilize() {
  const bool wasBusy = ui.cb1->Checked();
  ui.cb1->SetChecked(true);
  const ShownLine& line = shownLine_;
  ui.TrackBar->setVisible(line.read && !line.volDisabled);
  ui.Label1->setVisible(line.read && !line.volDisabled);
  ui.Label5->setVisible(line.read && line.volDisabled);
  if (line.read && !line.volDisabled) ui.TrackBar->SetPosition(line.left);
  ui.CheckBox3->setVisible(line.read && !line.muteDisabled);
  ui.Label2->setVisible(line.read && !line.muteDisabled);
  ui.Label4->setVisible(line.read && line.muteDisabled);
  if (line.read && !line.muteDisabled) ui.CheckBox3->SetChecked(line.mute != 0);
  ui.LabelStereo->setText(line.stereo ? "- stereo -" : "- mono -");
  ui.cb1->SetChecked(wasBusy);
}

bool TForm3::ReadShownLine() {
  ShownLine line;
  bool isSelect = false;
  if (!MainMixer().GetVolume(ui.ComboBox1->ItemIndex(), ui.ComboBox2->ItemIndex() - 1, line.left,
                             line.right, line.mute, line.stereo, line.volDisabled,
                             line.muteDisabled, isSelect))
    return false;  // the window keeps what it showed
  line.read = true;
  shownLine_ = line;
  Stabilize();
  return true;
}

void TForm3::WriteShownLine(bool keepBalance) {
  const std::int32_t left = ui.TrackBar->Position();
  const std::int32_t right =
      keepBalance && shownLine_.read && shownLine_.stereo ? shownLine_.right : left;
  ui.cb1->SetChecked(true);
  ThenAlways(
      [&] {
        MainMixer().SetVolume(ui.ComboBox1->ItemIndex(), ui.ComboBox2->ItemIndex() - 1, left, right,
                              ui.CheckBox3->Checked() ? 1 : 0);
      },
      [this] { ui.cb1->SetChecked(false); });
  // The card may refuse a value (a selection list keeps one item selected): show what it holds.
  ReadShownLine();
}

void TForm3::CopyHint(TComboBox* list) { list->setToolTip(list->currentText()); }

void TForm3::RefillLines() {
  if (noMixer_) return;
  ui.ComboBox2->clear();
  const TMixerDestination* destination = MainMixer().Destinations->Get(ui.ComboBox1->ItemIndex());
  if (destination) {
    ui.ComboBox2->addItem(Name(destination->LineInfo.szName, platform::MIXER_LONG_NAME_CHARS));
    for (int c = 0; c < destination->Connections->Count(); ++c) {
      const TMixerConnection* source = destination->Connections->Get(c);
      ui.ComboBox2->addItem(Name(source->LineInfo.szName, platform::MIXER_LONG_NAME_CHARS));
    }
  }
  if (ui.ComboBox2->count() > 0) {
    ui.ComboBox2->SetItemIndex(0);
    ComboBox2Change();
  }
}

void TForm3::ReturnMixerToShownDevice() {
  if (noMixer_) return;
  const int device = ShownDevice();
  if (device >= 0 && MainMixer().MixerId() != device) MainMixer().SetMixerId(device);
  ReadShownLine();
}

// ---------------------------------------------------------------------------------------------
// Handlers

void TForm3::FormCreate() {
  TAudioMixer& mixer = MainMixer();
  ui.ComboBox3->clear();
  for (int m = 0; m < mixer.MixerCount; ++m) {
    // Named from the device's capabilities, so that a device that cannot be opened is still
    // listed under its own name.
    platform::MIXERCAPS caps;
    platform::mixerGetDevCapsA(static_cast<platform::UINT>(m), &caps, sizeof caps);
    ui.ComboBox3->addItem(Name(caps.szPname, platform::MAXPNAMELEN));
  }
  ui.ComboBox1->clear();
  if (mixer.MixerCount < 1) {
    noMixer_ = true;
    ui.ComboBox1->OnChange = nullptr;
    ui.ComboBox2->OnChange = nullptr;
    ui.TrackBar->OnChange = nullptr;
    ui.CheckBox3->OnClick = nullptr;
    shownLine_ = {};
    Stabilize();
    ShowMessage("No mixer present in the system !");
  } else {
    ui.ComboBox3->SetItemIndex(0);
    ComboBox3Change();
    Form1->Snapshot.Capture(mixer);
    ReturnMixerToShownDevice();
  }
  ListPresets();
}

void TForm3::ListPresets() {
  // Afresh on every refresh: a name left over from before a Del would name a file that is gone.
  const std::string folder = tw::ProgramFolder() + "/";
  platform::SetCurrentDirectoryA(folder.c_str());
  ui.ComboBox4->clear();
  ui.ComboBox4->addItem("Presets");
  const QDir dir(QString::fromStdString(folder));
  for (const QString& name :
       dir.entryList({"*.set"}, QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
    ui.ComboBox4->addItem(name);
  ui.ComboBox4->SetItemIndex(0);
}

void TForm3::FormActivate() {
  try {
    RefillLines();
  } catch (const std::exception&) {
    // The window keeps what it showed.
  }
}

void TForm3::ComboBox3Change() {
  const int device = ui.ComboBox3->ItemIndex();
  if (device >= 0 && device < MainMixer().MixerCount) {
    MainMixer().SetMixerId(device);
    ui.ComboBox1->clear();
    for (int d = 0; d < MainMixer().Destinations->Count(); ++d)
      ui.ComboBox1->addItem(
          Name(MainMixer().Destinations->Get(d)->LineInfo.szName, platform::MIXER_LONG_NAME_CHARS));
    ui.ComboBox1->SetItemIndex(0);
    ComboBox1Change();
    ui.cb1->SetChecked(false);
    RefillLines();
  }
  CopyHint(ui.ComboBox3);
}

void TForm3::ComboBox3Click() {
  // The click comes before the change: the line shown so far gets what the window shows of it,
  // once more, before the other device opens. Its balance is what was read, not the bar's value
  // on both channels: choosing a device must not change a line's volume.
  if (ui.ComboBox3->ItemIndex() < 0 || ui.cb1->Checked() || noMixer_) return;
  WriteShownLine(true);
}

void TForm3::ComboBox1Change() {
  try {
    RefillLines();
  } catch (const std::exception&) {
  }
  CopyHint(ui.ComboBox1);
}

void TForm3::ComboBox2Enter() { RefillLines(); }

void TForm3::ComboBox2Change() {
  try {
    ReadShownLine();
  } catch (const std::exception&) {
  }
  CopyHint(ui.ComboBox2);
}

void TForm3::TrackBarChange() {
  if (ui.cb1->Checked()) return;
  WriteShownLine(false);
}

void TForm3::CheckBox3Click() { TrackBarChange(); }

// ---------------------------------------------------------------------------------------------
// Presets

QString TForm3::OtherNameText(int languageIndex) {
  switch (languageIndex) {
    case 1:
      return QString::fromUtf8("Choisissez un autre nom");
    case 2:
      return QString::fromUtf8("Kies een andere naam");
    case 3:
      return QString::fromUtf8("Wybierz inn\u0105 nazw\u0119");
    case 4:
      return QString::fromUtf8(
          "\u0412\u044b\u0431\u0435\u0440\u0438\u0442\u0435 \u0434\u0440\u0443\u0433\u043e\u0435 "
          "\u0438\u043c\u044f");
    default:
      return QString::fromUtf8("Choose an other name");
  }
}

void TForm3::JvXPButton1Click() {
  const QString typed = ui.Edit1->text();
  const QString name = typed + ".set";
  // The preset is written into the program folder, so that is where an existing file is looked
  // for; a name that would lead out of the folder is refused like a taken one.
  const bool usable = !typed.isEmpty() && !typed.contains('/') && !typed.contains('\\') &&
                      !tw::FileExists(tw::ProgramFile(name.toStdString()));
  if (!usable) {
    ShowMessage(OtherNameText(Form1->ui.ComboBox3->ItemIndex()));
    return;
  }
  tw::savmixsettoxml(name.toStdString());
  ui.ComboBox4->addItem(name);
  ui.ComboBox4->SetItemIndex(ui.ComboBox4->count() - 1);
}

void TForm3::JvXPButton2Click() {
  if (ui.ComboBox4->ItemIndex() <= 0) return;
  const std::string path = tw::ProgramFile(ui.ComboBox4->currentText().toStdString());
  // The lines before a malformed one stay applied; either way the window shows the shown line as
  // the file left it, without writing it again. A file that cannot be applied is reported as the
  // main window reports a settings file, in the user's language.
  try {
    ThenAlways([&] { tw::ApplySettingsFileToMixer(path, MainMixer()); },
               [this] { ReturnMixerToShownDevice(); });
  } catch (const std::exception& e) {
    ShowMessage(Form1->SettingsFileMessage(e));
  }
}

void TForm3::JvXPButton3Click() { Form1->restoresound(); }

void TForm3::JvXPButton4Click() {
  const int index = ui.ComboBox4->ItemIndex();
  if (index <= 0) return;
  const std::string folder = tw::ProgramFolder() + "/";
  platform::SetCurrentDirectoryA(folder.c_str());
  // A file that cannot be deleted still leaves the list.
  QFile::remove(QString::fromStdString(folder) + ui.ComboBox4->itemText(index));
  ui.ComboBox4->removeItem(index);
  ui.ComboBox4->SetItemIndex(0);
  ui.ComboBox4->update();
}

void TForm3::JvXPButton5Click() {
  const auto window = static_cast<std::uint32_t>(winId());
  if (platform::ShellExecuteA(window, "open", "SNDVOL32.EXE", nullptr, nullptr, platform::SW_SHOW) >
      32)
    return;
  if (platform::ShellExecuteA(window, "open", "control.exe", "mmsys.cpl,,0", nullptr,
                              platform::SW_SHOW) > 32)
    return;
  ShowMessage(QString::fromStdString(platform::ShellErrorText(platform::GetLastError())));
}
