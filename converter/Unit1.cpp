#include "converter/Unit1.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QShowEvent>
#include <QStyleHints>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

#include "audio/ACS_Audio.h"
#include "audio/ACS_Converters.h"
#include "audio/ACS_Indicator.h"
#include "audio/ACS_LAME.h"
#include "audio/ACS_Vorbis.h"
#include "audio/ACS_Wave.h"
#include "converter/Errors.h"
#include "converter/FileNames.h"
#include "converter/MixerSettings.h"
#include "converter/Pause.h"
#include "converter/ProgramFolder.h"
#include "converter/Unit3.h"
#include "converter/Unit4.h"
#include "converter/Unit7.h"
#include "mixer/AMixer.h"
#include "platform/runtime/GuiThread.h"
#include "platform/softcard/Softcard.h"
#include "platform/softcard/mci/Mci.h"
#include "platform/softcard/mixer/MixerApi.h"
#include "platform/system/Files.h"
#include "platform/system/Shell.h"
#include "widgets/Controls.h"
#include "widgets/TerminationSignals.h"
#include "widgets/Toolkit.h"
#include "widgets/WholeControls.h"

TForm1* Form1 = nullptr;

namespace {

std::string Std(const QString& s) { return s.toStdString(); }

platform::MCIERROR Mci(const std::string& command) {
  return platform::mciSendStringA(command.c_str(), nullptr, 0, nullptr);
}

// A status query: the reply text, empty when the command failed.
std::string MciQuery(const std::string& command) {
  char reply[128] = {};
  platform::mciSendStringA(command.c_str(), reply, sizeof reply, nullptr);
  return reply;
}

std::string ShortPath(const std::string& path) {
  const std::uint32_t needed = platform::GetShortPathNameA(path.c_str(), nullptr, 0);
  if (needed == 0) return path;
  std::string shortPath(needed, '\0');
  const std::uint32_t length = platform::GetShortPathNameA(path.c_str(), shortPath.data(), needed);
  if (length == 0 || length >= needed) return path;
  shortPath.resize(length);
  return shortPath;
}

// Why the sequencer gave no length for a MIDI file, from what the file is and what the open
// command answered.
std::string MidiFailureReason(const std::string& file, platform::MCIERROR opened) {
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) return "It is a folder, not a file.";
  if (std::filesystem::is_regular_file(file, ec) && std::filesystem::file_size(file, ec) == 0 &&
      !ec)
    return "The file is empty.";
  switch (opened) {
    case platform::MCIERR_FILE_NOT_FOUND:
      return "The file does not exist.";
    case platform::MCIERR_FILE_READ:
      return "The file cannot be read.";
    case platform::MCIERR_INVALID_FILE:
      return "It is not a Standard MIDI File, or the file is damaged.";
    case platform::MCIERR_OUT_OF_MEMORY:
      return "The file is too large to play.";
    case platform::MCIERR_EXTENSION_NOT_FOUND:
    case platform::MCIERR_UNSUPPORTED_FORMAT:
      return "The sequencer does not play files of this kind.";
    case 0:
      return "The sequencer opened it but gave no length.";
    default:
      return "The sequencer refused it (MCI error " + std::to_string(opened) + ").";
  }
}

QString Quoted(const QString& path) { return "\"" + path + "\""; }

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  ui.setupUi(this);
  Form1 = this;
  OpenDialog1.Filter = "Midi|*.mid";
  CreateComponents();
  // Unit1.ui holds geometry and names only; the controls that start hidden are hidden here.
  ui.ComboBox1->hide();
  ui.ComboBox2->hide();
  ui.Button1->hide();
  ui.Button6->hide();
  ui.Button7->hide();

  BindStartStop(ui.JvXPButton6, &TForm1::JvXPButton6Click);
  BindStartStop(ui.JvXPButton7, &TForm1::JvXPButton7Click);
  Bind(ui.JvXPButton4, &TForm1::JvXPButton4Click);
  Bind(ui.JvXPButton5, &TForm1::JvXPButton5Click);
  Bind(ui.Button6, &TForm1::Button6Click);
  Bind(ui.Button7, &TForm1::Button7Click);
  auto radio = [this](TRadioButton* button, void (TForm1::*handler)()) {
    button->OnClick = [this, handler] { Guard([&] { (this->*handler)(); }); };
  };
  radio(ui.Wav, &TForm1::WavClick);
  radio(ui.Mp3, &TForm1::Mp3Click);
  radio(ui.Ogg, &TForm1::OggClick);
  radio(ui.RadioButton4, &TForm1::RadioButton4Click);
  radio(ui.RadioButton5, &TForm1::RadioButton5Click);
  radio(ui.RadioButton6, &TForm1::RadioButton6Click);
  radio(ui.RadioButton3, &TForm1::RadioButton3Click);
  radio(ui.RadioButton7, &TForm1::RadioButton7Click);
  ui.ComboBox1->OnChange = [this] { Guard([this] { hange(); }); };
  ui.ComboBox2->OnChange = [this] { Guard([this] { ComboBox2Change(); }); };
  Bind(ui.JvXPButton13, &TForm1::JvXPButton13Click);
  Bind(ui.JvXPButton12, &TForm1::JvXPButton12Click);
  Bind(ui.JvXPButton1, &TForm1::JvXPButton1Click);
  Bind(ui.JvXPButton2, &TForm1::JvXPButton2Click);
  // Names are typed or chosen; a file dropped on an edit is a list row, not text.
  ui.Edit1->setAcceptDrops(false);
  ui.Edit2->setAcceptDrops(false);
  Bind(ui.JvXPButton3, &TForm1::JvXPButton3Click);
  ui.CheckBox4->OnClick = [this] { Guard([this] { JvXPCheckbox1Click(); }); };
  Bind(ui.JvXPButton8, &TForm1::JvXPButton8Click);
  Bind(ui.JvXPButton11, &TForm1::JvXPButton11Click);
  Bind(ui.Button1, &TForm1::Button1Click);
  ui.ComboBox3->OnChange = [this] { Guard([this] { ComboBox3Change(); }); };

  connect(qApp, &QGuiApplication::focusWindowChanged, this,
          [this](QWindow* window) { ProgramWindowActivated(window); });

  DrawWhole(this);
  Guard([this] { FormCreate(); });
}

TForm1::~TForm1() {
  StopReports(this);
  if (Form1 == this) Form1 = nullptr;
}

void TForm1::CreateComponents() {
  // The window's audio components with their starting settings, the recorder's chain first, then
  // the encoders'. Creating the MP3 and Ogg Vorbis writers loads their encoder libraries and raises
  // when one is missing: the window cannot exist without them.
  AudioIn1 = new TAudioIn(&components_);
  AudioIn1->SetBaseChannel(0);
  AudioIn1->SetInBitsPerSample(16);
  AudioIn1->SetInChannels(2);
  AudioIn1->SetInSampleRate(44100);
  AudioIn1->SetRecTime(0);

  SoundIndicator1 = new TSoundIndicator(&components_);
  SoundIndicator1->SetInput(AudioIn1);

  WaveOut1 = new TWaveOut(&components_);
  WaveOut1->SetInput(SoundIndicator1);
  WaveOut1->SetWavType(wtPCM);
  WaveOut1->SetBlockSize(512);
  WaveOut1->SetFileMode(foRewrite);
  WaveOut1->OnDone = [this](platform::TComponent* s) { WaveOut1Done(s); };
  WaveOut1->OnProgress = [this](platform::TComponent* s) { WaveOut1Progress(s); };
  WaveOut1->OnThreadException = [this](platform::TComponent* s, const std::exception& e) {
    OutputFailed(s, e);
  };

  WaveIn1 = new TWaveIn(&components_);
  WaveIn1->SetStartSample(0);
  WaveIn1->SetEndSample(-1);
  WaveIn1->SetLoop(false);

  MP3Out1 = new TMP3Out(&components_);
  MP3Out1->SetInput(WaveIn1);
  MP3Out1->SetBitRate(br128);
  MP3Out1->SetOriginal(false);
  MP3Out1->SetWriteVBRHeader(true);
  MP3Out1->OnDone = [this](platform::TComponent* s) { MP3Out1Done(s); };
  MP3Out1->OnProgress = [this](platform::TComponent* s) { MP3Out1Progress(s); };
  MP3Out1->OnThreadException = [this](platform::TComponent* s, const std::exception& e) {
    OutputFailed(s, e);
  };

  VorbisOut1 = new TVorbisOut(&components_);
  VorbisOut1->SetInput(WaveIn1);
  VorbisOut1->SetCompression(0.2f);
  VorbisOut1->SetDesiredNominalBitrate(bbrAutoSelect);
  VorbisOut1->SetSerial(0);
  VorbisOut1->OnDone = [this](platform::TComponent* s) { VorbisOut1Done(s); };
  VorbisOut1->OnProgress = [this](platform::TComponent* s) { VorbisOut1Progress(s); };
  VorbisOut1->OnThreadException = [this](platform::TComponent* s, const std::exception& e) {
    OutputFailed(s, e);
  };

  SampleConverter1 = new TSampleConverter(&components_);
  RateConverter1 = new TRateConverter(&components_);
  Mixer = new TAudioMixer(&components_);
  Mixer->SetMixerId(0);
}

