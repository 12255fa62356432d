#include "converter/Unit1.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QWindow>
#include <fstream>

#include "converter/Errors.h"
#include "converter/Pause.h"
#include "converter/ProgramFolder.h"
#include "converter/Toolkit.h"
#include "converter/Unit7.h"
#include "platform/Files.h"
#include "platform/Mci.h"
#include "platform/Shell.h"

TForm1* Form1 = nullptr;

namespace {

std::string Std(const QString& s) { return s.toStdString(); }

void Mci(const std::string& command) {
  platform::mciSendStringA(command.c_str(), nullptr, 0, nullptr);
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

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  ui.setupUi(this);
  Form1 = this;
  OpenDialog1.Filter = "Midi|*.mid";
  // What the window description says beyond geometry and names: the hidden controls.
  ui.ComboBox1->hide();
  ui.ComboBox2->hide();
  ui.Button1->hide();
  ui.Button6->hide();
  ui.Button7->hide();

  Bind(ui.JvXPButton6, &TForm1::JvXPButton6Click);
  Bind(ui.JvXPButton13, &TForm1::JvXPButton13Click);
  Bind(ui.JvXPButton8, &TForm1::JvXPButton8Click);
  Bind(ui.JvXPButton11, &TForm1::JvXPButton11Click);
  Bind(ui.Button1, &TForm1::Button1Click);
  ui.ComboBox3->OnChange = [this] { Guard([this] { ComboBox3Change(); }); };

  connect(qApp, &QGuiApplication::focusWindowChanged, this,
          [this](QWindow* window) { ProgramWindowActivated(window); });

  Guard([this] { FormCreate(); });
}

TForm1::~TForm1() {
  if (Form1 == this) Form1 = nullptr;
}

void TForm1::Bind(QPushButton* button, void (TForm1::*handler)()) {
  connect(button, &QPushButton::clicked, this,
          [this, handler] { Guard([&] { (this->*handler)(); }); });
}

void TForm1::Guard(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowMessage(QString::fromStdString(e.what()));
  }
}

QString TForm1::TextOr(int n, const char* english) const {
  const QString text = Text(n);
  return text.isEmpty() ? QString::fromUtf8(english) : text;
}

QString TForm1::Text(int n) const {
  if (n < 0 || n >= tw::kLangTextCount) return QString();
  return QString::fromStdString(LangTexts[static_cast<std::size_t>(n)]);
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
    tw::WriteLanguageFile(langFile, "en");
    PendingLanguage = 1;
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
  if (mine && (fromElsewhere || firstActivation_)) Guard([this] { FormActivate(); });
}

void TForm1::FormActivate() {
  const bool first = firstActivation_;
  firstActivation_ = false;
  if (!tw::FileExists(tw::ProgramFile("default.set"))) {
    const std::string folder = tw::ProgramFolder();
    platform::SetCurrentDirectoryA(folder.c_str());
    const std::string wizard = folder + "/Knobwarden.exe";
    platform::ShellExecuteA(0, nullptr, wizard.c_str(), nullptr, nullptr, platform::SW_SHOWNORMAL);
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
  // A playback must not go on unheard once its window is gone.
  if (phase_ == Phase::Playing) Guard([this] { JvXPButton6Click(); });
  Guard([this] { FormClose(); });
  event->accept();
  if (OnClosed) OnClosed();
}

// ---------------------------------------------------------------------------------------------
// Languages

void TForm1::LoadLanguageFile(const QString& FileName) {
  tw::LoadTextTable(tw::ProgramFile(Std(FileName)), LangTexts);
}

void TForm1::tolang() {
  const bool conversionRuns =
      phase_ == Phase::Recording || phase_ == Phase::Encoding || phase_ == Phase::Finishing;
  const bool anyRuns = phase_ != Phase::Idle || listRunning_;
  ui.GroupBox5->setTitle(Text(1));
  ui.GroupBox3->setTitle(Text(2));
  ui.GroupBox1->setTitle(Text(3));
  ui.GroupBox4->setTitle(Text(4));
  ui.GroupBox2->setTitle(Text(5));
  // The captions that carry the phase of a running operation keep it.
  if (!anyRuns) ui.Label3->setText(Text(6));
  ui.Output->setTitle(Text(7));
  ui.JvXPButton4->setText(Text(8));
  ui.JvXPButton5->setText(Text(9));
  if (!listRunning_) ui.JvXPButton2->setText(Text(10));
  ui.JvXPButton1->setText(Text(11));
  ui.JvXPButton12->setText(Text(12));
  if (!conversionRuns) ui.JvXPButton7->setText(Text(13));
  ui.JvXPButton13->setText(Text(14));
  if (phase_ != Phase::Playing) ui.JvXPButton6->setText(Text(15));
  ui.JvXPButton3->setText(Text(16));
  ui.CheckBox1->setText(Text(17));
  ui.CheckBox4->setText(Text(19));
  ui.JvXPButton11->setText(Text(20));
  ui.JvXPButton8->setText(Text(22));
  setWindowTitle(Text(23));
  if (Form7) Form7->ui.Label1->setText(Text(56));
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
    control->setGeometry(g.left, g.top, g.width, g.height);
  }
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
    const QRect g = control->geometry();
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
  Mci("open " + ShortPath(file) + " alias song");
  Mci("set song time format ms");
  const std::string reply = MciQuery("status song length");
  Mci("close song");
  MidiLengthMs = tw::StrToInt(reply);
  return MidiLengthMs;
}