void TForm1::Bind(QPushButton* button, void (TForm1::*handler)()) {
  BindClick(this, button, handler);
}

void TForm1::Guard(const std::function<void()>& handler) { Guarded(handler); }

void TForm1::BindStartStop(QPushButton* button, void (TForm1::*handler)()) {
  button->installEventFilter(this);
  connect(button, &QAbstractButton::clicked, this, [this, button, handler] {
    // The press of this click, when it came from the mouse (a key or code clicks without one).
    std::optional<quint64> press;
    if (lastPress_ && lastPress_->button == button) press = lastPress_->time;
    lastPress_.reset();
    if (phase_ == Phase::Idle && !startWaiting_) {
      startPress_ = press ? std::optional<Press>(Press{button, *press}) : std::nullopt;
    } else if (press && startPress_ && startPress_->button == button &&
               *press - startPress_->time <
                   static_cast<quint64>(
                       QGuiApplication::styleHints()->mouseDoubleClickInterval())) {
      // The second click of a double click on the button that started a conversion or a playback
      // would stop it at once: the Stop caption shows as soon as it starts.
      return;
    }
    Guard([this, handler] { (this->*handler)(); });
  });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  auto* button = qobject_cast<QAbstractButton*>(watched);
  if (button &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick))
    lastPress_ = Press{button, static_cast<QMouseEvent*>(event)->timestamp()};
  else if (button && event->type() == QEvent::KeyPress)
    lastPress_.reset();
  return QWidget::eventFilter(watched, event);
}

std::uint32_t TForm1::Handle() { return static_cast<std::uint32_t>(winId()); }

int TForm1::LongestRecordTime() const {
  return TAudioIn::LongestRecTime(AudioIn1->InBitsPerSample(), AudioIn1->InChannels(),
                                  AudioIn1->InSampleRate());
}

QString TForm1::FileMessage(const std::exception& e, tw::TextId text, const char* english) const {
  const auto* error = dynamic_cast<const tw::EFileError*>(&e);
  if (!error || error->Fault().path.empty()) return QString::fromUtf8(e.what());
  const tw::FileFault& fault = error->Fault();
  const QString file = Quoted(QString::fromStdString(fault.path));
  const QString sentence = fault.line > 0
                               ? TextOr(text, english).arg(file, QString::number(fault.line))
                               : TextOr(text, english).arg(file);
  return sentence + "\n" + QString::fromStdString(fault.reason);
}

QString TForm1::SettingsFileMessage(const std::exception& e) const {
  const auto* error = dynamic_cast<const tw::EFileError*>(&e);
  if (error && error->Fault().line > 0)
    return FileMessage(e, tw::TextId::SettingsLineUnreadable,
                       "Line %2 of the mixer settings file %1 could not be read.");
  return FileMessage(e, tw::TextId::SettingsFileUnreadable,
                     "The mixer settings file %1 could not be read.");
}

QString TForm1::SecondCopyMessage() {
  tw::TLangTexts texts;
  try {
    const int index = tw::LanguageIndexOfCode(tw::ReadLanguageCode(tw::ProgramFile("lang.ini")));
    if (index >= 0)
      tw::LoadTextTable(tw::ProgramFile(tw::kLanguages[static_cast<std::size_t>(index)].file),
                        texts);
  } catch (const std::exception&) {
    // No language file or table to read: the English text says it.
  }
  QString text =
      QString::fromStdString(texts[static_cast<std::size_t>(tw::TextId::SecondCopyRuns)]);
  if (text.isEmpty())
    text =
        "Tunewisp is already running from the folder %1. Two copies in one folder would "
        "overwrite each other's files, so this copy ends.";
  return text.arg(Quoted(QString::fromStdString(tw::ProgramFolder())));
}

namespace {

// The sequencer refused the file because the synthesiser has no SoundFont.
class ENoSoundFont : public std::runtime_error {
 public:
  ENoSoundFont() : std::runtime_error("no SoundFont") {}
};

}  // namespace

QString TForm1::MidiMessage(const std::exception& e) const {
  // Not the file's fault: what is wrong with the SoundFont, and how to mend it, is the whole
  // message.
  if (dynamic_cast<const ENoSoundFont*>(&e))
    return SoundFontMessage(platform::softcard::Card::Instance().SoundFontReport());
  return FileMessage(e, tw::TextId::MidiUnreadable, "The MIDI file %1 could not be played.");
}

QString TForm1::SoundFontMessage(const platform::softcard::SoundFontStatus& status) const {
  using Kind = platform::softcard::SoundFontStatus::Kind;
  const QString file = Quoted(QString::fromStdString(status.file));
  switch (status.kind) {
    case Kind::Loaded:
      return {};
    case Kind::NoneInstalled:
      return Text(tw::TextId::NoSoundFont);
    case Kind::NamedMissing:
      return TextOr(tw::TextId::SoundFontMissing,
                    "The SoundFont file %1 named in the environment variable SOFTCARD_SOUNDFONT "
                    "does not exist, so MIDI files cannot be played or converted. Correct the name "
                    "in the variable, or remove the variable to use an installed SoundFont.")
          .arg(file);
    case Kind::Unloadable:
      break;
  }
  return TextOr(
             tw::TextId::SoundFontUnloadable,
             "The SoundFont file %1 exists, but the MIDI synthesiser cannot load it: it is not a "
             "SoundFont, it is damaged or it cannot be read. MIDI files cannot be played or "
             "converted. Name another SoundFont file in the environment variable "
             "SOFTCARD_SOUNDFONT, or install one with \"apt-get install fluid-soundfont-gm\".")
      .arg(file);
}

QString TForm1::TextOr(tw::TextId entry, const char* english) const {
  const QString text = Text(entry);
  return text.isEmpty() ? QString::fromUtf8(english) : text;
}

QString TForm1::Text(tw::TextId entry) const {
  const int n = static_cast<int>(entry);
  if (n < 0 || n >= tw::kLangTextCount) return QString();
  // An empty line of a table stays empty; only entries that no table gave fall back.
  const auto& texts = n < loadedEntries_ ? LangTexts : tw::BuiltInEnglish();
  return QString::fromStdString(texts[static_cast<std::size_t>(n)]);
}

// ---------------------------------------------------------------------------------------------
// State of the window

void TForm1::SetListRuns(bool runs) {
  listRunning_ = runs;
  if (!runs) restCaptions_ = RestCaptions::AfterRun;
  Stabilize();
}

void TForm1::Stabilize() {
  using tw::TextId;
  const bool converting =
      phase_ == Phase::Recording || phase_ == Phase::Encoding || phase_ == Phase::Finishing;
  const bool atRest = phase_ == Phase::Idle && !listRunning_ && !startWaiting_;

  // At rest the buttons and the status show the table's captions after a relabelling, and the
  // captions a run ends with after a run (the same words in the shipped tables). Until the first
  // relabelling the designed captions stay.
  const bool relabelled = restCaptions_ == RestCaptions::Relabelled;
  auto rest = [&](TextId tableEntry, TextId afterRunEntry) {
    return Text(relabelled ? tableEntry : afterRunEntry);
  };
  const bool designed = restCaptions_ == RestCaptions::Designed;
  auto caption = [designed](auto* control, const QString& text, bool atRestCaption) {
    if (!(designed && atRestCaption)) control->setText(text);
  };

  const QString convertOneAtRest = rest(TextId::ConvertOneButton, TextId::ConvertOneAtRest);
  switch (phase_) {
    case Phase::Idle:
      caption(ui.Label3, rest(TextId::StatusAtStart, TextId::StatusReady), true);
      caption(ui.JvXPButton7, convertOneAtRest, true);
      break;
    case Phase::Playing:
      caption(ui.Label3, Text(TextId::StatusPlaying), false);
      caption(ui.JvXPButton7, convertOneAtRest, true);
      break;
    case Phase::Recording:
      caption(ui.Label3, Text(TextId::StatusRecording), false);
      caption(ui.JvXPButton7, Text(TextId::Stop), false);
      break;
    case Phase::Encoding:
      caption(ui.Label3, Text(TextId::StatusEncoding), false);
      caption(ui.JvXPButton7, Text(TextId::ConvertOneEncoding), false);
      break;
    case Phase::Finishing:
      caption(ui.Label3, Text(TextId::StatusReady), false);
      caption(ui.JvXPButton7, Text(TextId::ConvertOneAtRest), false);
      break;
  }
  if (phase_ == Phase::Playing)
    caption(ui.JvXPButton6, Text(TextId::Stop), false);
  else
    caption(ui.JvXPButton6, rest(TextId::PlayMidiButton, TextId::PlayMidiAtRest), true);
  if (listRunning_)
    caption(ui.JvXPButton2, Text(TextId::ConvertListRunning), false);
  else
    caption(ui.JvXPButton2, rest(TextId::ConvertListButton, TextId::ConvertListAtRest), true);

  // A button that starts something is live only at rest; the one that stops the running playback or
  // recording stays live. The encoding cannot be stopped.
  ui.JvXPButton7->setEnabled(atRest || phase_ == Phase::Recording);
  ui.JvXPButton6->setEnabled(atRest || phase_ == Phase::Playing);
  ui.JvXPButton2->setEnabled(atRest);
  // The language may change once the output is complete, not while a playback, a recording, an
  // encoding or a list runs.
  ui.ComboBox3->setEnabled((phase_ == Phase::Idle || phase_ == Phase::Finishing) && !listRunning_);
  // A conversion takes its output type and file names when it starts; changing them afterwards
  // would show another type or file than the one being written. The rates, channels and bit rates
  // stay live: the encoders read them only when the encoding starts.
  const bool fileSettings = !converting && !listRunning_;
  for (QWidget* control : std::initializer_list<QWidget*>{ui.Wav, ui.Mp3, ui.Ogg, ui.Edit1,
                                                          ui.Edit2, ui.JvXPButton4, ui.JvXPButton5})
    control->setEnabled(fileSettings);
  // A caption that changed may need more room.
  DrawWindowsWhole();
}

// ---------------------------------------------------------------------------------------------
// Start-up, activation, exit

std::uint64_t TForm1::FileSizeOf(const QString& path) {
  const platform::HANDLE h =
      platform::CreateFileA(Std(path).c_str(), platform::GENERIC_READ, platform::FILE_SHARE_READ,
                            nullptr, platform::OPEN_EXISTING, 0, platform::INVALID_HANDLE_VALUE);
  if (h == platform::INVALID_HANDLE_VALUE) return 0;
  std::uint32_t high = 0;
  const std::uint32_t low = platform::GetFileSize(h, &high);
  platform::CloseHandle(h);
  return (std::uint64_t{high} << 32) + low;
}

void TForm1::FormCreate() {
  setAcceptDrops(true);
  if (FileSizeOf(QString::fromStdString(tw::ProgramFile("default.set"))) == 0)
    ui.CheckBox1->SetChecked(false);

  const std::string langFile = tw::ProgramFile("lang.ini");
  if (tw::FileExists(langFile)) {
    const int index = tw::LanguageIndexOfCode(tw::ReadLanguageCode(langFile));
    if (index >= 0) {
      ui.ComboBox3->SetItemIndex(index);
      PendingLanguage = index + 1;
    }
  } else {
    ui.ComboBox3->SetItemIndex(0);
    // Pending before the file is written: a language file that cannot be created is reported, and
    // the windows still get their English captions instead of an empty table's.
    PendingLanguage = 1;
    tw::WriteLanguageFile(langFile, "en");
  }
}

void TForm1::ProgramWindowActivated(QWindow* window) {
  // A null window means that the program lost the focus to another program: that changes nothing,
  // so that coming back straight to this window does not count as an activation, while coming back
  // from another window of the program (a message box included) does.
  if (!window) return;
  const bool mine = window == windowHandle();
  const bool fromElsewhere = lastActiveWindow_ != window;
  lastActiveWindow_ = window;
  if (mine && (fromElsewhere || firstActivation_)) Activate();
}

void TForm1::Activate() {
  // A failure of the activation (a text table that cannot be read) shows a message box, and the
  // focus coming back from that box is not a new activation: the same failure would show its box
  // again, without end. The next activation, from another window, tries again.
  if (activating_) return;
  activating_ = true;
  Guard([this] { FormActivate(); });
  activating_ = false;
  lastActiveWindow_ = windowHandle();
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (firstShowSeen_) return;
  firstShowSeen_ = true;
  // Without a window manager, or with one that keeps new windows from taking the focus, the focus
  // may never come; the first activation must not wait for it. Queued, so that it runs once the
  // window is up (it may close it again for the hand-over); when the focus comes first, it has
  // already run.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (firstActivation_ && isVisible()) Activate();
      },
      Qt::QueuedConnection);
}

void TForm1::FormActivate() {
  const bool first = firstActivation_;
  firstActivation_ = false;
  if (!tw::FileExists(tw::ProgramFile("default.set"))) {
    const std::string folder = tw::ProgramFolder();
    platform::SetCurrentDirectoryA(folder.c_str());
    const std::string wizard = folder + "/Knobwarden.exe";
    const auto started = platform::ShellExecuteA(Handle(), nullptr, wizard.c_str(), nullptr,
                                                 nullptr, platform::SW_SHOWNORMAL);
    // Closing without a word would leave the user with no program at all; staying open would try
    // again at every activation. Say why once, then close as when the wizard starts.
    if (started <= 32)
      ShowMessage(QString::fromStdString(
          "The set-up wizard \"" + platform::ExecutableFor(wizard) +
          "\" could not be started: " + platform::ShellErrorText(platform::GetLastError())));
    close();
  }
  static constexpr tw::Layout kLayouts[] = {tw::Layout::EnFr, tw::Layout::EnFr, tw::Layout::Nl,
                                            tw::Layout::Pl, tw::Layout::Ru};
  if (PendingLanguage >= 1 && PendingLanguage <= 5) {
    LoadLanguageFile(tw::kLanguages[PendingLanguage - 1].file);
    ApplyLayout(kLayouts[PendingLanguage - 1]);
  } else if (first && ui.ComboBox3->ItemIndex() < 0) {
    // "lang.ini" names no language we know: show English rather than an empty table's blank
    // captions, and leave the file and the combo as they are.
    try {
      LoadLanguageFile("en.ini");
      ApplyLayoutEnFr();
    } catch (const tw::EInOutError&) {
    }
  }
  tolang();
  PendingLanguage = 0;
}

void TForm1::FormClose() {
  if (ui.CheckBox4->Checked()) restoresound();
}

void TForm1::closeEvent(QCloseEvent* event) {
  // A list run takes no more rows once its window is gone, and nothing that ends now waits for a
  // click: a logout or a kill would wait for it.
  closing_ = true;
  // A playback must not go on unheard once its window is gone, and a recording ends with what it
  // has recorded so far (which the converting click still encodes) rather than running on behind a
  // closed window.
  if (phase_ == Phase::Playing) Guard([this] { JvXPButton6Click(); });
  if (phase_ == Phase::Recording) Guard([this] { StopRecording(false); });
  // The user's volumes come back now, not once an encoding has ended.
  if (presetsApplied_) Guard([this] { RevertPresets(); });
  Guard([this] { FormClose(); });
  tw::MixerGivenBack();
  event->accept();
  if (OnClosed) OnClosed();
}

void TForm1::GiveMixerBackAtExit() {
  // Only the mixer: the windows are no longer drawn.
  if (presetsApplied_ || ui.CheckBox4->Checked()) Snapshot.Restore(*Mixer);
  platform::mixerFlushState();
}

// ---------------------------------------------------------------------------------------------
// Languages

void TForm1::LoadLanguageFile(const QString& FileName) {
  const std::string path = tw::ProgramFile(Std(FileName));
  const QString damaged =
      Text(tw::TextId::TextTableDamaged).replace("%1", Quoted(QString::fromStdString(path)));
  int lines = 0;
  try {
    lines = tw::LoadTextTable(path, LangTexts);
  } catch (const tw::EInOutError&) {
    throw tw::EInOutError(Std(damaged));
  }
  loadedEntries_ = std::max(loadedEntries_, lines);
  if (lines < tw::kTextTableLines) ShowMessage(damaged);
}

void TForm1::tolang() {
  using tw::TextId;
  ui.GroupBox5->setTitle(Text(TextId::FileSettingsGroup));
  ui.GroupBox3->setTitle(Text(TextId::ChannelsGroup));
  ui.GroupBox1->setTitle(Text(TextId::RateGroup));
  ui.GroupBox4->setTitle(Text(TextId::BitrateGroup));
  ui.GroupBox2->setTitle(Text(TextId::StatusGroup));
  ui.Output->setTitle(Text(TextId::OutputTypeGroup));
  ui.JvXPButton4->setText(Text(TextId::InButton));
  ui.JvXPButton5->setText(Text(TextId::OutButton));
  ui.JvXPButton1->setText(Text(TextId::AddToListButton));
  ui.JvXPButton12->setText(Text(TextId::ListButton));
  ui.JvXPButton13->setText(Text(TextId::SetTimerButton));
  ui.JvXPButton3->setText(Text(TextId::MixerSettingsButton));
  ui.CheckBox1->setText(Text(TextId::UseMidiPresetsBox));
  ui.CheckBox4->setText(Text(TextId::RestoreAtExitBox));
  ui.JvXPButton11->setText(Text(TextId::OnlineHelpButton));
  ui.JvXPButton8->setText(Text(TextId::WebsiteButton));
  setWindowTitle(Text(TextId::MainTitle));
  if (Form3) {
    Form3->setWindowTitle(Text(TextId::MixerTitle));
    Form3->ui.GroupBox5->setTitle(Text(TextId::MixerGroup));
    Form3->ui.GroupBox1->setTitle(Text(TextId::PresetsGroup));
    Form3->ui.JvXPButton1->setText(Text(TextId::PresetSaveButton));
    Form3->ui.JvXPButton2->setText(Text(TextId::PresetLoadButton));
    Form3->ui.JvXPButton3->setText(Text(TextId::MixerResetButton));
    Form3->ui.JvXPButton4->setText(Text(TextId::PresetDeleteButton));
    Form3->ui.JvXPButton5->setText(Text(TextId::VolumeControlButton));
    Form3->ui.Label2->setText(Text(TextId::MuteSelectLabel));
    Form3->ui.Label4->setText(Text(TextId::NoMuteSelectLabel));
    Form3->ui.Label5->setText(Text(TextId::NoVolumeLabel));
  }
  if (Form4) {
    Form4->ui.GroupBox1->setTitle(Text(TextId::OutputFolderGroup));
    Form4->setWindowTitle(Text(TextId::ListTitle));
    Form4->ui.Remove1->setText(Text(TextId::ListRemoveItem));
    Form4->ui.Useascurrent1->setText(Text(TextId::ListUseItem));
    Form4->ui.Copy1->setText(Text(TextId::ListCopyItem));
    Form4->ui.Paste1->setText(Text(TextId::ListPasteItem));
    static constexpr TextId kColumns[] = {TextId::ListMidiColumn,     TextId::ListFormatColumn,
                                          TextId::ListBitrateColumn,  TextId::ListRateColumn,
                                          TextId::ListChannelsColumn, TextId::ListInputColumn,
                                          TextId::ListOutputColumn};
    for (int column = 0; column < 7; ++column)
      Form4->ui.ListView1->headerItem()->setText(column, Text(kColumns[column]));
  }
  if (Form7) Form7->ui.Label1->setText(Text(TextId::RecordTimeLabel));
  // The status and the buttons that carry a phase: the table's captions at rest, the running
  // operation's captions while one runs.
  restCaptions_ = RestCaptions::Relabelled;
  Stabilize();
}