int TForm1::GetMidiPosition() {
  if (phase_ != Phase::Playing) return 0;
  Mci("set song time format milliseconds");
  return tw::StrToInt(MciQuery("STATUS SONG POSITION"));
}

int TForm1::GetRecordTime(const QString& path) {
  const int length = GetMidiLength(path);
  const QString typed = Form7 ? Form7->ui.Edit1->text() : QString();
  int seconds = 0;
  switch (TForm7::ParseRecordTime(typed, seconds)) {
    case TForm7::RecordTime::Empty:
      return length / 1000 + 1;
    case TForm7::RecordTime::Valid:
      return seconds;
    case TForm7::RecordTime::Invalid:
      break;
  }
  throw tw::EConvertError(Std(TForm7::RefusalText()));
}

void TForm1::EndPlayback(bool revertPresets) {
  phase_ = Phase::Idle;
  ui.ProgressBar1->setValue(0);
  ui.JvXPButton6->setText(Text(67));
  ui.JvXPButton2->setText(Text(68));
  ui.JvXPButton7->setEnabled(true);
  ui.JvXPButton2->setEnabled(true);
  ui.Label3->setText(Text(63));
  if (revertPresets) RevertPresets();
  CloseMidi();
  ui.ComboBox3->setEnabled(true);
}

void TForm1::JvXPButton6Click() {
  ui.ComboBox3->setEnabled(false);
  if (phase_ == Phase::Playing) {
    // The Stop click, nested inside the starting click's wait, which sees the phase change and
    // leaves its loop.
    EndPlayback(ui.CheckBox1->Checked());
    return;
  }
  if (phase_ != Phase::Idle) return;  // the button is disabled while a conversion runs

  const QString midi = ui.Edit1->text();
  if (!tw::FileExists(Std(midi))) {
    OpenDialog1.Execute(this);
    ui.ComboBox3->setEnabled(true);
    ui.Edit1->setText(OpenDialog1.FileName);
    return;
  }
  try {
    GetMidiLength(midi);
  } catch (const std::exception& e) {
    // The playback never started: give the user the reason and the controls back.
    ui.ComboBox3->setEnabled(true);
    ShowMessage(TextOr(kTextMidiUnreadable, "The length of this MIDI file could not be read:") +
                "\n" + midi + "\n" + QString::fromStdString(e.what()));
    return;
  }
  ui.Label3->setText(Text(69));
  ui.JvXPButton7->setEnabled(false);
  ui.JvXPButton2->setEnabled(false);
  ui.JvXPButton6->setText(Text(70));
  phase_ = Phase::Playing;
  StartMidi(midi);

  bool endedByItself = false;
  try {
    for (;;) {
      if (phase_ != Phase::Playing) break;
      const int position = GetMidiPosition();
      if (position >= MidiLengthMs) {
        endedByItself = true;
        break;
      }
      ui.ProgressBar1->setValue(
          static_cast<int>(static_cast<std::int64_t>(position) * 100 / MidiLengthMs));
      tw::pause(500);
    }
  } catch (const std::exception& e) {
    // The sequencer stopped answering: end the playback as a Stop would, and say why.
    if (phase_ == Phase::Playing) EndPlayback(ui.CheckBox1->Checked());
    ShowMessage(QString::fromStdString(e.what()));
    return;
  }
  ui.ProgressBar1->setValue(0);
  if (endedByItself) {
    CloseMidi();
    if (ui.CheckBox1->Checked()) RevertPresets();
    phase_ = Phase::Idle;
    ui.ComboBox3->setEnabled(true);
    ShowMessage(Text(62));
    ui.JvXPButton7->setEnabled(true);
    ui.JvXPButton2->setEnabled(true);
    ui.Label3->setText(Text(63));
  }
  ui.JvXPButton6->setText(Text(67));
}

// ---------------------------------------------------------------------------------------------
// Windows, pages

void TForm1::JvXPButton13Click() {
  if (!Form7) return;
  Form7->show();
  Form7->raise();
  Form7->activateWindow();
}

QString TForm1::WebsitePage() { return QString::fromStdString(tw::ProgramFile("home.html")); }

QString TForm1::HelpPage(int languageIndex) {
  if (languageIndex < 0 || languageIndex >= static_cast<int>(tw::kLanguages.size())) return {};
  return QString::fromStdString(
      tw::ProgramFile(std::string("help-") +
                      tw::kLanguages[static_cast<std::size_t>(languageIndex)].code + ".html"));
}

void TForm1::JvXPButton8Click() {
  platform::ShellExecuteA(0, nullptr, Std(WebsitePage()).c_str(), nullptr, nullptr,
                          platform::SW_SHOWNORMAL);
}

void TForm1::JvXPButton11Click() {
  const QString page = HelpPage(ui.ComboBox3->ItemIndex());
  if (page.isEmpty()) return;
  platform::ShellExecuteA(0, nullptr, Std(page).c_str(), nullptr, nullptr, platform::SW_SHOWNORMAL);
}

// ---------------------------------------------------------------------------------------------
// Mixer presets

void TForm1::RevertPresets() { restoresound(); }

void TForm1::restoresound() {
  // The volume snapshot is taken and kept by the mixer settings window; until that window is part
  // of the program there is no snapshot to write back.
}