void TForm1::ChangeLanguage(int Index) {
  if (Index < 0 || Index >= static_cast<int>(tw::kLanguages.size())) return;
  const auto& row = tw::kLanguages[static_cast<std::size_t>(Index)];
  tw::WriteLanguageFile(tw::ProgramFile("lang.ini"), row.code);
  LoadLanguageFile(row.file);
  tolang();
  ApplyLayout(tw::LayoutOfLanguage(Index));
}

void TForm1::ComboBox3Change() {
  const int index = ui.ComboBox3->ItemIndex();
  if (index >= 0 && index <= 4) ChangeLanguage(index);
}

// ---------------------------------------------------------------------------------------------
// Layouts

QWidget* TForm1::LayoutWindow(const char* name) {
  const QString window = QString::fromLatin1(name);
  if (window == "Form1") return this;
  if (window == "Form4") return Form4;
  if (window == "Form3") return Form3;
  if (window == "Form7") return Form7;
  return nullptr;  // a window this program does not have
}

void TForm1::ApplyLayout(tw::Layout layout) {
  for (const auto& row : tw::kLayoutRows) {
    QWidget* window = LayoutWindow(row.window);
    if (!window) continue;
    auto* control = window->findChild<QWidget*>(QString::fromLatin1(row.control));
    if (!control) continue;
    const tw::Geometry& g = row.byLayout[static_cast<std::size_t>(layout)];
    SetLayoutGeometry(control, QRect(g.left, g.top, g.width, g.height));
  }
  DrawWindowsWhole();
}

void TForm1::DrawWindowsWhole() {
  // The layouts were measured for another toolkit's fonts and indicators: each window is drawn
  // with its controls whole around the layout's rectangles.
  QList<QWidget*> windows;
  for (const auto& row : tw::kLayoutRows)
    if (QWidget* window = LayoutWindow(row.window); window && !windows.contains(window))
      windows << window;
  for (QWidget* window : windows) DrawWhole(window);
}

void TForm1::DumpLayout() {
  const std::string path = tw::ProgramFile("turlututu.txt");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw tw::EInOutError("Cannot create file \"" + path + "\"");
  for (const auto& row : tw::kLayoutRows) {
    QWidget* window = LayoutWindow(row.window);
    if (!window) continue;
    auto* control = window->findChild<QWidget*>(QString::fromLatin1(row.control));
    if (!control) continue;
    const QRect g = LayoutGeometry(control);
    const std::string prefix = std::string(row.window) + "." + row.control + ".";
    const std::pair<const char*, int> values[] = {
        {"height", g.height()}, {"left", g.x()}, {"top", g.y()}, {"width", g.width()}};
    for (const auto& [property, value] : values)
      out << prefix << property << ":=" << value << ";\r\n";
  }
  out.close();
  if (!out) throw tw::EInOutError("Cannot write file \"" + path + "\"");
}

void TForm1::Button1Click() { DumpLayout(); }

// ---------------------------------------------------------------------------------------------
// MIDI playback

void TForm1::StartMidi(const QString& path) {
  const std::string file = Std(path);
  if (!tw::FileExists(file)) return;
  Mci("close song");
  Mci("open " + ShortPath(file) + " alias song");
  Mci("play song");
}

void TForm1::CloseMidi() { Mci("close song"); }

int TForm1::GetMidiLength(const QString& path) {
  const std::string file = Std(path);
  if (!tw::FileExists(file)) return 0;
  Mci("close song");
  const platform::MCIERROR opened = Mci("open " + ShortPath(file) + " alias song");
  if (opened == platform::MCIERR_SEQ_NOMIDIPRESENT) throw ENoSoundFont();
  Mci("set song time format ms");
  const std::string reply = MciQuery("status song length");
  Mci("close song");
  int length = 0;
  if (!tw::TryStrToInt(reply, length)) {
    const std::string reason = MidiFailureReason(file, opened);
    throw tw::EConvertError(
        "The length of the MIDI file \"" + file + "\" could not be read: " + reason,
        {file, 0, reason});
  }
  MidiLengthMs = length;
  return MidiLengthMs;
}

int TForm1::GetMidiPosition() {
  if (phase_ != Phase::Playing) return 0;
  Mci("set song time format milliseconds");
  int position = 0;
  if (!tw::TryStrToInt(MciQuery("STATUS SONG POSITION"), position))
    throw tw::EConvertError("The sequencer stopped reporting the position of the playback.");
  return position;
}

int TForm1::GetRecordTime(const QString& path) {
  const int length = GetMidiLength(path);
  const QString typed = Form7 ? Form7->ui.Edit1->text() : QString();
  int seconds = 0;
  switch (TForm7::ParseRecordTime(typed, seconds)) {
    case TForm7::RecordTime::Empty: {
      // The file's own length is not a time the user typed: say how long it is and what the
      // format set now allows.
      const int needed = length / 1000 + 1;
      if (needed > LongestRecordTime())
        throw ERecordTimeRefused(Std(
            TextOr(tw::TextId::MidiTooLong,
                   "The MIDI file %1 is too long: it needs a recording of %2 seconds, and at the "
                   "chosen rate and channels a recording can last at most %3 seconds. Choose a "
                   "lower rate or mono, or set a record time to convert only its beginning.")
                .arg(Quoted(path), QString::number(needed), QString::number(LongestRecordTime()))));
      return needed;
    }
    case TForm7::RecordTime::Valid:
      return seconds;
    case TForm7::RecordTime::Invalid:
      break;
  }
  throw ERecordTimeRefused(Std(TForm7::RefusalText()));
}

void TForm1::EndPlayback(bool revertPresets) {
  phase_ = Phase::Idle;
  restCaptions_ = RestCaptions::AfterRun;
  ui.ProgressBar1->setValue(0);
  Stabilize();
  if (revertPresets) RevertPresets();
  CloseMidi();
}

void TForm1::JvXPButton6Click() {
  if (phase_ == Phase::Playing) {
    // The Stop click, nested inside the starting click's wait, which sees the phase change and
    // leaves its loop. While the synthesiser still loads, no presets have been applied yet.
    EndPlayback(ui.CheckBox1->Checked() && !startWaiting_);
    return;
  }
  // A conversion runs, or another start still waits for the synthesiser.
  if (phase_ != Phase::Idle || startWaiting_) return;
  const QString midi = ui.Edit1->text();
  if (!tw::FileExists(Std(midi))) {
    OpenDialog1.Execute(this);
    ui.Edit1->setText(OpenDialog1.FileName);
    return;
  }
  // The playback shows at once, before anything that may take time: the synthesiser still loading
  // its SoundFont, the presets, the MIDI's length.
  phase_ = Phase::Playing;
  Stabilize();
  repaint();
  // The presets only once the synthesiser can play: a program killed while it loads must not leave
  // them in the user's mixer.
  WaitForSynth(Phase::Playing);
  if (phase_ != Phase::Playing) return;  // stopped meanwhile (the stop put everything back)
  // The playback cannot start without the default settings it asks for or the MIDI's length: give
  // the user the reason and the controls back.
  const bool presets = ui.CheckBox1->Checked();
  try {
    if (presets) ApplyPresets();
  } catch (const std::exception& e) {
    EndPlayback(false);
    Guard([this] { RevertPresets(); });
    ShowMessage(SettingsFileMessage(e));
    return;
  }
  try {
    GetMidiLength(midi);
  } catch (const std::exception& e) {
    EndPlayback(false);
    if (presets) Guard([this] { RevertPresets(); });
    ShowMessage(MidiMessage(e));
    return;
  }
  StartMidi(midi);

  bool endedByItself = false;
  try {
    // The end test and the progress bar each ask the sequencer, so the bar shows the position of
    // the moment it is drawn.
    for (;;) {
      if (GetMidiPosition() >= MidiLengthMs) break;
      if (phase_ != Phase::Playing) break;
      ui.ProgressBar1->setValue(
          static_cast<int>(static_cast<std::int64_t>(GetMidiPosition()) * 100 / MidiLengthMs));
      tw::pause(500);
    }
    endedByItself = GetMidiPosition() >= MidiLengthMs;
  } catch (const std::exception& e) {
    // The sequencer stopped answering: end the playback as a Stop would, and say why.
    if (phase_ == Phase::Playing) EndPlayback(ui.CheckBox1->Checked());
    ShowMessage(MidiMessage(tw::EConvertError(e.what(), {Std(midi), 0, e.what()})));
    return;
  }
  ui.ProgressBar1->setValue(0);
  if (endedByItself) {
    CloseMidi();
    if (ui.CheckBox1->Checked()) RevertPresets();
    phase_ = Phase::Idle;
    restCaptions_ = RestCaptions::AfterRun;
    Stabilize();
    ShowMessage(Text(tw::TextId::EncodedOrPlayed));
  }
}

// ---------------------------------------------------------------------------------------------
// Output settings

void TForm1::ReplaceExtension(const QString& extension) {
  ui.Edit2->setText(
      QString::fromStdString(tw::WithExtension(Std(ui.Edit2->text()), Std(extension))));
}

void TForm1::WavClick() {
  ui.RadioButton6->SetChecked(true);
  ui.RadioButton4->setText("11025");
  ui.RadioButton5->setText("22050");
  ui.ComboBox1->hide();
  ui.ComboBox2->hide();
  ReplaceExtension(".wav");
}

void TForm1::Mp3Click() {
  ui.RadioButton6->SetChecked(true);
  ui.RadioButton4->setText("22050");
  ui.RadioButton5->setText("32000");
  ui.ComboBox1->show();
  ui.ComboBox2->hide();
  ReplaceExtension(".mp3");
}

void TForm1::OggClick() {
  ui.RadioButton6->SetChecked(true);
  ui.RadioButton4->setText("11025");
  ui.RadioButton5->setText("32000");
  ui.ComboBox1->hide();
  ui.ComboBox2->show();
  ReplaceExtension(".ogg");
}

void TForm1::LimitMp3AtMost160() {
  if (ui.RadioButton4->Checked() && ui.ComboBox1->ItemIndex() > 13) {
    ui.ComboBox1->SetItemIndex(13);
    MP3Out1->SetBitRate(br160);
  }
}

void TForm1::LimitMp3AtLeast32() {
  if (!ui.RadioButton4->Checked() && ui.ComboBox1->ItemIndex() < 3) {
    ui.ComboBox1->SetItemIndex(3);
    MP3Out1->SetBitRate(br32);
  }
}

namespace {

// "144" is a bit rate of the lower MP3 sample rates only: at 32000 and 44100 Hz the encoder would
// write 128 kbit/s instead. The next rate up, "160", takes its place there.
constexpr int kMp3Item144 = 12;
constexpr int kMp3Item160 = 13;

}  // namespace

bool TForm1::LimitMp3Not144() {
  if (ui.RadioButton4->Checked() || ui.ComboBox1->ItemIndex() != kMp3Item144) return false;
  ui.ComboBox1->SetItemIndex(kMp3Item160);
  MP3Out1->SetBitRate(br160);
  return true;
}

namespace {

// The highest Ogg Vorbis items the encoder takes for mono: "48" at 11025 Hz (it refuses 56 kbit/s
// and more) and "224" at 44100 Hz (it refuses 256 and 320). The list must not be moved above them.
constexpr int kOggMono11025Max = 1;
constexpr int kOggMono44100Max = 11;
constexpr int kOggAuto = 14;

// Items 0..13 of the Ogg Vorbis list are bbr45..bbr320; item 14 is "Auto".
TVorbisBitRate OggBitRateOfItem(int index) {
  return index >= 0 && index <= 13 ? static_cast<TVorbisBitRate>(index + 1) : bbrAutoSelect;
}

}  // namespace

void TForm1::SetOggIndex(int index) {
  ui.ComboBox2->SetItemIndex(index);
  VorbisOut1->SetDesiredNominalBitrate(OggBitRateOfItem(index));
}

void TForm1::LimitOggMono44100() {
  const int index = ui.ComboBox2->ItemIndex();
  if (ui.RadioButton6->Checked() && ui.RadioButton3->Checked() && index != kOggAuto &&
      index > kOggMono44100Max)
    SetOggIndex(kOggMono44100Max);
}

void TForm1::RadioButton4Click() {
  if (ui.Wav->Checked()) {
    AudioIn1->SetInSampleRate(11025);
  } else if (ui.Mp3->Checked()) {
    AudioIn1->SetInSampleRate(22050);
    MP3Out1->SetSampleRate(sr22kHz);
    LimitMp3AtMost160();
  } else if (ui.Ogg->Checked()) {
    AudioIn1->SetInSampleRate(11025);
    const int index = ui.ComboBox2->ItemIndex();
    if (index != 14 && ui.RadioButton7->Checked() && index > 5) SetOggIndex(5);
    if (!ui.RadioButton7->Checked() && ui.ComboBox2->ItemIndex() > kOggMono11025Max)
      SetOggIndex(kOggMono11025Max);
  }
}

void TForm1::RadioButton5Click() {
  if (ui.Wav->Checked()) {
    AudioIn1->SetInSampleRate(22050);
  } else if (ui.Mp3->Checked()) {
    AudioIn1->SetInSampleRate(32000);
    MP3Out1->SetSampleRate(sr32kHz);
    LimitMp3AtLeast32();
    LimitMp3Not144();
  } else if (ui.Ogg->Checked()) {
    AudioIn1->SetInSampleRate(32000);
    if (ui.RadioButton3->Checked() && ui.ComboBox2->ItemIndex() > 8) SetOggIndex(9);
  }
}

void TForm1::RadioButton6Click() {
  AudioIn1->SetInSampleRate(44100);
  MP3Out1->SetSampleRate(sr44kHz);
  LimitMp3AtLeast32();
  LimitMp3Not144();
  LimitOggMono44100();
}

void TForm1::RadioButton3Click() {
  // An MP3 is recorded in stereo and mixed down by the encoder.
  if (!ui.Mp3->Checked()) AudioIn1->SetInChannels(1);
  MP3Out1->SetMode(MONO);
  const int index = ui.ComboBox2->ItemIndex();
  if (index == 14) return;
  if (ui.RadioButton4->Checked() && index > kOggMono11025Max) SetOggIndex(kOggMono11025Max);
  if (ui.RadioButton5->Checked() && ui.ComboBox2->ItemIndex() > 8) SetOggIndex(9);
  LimitOggMono44100();
}

void TForm1::RadioButton7Click() {
  AudioIn1->SetInChannels(2);
  MP3Out1->SetMode(STEREO);
  const int index = ui.ComboBox2->ItemIndex();
  if (index == 14) return;
  if (ui.RadioButton4->Checked() && index > 5) SetOggIndex(5);
}

void TForm1::hange() {
  const int index = ui.ComboBox1->ItemIndex();
  if (index < 0) return;
  MP3Out1->SetBitRate(static_cast<TMP3BitRate>(index));
  if (ui.RadioButton4->Checked() && index > 13) {
    ui.ComboBox1->SetItemIndex(13);
    MP3Out1->SetBitRate(br160);
    ShowMessage("Max 160");
  }
  if (!ui.RadioButton4->Checked() && index < 3) {
    ui.ComboBox1->SetItemIndex(3);
    MP3Out1->SetBitRate(br32);
    ShowMessage("Min 32");
  }
  if (LimitMp3Not144())
    ShowMessage(TextOr(tw::TextId::Mp3No144,
                       "An MP3 file at 32000 or 44100 Hz cannot have 144 kbit/s: "
                       "160 kbit/s is used."));
}

void TForm1::ComboBox2Change() {
  const int index = ui.ComboBox2->ItemIndex();
  if (index < 0) return;
  VorbisOut1->SetDesiredNominalBitrate(OggBitRateOfItem(index));
  if (index == 14) return;
  const bool stereo = ui.RadioButton7->Checked();
  if (ui.RadioButton4->Checked() && ui.ComboBox2->ItemIndex() > 5 && stereo) SetOggIndex(5);
  if (ui.RadioButton5->Checked() && ui.ComboBox2->ItemIndex() > 8 && ui.RadioButton3->Checked())
    SetOggIndex(9);
  if (ui.RadioButton4->Checked() && ui.ComboBox2->ItemIndex() > kOggMono11025Max && !stereo)
    SetOggIndex(kOggMono11025Max);
  LimitOggMono44100();
}

void TForm1::JvXPButton4Click() {
  OpenDialog1.Execute(this);
  ui.Edit1->setText(OpenDialog1.FileName);
}

void TForm1::JvXPButton5Click() {
  SaveDialog1.Execute(this);
  QString name = SaveDialog1.FileName;
  // Only the first occurrence of each extension counts, and only after the first character.
  const bool hasExtension =
      name.indexOf(".wav") >= 1 || name.indexOf(".mp3") >= 1 || name.indexOf(".ogg") >= 1;
  if (!hasExtension) {
    if (ui.Mp3->Checked())
      name += ".mp3";
    else if (ui.Wav->Checked())
      name += ".wav";
    else if (ui.Ogg->Checked())
      name += ".ogg";
  }
  ui.Edit2->setText(name);
}

// ---------------------------------------------------------------------------------------------
// Converting one file

QString TForm1::TempWavPath() { return QString::fromStdString(tw::ProgramFile("temp.wav")); }

void TForm1::JvXPButton7Click() {
  // While the encoder runs, or once the recording has ended, the button has nothing to do.
  if (phase_ != Phase::Idle && phase_ != Phase::Recording) return;
  trucc();
}

void TForm1::AbortStart(const QString& message, bool presetsApplied) {
  phase_ = Phase::Idle;
  restCaptions_ = RestCaptions::AfterRun;
  if (presetsApplied) Guard([this] { RevertPresets(); });
  Stabilize();
  ReportProblem(message);
}

void TForm1::ReportProblem(const QString& text) {
  if (closing_)
    std::fprintf(stderr, "%s\n", qUtf8Printable(text));
  else if (listRunning_)
    rowProblems_ << text;
  else
    ShowMessage(text);
}

void TForm1::trucc() {
  if (phase_ == Phase::Recording) {
    StopRecording();
    return;
  }
  if (phase_ != Phase::Idle || startWaiting_) return;

  // With no output name, the output is the input's whole name with the type's extension appended.
  // This comes before the input check, so that a missing input still leaves a name to correct.
  if (ui.Edit2->text().isEmpty() && ui.Wav->Checked()) ui.Edit2->setText(ui.Edit1->text() + ".wav");
  if (ui.Edit2->text().isEmpty() && ui.Mp3->Checked()) ui.Edit2->setText(ui.Edit1->text() + ".mp3");
  if (ui.Edit2->text().isEmpty() && ui.Ogg->Checked()) ui.Edit2->setText(ui.Edit1->text() + ".ogg");

  // A missing input asks for one; the user then clicks again.
  const QString midi = ui.Edit1->text();
  if (!tw::FileExists(Std(midi))) {
    OpenDialog1.Execute(this);
    ui.Edit1->setText(OpenDialog1.FileName);
    return;
  }

  // Nothing starts (no presets, no MIDI, no file) for a conversion that could not end well: one
  // that would write over its own input, or over the temporary recording (which the next MP3 or Ogg
  // Vorbis recording would delete), or one longer than the capture can record in the format set
  // now.
  const QString output = ui.Edit2->text();
  if (tw::SameFile(Std(output), Std(midi)) || tw::SameFile(Std(output), Std(TempWavPath()))) {
    ReportProblem(TextOr(tw::TextId::OutputIsInput,
                         "The output file %1 is the input MIDI file or the program's temporary "
                         "recording \"temp.wav\": the conversion would destroy it. Choose another "
                         "output file.")
                      .arg(Quoted(output)));
    return;
  }
  // An output that cannot be written is found now, before anything is recorded for nothing.
  std::string why;
  if (!runFile_.Plan(Std(output), why)) {
    ReportProblem(TextOr(tw::TextId::ConversionFailed, "The conversion failed:") + "\n" +
                  QString::fromStdString(why));
    return;
  }
  runType_ = ui.Wav->Checked()   ? OutputType::Wav
             : ui.Ogg->Checked() ? OutputType::Ogg
                                 : OutputType::Mp3;
  failures_.clear();
  // The recording shows at once, before anything that may take time: the synthesiser still loading
  // its SoundFont, the MIDI's length.
  phase_ = Phase::Recording;
  Stabilize();
  repaint();
  WaitForSynth(Phase::Recording);
  if (phase_ != Phase::Recording) {
    // Stopped (or the window closed) before anything was played or recorded: nothing to finish.
    // A list run names the row at its end, since nothing was written for it.
    phase_ = Phase::Idle;
    restCaptions_ = RestCaptions::AfterRun;
    Stabilize();
    if (listRunning_)
      rowProblems_ << TextOr(tw::TextId::ListRowStopped,
                             "The conversion was stopped before its recording began.");
    return;
  }

  int seconds = 0;
  try {
    seconds = GetRecordTime(midi);
  } catch (const ERecordTimeRefused& e) {
    AbortStart(QString::fromStdString(e.what()), false);
    return;
  } catch (const std::exception& e) {
    AbortStart(MidiMessage(e), false);
    return;
  }
  if (seconds > LongestRecordTime()) {
    AbortStart(TForm7::RefusalText(), false);
    return;
  }

  try {
    if (ui.CheckBox1->Checked()) ApplyPresets();
  } catch (const std::exception& e) {
    AbortStart(SettingsFileMessage(e), true);
    return;
  }
  AudioIn1->SetRecTime(seconds);

  // The MIDI starts before the recorder, so the recording does not miss its first notes. MP3 and
  // Ogg Vorbis outputs are recorded to the temporary file first and encoded from it.
  StartMidi(midi);
  if (runType_ == OutputType::Wav) {
    if (!runFile_.Create(why)) {
      CloseMidi();
      AbortStart(TextOr(tw::TextId::ConversionFailed, "The conversion failed:") + "\n" +
                     QString::fromStdString(why),
                 ui.CheckBox1->Checked());
      return;
    }
    WaveOut1->SetFileName(runFile_.WriteName());
  } else {
    QFile::remove(TempWavPath());
    WaveOut1->SetFileName(Std(TempWavPath()));
  }
  awaitingWave_ = true;
  WaveOut1->Run();

  // The rest of the conversion, the encoder step included, runs in the handlers that this wait
  // lets through.
  WaitOutputsIdle();

  // Every writer is idle: the MIDI, which plays on through the encoding, closes only now, and the
  // mixer gets the user's volumes back.
  WaveOut1->Stop();
  CloseMidi();
  ui.ProgressBar1->setValue(0);
  // A close has given the volumes back already.
  if (ui.CheckBox1->Checked() && !closing_) RevertPresets();
  phase_ = Phase::Idle;
  restCaptions_ = RestCaptions::AfterRun;
  Stabilize();
  const QStringList failures = std::exchange(failures_, {});
  for (const QString& failure : failures) ReportProblem(failure);
}

void TForm1::StopRecording(bool waitForOutput) {
  if (startWaiting_) {
    // Nothing plays or records yet: the starting click ends its start when its wait returns.
    phase_ = Phase::Finishing;
    Stabilize();
    return;
  }
  // The recording ends early; what was recorded so far is finished (and encoded) by the writer's
  // done event as at a normal end, inside this click's wait.
  phase_ = Phase::Finishing;
  ui.ProgressBar1->setValue(0);
  Stabilize();
  if (ui.CheckBox1->Checked()) RevertPresets();
  WaveOut1->Stop();
  CloseMidi();
  if (!waitForOutput) return;
  WaitOutputsIdle();
  ui.ProgressBar1->setValue(0);
  platform::ProcessMessages();
}

void TForm1::WaitForSynth(Phase running) {
  startWaiting_ = true;
  struct Done {
    TForm1* form;
    ~Done() {
      form->startWaiting_ = false;
      form->Stabilize();
    }
  } done{this};
  tw::WaitForSynth([this, running] { return phase_ == running; });
}

void TForm1::WaitOutputsIdle() {
  // In this order: the encoder step starts from the recorder's done event, so by the time the
  // recorder's wait ends the encoder is running and its wait covers the encoding.
  while (WaveOut1->Status() != 2 || awaitingWave_) tw::pause(300);
  while (MP3Out1->Status() != 2 || awaitingMp3_) tw::pause(300);
  while (VorbisOut1->Status() != 2 || awaitingOgg_) tw::pause(300);
}

bool* TForm1::AwaitingFlag(platform::TComponent* sink) {
  if (sink == WaveOut1) return &awaitingWave_;
  if (sink == MP3Out1) return &awaitingMp3_;
  if (sink == VorbisOut1) return &awaitingOgg_;
  return nullptr;
}

void TForm1::WaveOut1Done(platform::TComponent*) {
  awaitingWave_ = false;
  platform::ProcessMessages();
  if (runType_ == OutputType::Mp3) {
    ui.Button6->click();
  } else if (runType_ == OutputType::Ogg) {
    ui.Button7->click();
  } else {
    phase_ = Phase::Finishing;
    Stabilize();
    // The output is under its name before anyone is told it is there.
    if (CommitOutput() && !ListRuns() && !closing_) ShowMessage(Text(tw::TextId::WavOrListDone));
  }
}

bool TForm1::CommitOutput() {
  std::string why;
  if (runFile_.Commit(why)) return true;
  ConversionFailed(QString::fromStdString(why));
  return false;
}

void TForm1::RunEncoder(TACSFileOut* encoder, bool& awaiting) {
  phase_ = Phase::Encoding;
  Stabilize();
  std::string why;
  if (!runFile_.Create(why)) {
    phase_ = Phase::Finishing;
    Stabilize();
    ConversionFailed(QString::fromStdString(why));
    return;
  }
  WaveIn1->SetFileName(Std(TempWavPath()));
  encoder->SetFileName(runFile_.WriteName());
  awaiting = true;
  encoder->Run();
}

void TForm1::Button6Click() { RunEncoder(MP3Out1, awaitingMp3_); }

void TForm1::Button7Click() { RunEncoder(VorbisOut1, awaitingOgg_); }

void TForm1::MP3Out1Done(platform::TComponent* Sender) {
  if (bool* awaiting = AwaitingFlag(Sender)) *awaiting = false;
  platform::ProcessMessages();
  phase_ = Phase::Finishing;
  Stabilize();
  const bool complete = CommitOutput();
  // Within a list run the next row's recording replaces the temporary file.
  if (ListRuns() && !closing_) return;
  if (complete && !closing_) ShowMessage(Text(tw::TextId::EncodedOrPlayed));
  QFile::remove(TempWavPath());
}

void TForm1::VorbisOut1Done(platform::TComponent* Sender) { MP3Out1Done(Sender); }

void TForm1::WaveOut1Progress(platform::TComponent*) {
  ui.ProgressBar1->setValue(std::clamp(WaveOut1->Progress(), 0, 100));
}

void TForm1::MP3Out1Progress(platform::TComponent*) {
  ui.ProgressBar1->setValue(std::clamp(MP3Out1->Progress(), 0, 100));
}

void TForm1::VorbisOut1Progress(platform::TComponent*) {
  ui.ProgressBar1->setValue(std::clamp(VorbisOut1->Progress(), 0, 100));
}

void TForm1::OutputFailed(platform::TComponent* Sender, const std::exception& E) {
  // From the writer's worker too: the GUI thread shows it; the worker does not wait for the user.
  RunOnGuiThread(this, [this, Sender, message = QString::fromUtf8(E.what())] {
    if (bool* awaiting = AwaitingFlag(Sender)) *awaiting = false;
    // What the failed writer left of the output goes; the previous file keeps its name. The
    // recording of an MP3 or Ogg Vorbis conversion has made no output file yet.
    runFile_.Discard();
    ConversionFailed(message);
  });
}

void TForm1::ConversionFailed(const QString& message) {
  const QString text =
      TextOr(tw::TextId::ConversionFailed, "The conversion failed:") + "\n" + message;
  if (phase_ == Phase::Recording || phase_ == Phase::Encoding || phase_ == Phase::Finishing) {
    failures_ << text;  // shown when the conversion's wait ends
    return;
  }
  // The conversion has already ended (the failure arrived after its wait): say why.
  ReportProblem(text);
}

// ---------------------------------------------------------------------------------------------
// Windows, pages

namespace {

// Shows one of the program's other windows in front, when it exists.
void BringToFront(QWidget* window) {
  if (!window) return;
  window->show();
  window->raise();
  window->activateWindow();
}

}  // namespace

void TForm1::JvXPButton3Click() { BringToFront(Form3); }

void TForm1::JvXPButton13Click() { BringToFront(Form7); }

QString TForm1::WebsitePage() { return QString::fromStdString(tw::ProgramFile("home.html")); }

QString TForm1::HelpPage(int languageIndex) {
  if (languageIndex < 0 || languageIndex >= static_cast<int>(tw::kLanguages.size())) return {};
  return QString::fromStdString(
      tw::ProgramFile(std::string("help-") +
                      tw::kLanguages[static_cast<std::size_t>(languageIndex)].code + ".html"));
}

void TForm1::JvXPButton8Click() {
  platform::ShellExecuteA(Handle(), nullptr, Std(WebsitePage()).c_str(), nullptr, nullptr,
                          platform::SW_SHOWNORMAL);
}

void TForm1::JvXPButton11Click() {
  const QString page = HelpPage(ui.ComboBox3->ItemIndex());
  if (page.isEmpty()) return;
  platform::ShellExecuteA(Handle(), nullptr, Std(page).c_str(), nullptr, nullptr,
                          platform::SW_SHOWNORMAL);
}

// ---------------------------------------------------------------------------------------------
// Mixer presets

void TForm1::pdefsav() {
  const int device = Mixer->MixerId();
  try {
    tw::ApplySettingsFileToMixer(tw::ProgramFile("default.set"), *Mixer);
  } catch (...) {
    ReturnMixer(device);
    throw;
  }
  ReturnMixer(device);
}

void TForm1::ReturnMixer(int device) {
  // The walk over the devices leaves Mixer on the last one it wrote; the mixer settings window
  // writes to the device it shows.
  if (Form3) {
    Form3->ReturnMixerToShownDevice();
  } else if (device >= 0 && Mixer->MixerId() != device) {
    Mixer->SetMixerId(device);
  }
}

void TForm1::ApplyPresets() {
  presetsApplied_ = true;
  pdefsav();
}

void TForm1::RevertPresets() {
  restoresound();
  presetsApplied_ = false;
}

void TForm1::restoresound() {
  const int device = Mixer->MixerId();
  Snapshot.Restore(*Mixer);
  ReturnMixer(device);
}

void TForm1::JvXPCheckbox1Click() {
  if (!ui.CheckBox4->Checked()) return;
  const int device = Mixer->MixerId();
  Snapshot.Capture(*Mixer);
  ReturnMixer(device);
}

// ---------------------------------------------------------------------------------------------
// Conversion list

namespace {

// The rate texts of the three rate positions under each output type.
const char* const kWavRates[] = {"11025", "22050", "44100"};
const char* const kMp3Rates[] = {"22050", "32000", "44100"};
const char* const kOggRates[] = {"11025", "32000", "44100"};

const char kRowsRefusedEnglish[] =
    "These files were not added to the list: their output file is the input or output file of a "
    "row already in the list, or their input file is the output file of such a row, and one "
    "conversion would destroy the other's file:";

// The reason of the refusal text, for a row that a list run finds colliding when it comes to it:
// the row was added, so the text's lead-in up to its first colon is left out, and so is the colon
// that introduces the rows. A text without such a lead-in is kept whole.
QString CollisionReason(const QString& refusal) {
  const qsizetype colon = refusal.indexOf(':');
  QString reason =
      (colon >= 0 && colon + 1 < refusal.size() ? refusal.mid(colon + 1) : refusal).trimmed();
  if (reason.endsWith(':')) reason.chop(1);
  if (reason.isEmpty()) return refusal;
  reason[0] = reason[0].toUpper();
  return reason + ".";
}

// A box with a line per file outgrows the screen after a few dozen files and hides its OK button:
// past this many, the text names the first ones and the details, which scroll, name all.
constexpr int kNamesInText = 20;

void ShowWithNames(const QString& text, const QStringList& names) {
  if (names.size() <= kNamesInText) {
    ShowMessage(text + "\n" + names.join('\n'));
    return;
  }
  ShowMessage(
      text + "\n" + names.first(kNamesInText).join('\n') + "\n" +
          QString("... and %1 more, all listed in the details.").arg(names.size() - kNamesInText),
      names.join('\n'));
}

}  // namespace

void TForm1::JvXPButton12Click() { BringToFront(Form4); }

void TForm1::JvXPButton1Click() {
  const QString input = ui.Edit1->text();
  if (!tw::FileExists(Std(input))) {
    ShowMessage(Text(tw::TextId::ListInputMissing) + "\n" + input);
    return;
  }
  if (ui.Edit2->text().size() < 2) {
    ShowMessage(Text(tw::TextId::ListOutputTooShort));
    return;
  }
  if (!ListRowFiles().Admit(Std(input), Std(ui.Edit2->text()))) {
    ShowRefusedRows({input + " -> " + ui.Edit2->text()});
    return;
  }
  AddCurrentToList();
}

void TForm1::AddListColumns(QStringList& row) const {
  if (ui.Wav->Checked())
    AddWavColumns(row);
  else if (ui.Mp3->Checked())
    AddMp3Columns(row);
  else if (ui.Ogg->Checked())
    AddOggColumns(row);
}

namespace {

void AddRateAndChannels(const Ui::TForm1& ui, const char* const (&rates)[3], QStringList& row) {
  if (ui.RadioButton4->Checked()) row << rates[0];
  if (ui.RadioButton5->Checked()) row << rates[1];
  if (ui.RadioButton6->Checked()) row << rates[2];
  if (ui.RadioButton3->Checked()) row << "Mono";
  if (ui.RadioButton7->Checked()) row << "Stereo";
}

}  // namespace

void TForm1::AddWavColumns(QStringList& row) const {
  row << "Wav"
      << "-";
  AddRateAndChannels(ui, kWavRates, row);
}

void TForm1::AddMp3Columns(QStringList& row) const {
  row << "Mp3" << ui.ComboBox1->currentText();
  AddRateAndChannels(ui, kMp3Rates, row);
}

void TForm1::AddOggColumns(QStringList& row) const {
  row << "Ogg" << ui.ComboBox2->currentText();
  AddRateAndChannels(ui, kOggRates, row);
}

void TForm1::AddListRow(const QString& input, const QString& output) {
  if (!Form4) return;
  QStringList subItems;
  AddListColumns(subItems);
  subItems << input << output;
  Form4->ui.ListView1->AddRow(QString::fromStdString(tw::FileNameOf(Std(input))), subItems);
  ResizeListColumns();
}

void TForm1::AddCurrentToList() { AddListRow(ui.Edit1->text(), ui.Edit2->text()); }

tw::ListFiles TForm1::ListRowFiles() const {
  tw::ListFiles files;
  if (listRunning_ && !runRowInput_.isEmpty()) files.Add(Std(runRowInput_), Std(runRowOutput_));
  if (Form4) {
    const TListView* list = Form4->ui.ListView1;
    for (int row = 0; row < list->RowCount(); ++row)
      files.Add(Std(list->SubItem(row, 4)), Std(list->SubItem(row, 5)));
  }
  return files;
}

void TForm1::ShowRefusedRows(const QStringList& refused) {
  ShowWithNames(TextOr(tw::TextId::ListRowsRefused, kRowsRefusedEnglish), refused);
}

void TForm1::ResizeListColumns() {
  for (int a = 0; a <= 5; ++a) adresizescroll(a);
}

void TForm1::adresizescroll(int a) {
  if (!Form4) return;
  TListView* list = Form4->ui.ListView1;
  const int row = list->RowCount() - 1;
  if (row < 0) return;
  if (a == 0) {
    const int width = list->TextWidth(list->Caption(row));
    if (list->columnWidth(0) < width) list->setColumnWidth(0, width);
    return;
  }
  // Sub-item a is shown in column a + 1. Texts of a middling width leave their column alone.
  const int width = list->TextWidth(list->SubItem(row, a));
  if ((width > 150 || width <= 30) && list->columnWidth(a + 1) < width + 30)
    list->setColumnWidth(a + 1, width + 30);
}

void TForm1::WMDropFiles(const QStringList& paths) {
  if (!Form4) return;
  const char* extension = ui.Wav->Checked()   ? ".wav"
                          : ui.Mp3->Checked() ? ".mp3"
                          : ui.Ogg->Checked() ? ".ogg"
                                              : "";
  const std::string directory = Std(Form4->ui.Edit1->text());
  // Each file against the list as the drop's earlier files have left it.
  tw::ListFiles files = ListRowFiles();
  QStringList refused;
  for (const QString& path : paths) {
    const QString output = QString::fromStdString(
        tw::DroppedOutputName(directory, Std(path), extension, tw::ProgramFolder()));
    if (files.Admit(Std(path), Std(output)))
      AddListRow(path, output);
    else
      refused << path + " -> " + output;
  }
  if (!refused.isEmpty()) ShowRefusedRows(refused);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) { TakeDroppedFiles(event); }

void TForm1::dragMoveEvent(QDragMoveEvent* event) { TakeDroppedFiles(event); }

void TForm1::dropEvent(QDropEvent* event) {
  const QStringList paths = TakeDroppedFiles(event);
  if (!paths.isEmpty()) WMDropFiles(paths);
}

void TForm1::UseListRow(int row) {
  if (!Form4 || row < 0 || row >= Form4->ui.ListView1->RowCount()) return;
  QStringList subItems;
  for (int k = 0; k < 6; ++k) subItems << Form4->ui.ListView1->SubItem(row, k);
  LoadListRow(subItems, RowLoad::ForUse);
}

namespace {

// Checks the rate position whose text under the row's type is the row's rate.
void CheckRate(const Ui::TForm1& ui, const char* const (&rates)[3], const QString& rate) {
  TRadioButton* const buttons[] = {ui.RadioButton4, ui.RadioButton5, ui.RadioButton6};
  for (int position = 0; position < 3; ++position)
    if (rate == rates[position]) buttons[position]->SetChecked(true);
}

// Moves a bit-rate list from its current item, one item at a time, to the item showing `text`; it
// stops at the last item when none does.
void SeekItem(TComboBox* combo, const QString& text) {
  int index = std::max(combo->ItemIndex(), 0);
  while (combo->itemText(index) != text && index + 1 < combo->count()) ++index;
  combo->SetItemIndex(index);
}

}  // namespace

void TForm1::CheckChannels(const QString& channels) {
  TRadioButton* button = channels == "Mono"     ? ui.RadioButton3
                         : channels == "Stereo" ? ui.RadioButton7
                                                : nullptr;
  if (!button) return;
  // The capture's channel count depends on the type checked when the channel button was clicked
  // (an MP3 is recorded in stereo even when mono): a row of another type must set it again even
  // when its channel button is already checked.
  if (button->Checked())
    (button == ui.RadioButton3) ? RadioButton3Click() : RadioButton7Click();
  else
    button->SetChecked(true);
}

void TForm1::LoadListRow(const QStringList& subItems, RowLoad how) {
  const QString type = subItems.value(0), bitRate = subItems.value(1), rate = subItems.value(2),
                channels = subItems.value(3);
  ui.Edit1->setText(subItems.value(4));
  if (type == "Wav") {
    ui.Wav->SetChecked(true);
    CheckRate(ui, kWavRates, rate);
    CheckChannels(channels);
  } else if (type == "Mp3") {
    ui.Mp3->SetChecked(true);
    if (how == RowLoad::ForRun) ui.ComboBox1->SetItemIndex(0);
    CheckRate(ui, kMp3Rates, rate);
    CheckChannels(channels);
    if (how == RowLoad::ForUse) ui.ComboBox1->SetItemIndex(0);
    SeekItem(ui.ComboBox1, bitRate);
    MP3Out1->SetBitRate(static_cast<TMP3BitRate>(ui.ComboBox1->ItemIndex()));
  } else if (type == "Ogg") {
    ui.Ogg->SetChecked(true);
    CheckRate(ui, kOggRates, rate);
    CheckChannels(channels);
    ui.ComboBox2->SetItemIndex(0);
    SeekItem(ui.ComboBox2, bitRate);
    SetOggIndex(ui.ComboBox2->ItemIndex());
  }
  // After the type: a change of type swaps the extension of the output name shown, and the row's
  // own name must not be changed by it.
  ui.Edit2->setText(subItems.value(5));
}

void TForm1::JvXPButton2Click() {
  // One run at a time: a click during a run, or while anything else runs, does nothing.
  if (listRunning_ || phase_ != Phase::Idle || startWaiting_ || closing_ || !Form4) return;
  TListView* list = Form4->ui.ListView1;
  if (list->RowCount() == 0) return;
  SetListRuns(true);
  // Rows that could not be converted, each as "input: why", for the message at the end.
  QStringList skipped;
  // The input and output names of the rows this run has taken off the list and compared: a row
  // started, whatever came of it, with both (its output may have been written), a row refused with
  // its input only (it wrote nothing, but its MIDI file stays the user's).
  std::vector<std::pair<QString, QString>> taken;
  // The count is read again for every row: rows added or removed during the run count.
  while (list->RowCount() > 0 && !closing_) {
    QStringList subItems;
    for (int k = 0; k < 6; ++k) subItems << list->SubItem(0, k);
    LoadListRow(subItems, RowLoad::ForRun);
    list->Delete(0);
    const QString input = subItems.value(4), output = subItems.value(5);
    // Until it has passed its checks, the row is compared with the others, not with itself.
    runRowInput_.clear();
    runRowOutput_.clear();
    // A row whose MIDI file has gone is skipped: nobody is there to answer a file dialog.
    if (!tw::FileExists(Std(input))) {
      skipped << input + ": " + Text(tw::TextId::ListInputMissing);
      continue;
    }
    // The names were compared when the row was added, but what they reach may have changed since:
    // a link made or moved, or an earlier row's output that a file system blind to case takes for
    // this row's. So they are compared again as they are now, with the other rows still in the
    // list and with the rows taken before it, whose outputs may exist by now.
    tw::ListFiles others = ListRowFiles();
    for (const auto& [in, out] : taken) others.Add(Std(in), Std(out));
    if (!others.Admit(Std(input), Std(output))) {
      taken.emplace_back(input, QString());
      skipped << input + ": " +
                     CollisionReason(TextOr(tw::TextId::ListRowsRefused, kRowsRefusedEnglish));
      continue;
    }
    taken.emplace_back(input, output);
    // Off the list, its files still count for the rows added while it converts.
    runRowInput_ = input;
    runRowOutput_ = output;
    rowProblems_.clear();
    trucc();
    // The run waits on the phase: a conversion still winding down (a Stop that is finishing) ends
    // before the next row starts.
    while (phase_ != Phase::Idle) tw::pause(1000);
    for (const QString& problem : std::exchange(rowProblems_, {}))
      skipped << input + ": " + QString(problem).replace('\n', ' ');
  }
  runRowInput_.clear();
  runRowOutput_.clear();
  SetListRuns(false);
  if (closing_) return;
  const QString done = Text(tw::TextId::WavOrListDone);
  if (skipped.isEmpty())
    ShowMessage(done);
  else
    ShowWithNames(
        done + "\n\n" + TextOr(tw::TextId::ListSkipped, "These files were not converted:"),
        skipped);
}
