#include "wizard/Unit1.h"

#include <QCloseEvent>
#include <QColor>
#include <QPalette>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "audio/ACS_Audio.h"
#include "audio/ACS_Wave.h"
#include "converter/Errors.h"
#include "converter/LangTable.h"
#include "converter/MixerSettings.h"
#include "converter/Pause.h"
#include "converter/ProgramFolder.h"
#include "mixer/AMixer.h"
#include "platform/runtime/GuiThread.h"
#include "platform/softcard/MidiOut.h"
#include "platform/softcard/Softcard.h"
#include "platform/softcard/mci/Mci.h"
#include "platform/softcard/mixer/MixerApi.h"
#include "platform/system/Shell.h"
#include "widgets/TerminationSignals.h"
#include "widgets/Toolkit.h"

int WizardLanguage = 0;

namespace {

// Every text the language links set: the control (or header, or navigation button) it belongs to,
// its French text, its English text. "\r\n" marks a line break.
struct TextRow {
  const char* key;
  const char* french;
  const char* english;
};

constexpr TextRow kTexts[] = {
    {"osTitle", "Quel est votre systeme d'exploitation ?", "What is your operating system ?"},
    {"Label20", "Sous Vista, le mixeur son est désactivé par défaut, nous allons l'activer.",
     "With Vista, the Volume Mixer needs to be activated"},
    {"Button6", "Cliquez ici", "Click here"},
    {"Label22", "Cliquez sur suivant", "Click on next"},
    {"Label29",
     "Le menu des périphériques d'enregistrement à du apparaître.\r\nCelui-ci est usuellement "
     "accessible depuis votre panneau de configuration (rubrique son).",
     "The Recording Device menu should pop-up. Usually you can go to this menu\r\nfrom the "
     "\"sound\" section of your configuration panel."},
    {"Button7", "ensuite cliquez ici", "then click here"},
    {"Button8", "fermer les fenêtres puis cliquez ici", "Close the windows then click here"},
    {"Label21",
     "Faites un clic droit sur la piste de votre mixeur (mixage stéréo) et activez cette "
     "piste.\r\nSélectionnez cette piste comme piste par défaut.",
     "Right click on your Mixer device (usually \"stereo mix\", or \"What U Hear\") and activate "
     "it,\r\nthen set this device as default."},
    {"Label26",
     "- Affichez les propriétés, et vérifier dans le menu \"niveau\" que le mixeur a un niveau "
     "sonore acceptable :\r\nLe son doit être activé et le volume sonore à 20 environ.\r\nVous "
     "pourriez également accéder à ces menus en faisant un clic droit sur\r\n l'icône haut-parleur "
     "en bas à droite de votre écran.",
     "Display the properties of the mixer, and check the sound levels.\r\nThe sound should be "
     "activated, and the sound level next to 20.\r\nYou could also access to these menus if you "
     "right click on the speaker icon\r\nnear the tray at the bottom right side of the window."},
    {"Label30",
     "Si vous le désirez, le logiciel peut définir des pistes d'enregistrement pas défaut comme "
     "sous XP.\r\nMalgré tout le résultat peut être variable suivant les paramètres actuels de "
     "l'ordinateur.\r\nCliquez sur Suivant pour continuer, et Finir pour terminer.",
     "If you want, the software can now set default recording tracks like on XP.\r\nHowever the "
     "result of these settings can change a lot in function of the current settings of your "
     "computer\r\nClick on next to continue or on Finish."},
    {"next", "&Suivant >", "&Next >"},
    {"cancel", "&Annuler", "&Cancel"},
    {"back", "< &Précédent", "< &Back"},
    {"finish", "&Finir", "&Finish"},
    {"introTitle", "Cet utilitaire va:", "With this tool, you can:"},
    {"saveTitle", "Sauvegarde de vos paramètres de carte son...",
     "I save the current parameters of your sound card..."},
    {"zeroTitle", "Selection de la plage de lecture I", "Selection of the play track I"},
    {"playbackTitle", "Cliquez sur la piste qui correspond au synthétiseur",
     "Choose the track of the synthesizer"},
    {"playbackSubtitle",
     "Dans certains cas, il faut aussi sélectionner les pistes correspondant aux haut-parleurs "
     "pour entendre quelque chose.",
     "In order to ear something it is perhaps needed to select a speaker track as well..."},
    {"recordTitle", "Sélectionner maintenant la plage d enregistrement",
     "Now select your record track"},
    {"recordSubtitle", "Préférez une piste stéréo, ensuite cliquez sur test pour vérifier.",
     "It is better to choose a stereo track, then click on \"test\" to try"},
    {"doneTitle", "Vous avez configuré Tunewisp avec succès!",
     "Tunewisp has been configured with sucess"},
    {"doneSubtitle", "Saviez vous que vous pouviez chanter sur vos fichiers midi ?",
     "Did you know that you can sing on midi files?"},
    {"Label3",
     "- Sauver vos paramètres actuels de carte son.\r\n- Configurer les paramètres de "
     "lecture.\r\n- Configurer les paramètres de sauvegarde.\r\n- Créer un fichier de paramètres "
     "par défaut pour Tunewisp.",
     "- Save the current parameters of your sound card.\r\n- Configure the play parameters.\r\n- "
     "Configure the record parameters.\r\n- Create a default file for Tunewisp."},
    {"Label4", "Cliquez sur suivant pour commencer....", "Click on Next to start...."},
    {"Label2",
     "Assurez-vous de pouvoir lire un fichier Wav (merci\r\nd'essayer) ensuite cliquez sur Ok pour "
     "sauver.",
     "Be sure that you can read a Wav file(thanks to\r\ntry now) then click on \"Ok\" to save your "
     "parameters"},
    {"Label5", "Cliquez sur Ok pour mettre toutes les pistes à zéro.",
     "Click on \"Ok\" to set all tracks to zero"},
    {"Label6", "Des que vous entendez des notes de musique: passez à la suite.",
     "When you listen a sound go the next section."},
    {"Label8", "Ne sélectionnez que le minimum de pistes pour entendre un son.",
     "Be sure to select to minimal number of tracks to ear a sound."},
    {"Button5", "aide", "help"},
    {"Label9", "- On lit", "- I read the midi file"},
    {"Label10", "- On enregistre un fichier wav", "- I save a wav file (plz wait)"},
    {"Label11", "- On restaure le son de départ", "- I restore the sound settings"},
    {"Label12", "- On lit le fichier wav", "- I read the wav file"},
    {"Label13", "Si vous n'entendez rien:", "If you can't ear a sound:"},
    {"Label15", "- vérifier que vos haut-parleurs sont allumés",
     "- Check that your speakers are on"},
    {"Label16", "- changer de piste d'enregistrement", "- Try to change the record track"},
    {"Label23",
     "Si vous ne savez pas: si pour la lecture vous avez choisi\r\nune piste b=0, alors c'est "
     "probablement une piste b=1.",
     "If you don't know: If for the play settings you have\r\nchoosen a track b=0, then it is "
     "probably a track b=1."},
    {"Label14", "Vous venez de configurer Tunewisp pour une conversion Midi standard",
     "You have sucessfully configured Tunewisp for a standard Midi conversion"},
    {"Label17", "Il est possible de chanter sur vos fichiers Midi, mais pour ce faire, vous ",
     "It is possible to sing on your midi files, but for this purpose, you "},
    {"Label18", "devrez régler vos paramètres de carte son en fonction de votre matériel en",
     "have to set your record parameters in function of your hardware, and"},
    {"Label19", "prenant soin de décocher les options de son par défaut dans Tunewisp",
     "uncheck the standard settings within Tunewisp"},
    {"Label25", "CE REGLAGE PAR DEFAUT NE CONVIENT PAS\r\n NECESSAIREMENT A TOUS LES MORCEAUX",
     "THIS IS ONLY A DEFAULT SETTING \r\n THAT MAY NOT SUIT FOR ALL FILES"},
};

// The text of `key` in `language` (1 French, 2 English), line breaks as the label shows them.
QString Text(const char* key, int language) {
  for (const TextRow& row : kTexts) {
    if (std::string_view(row.key) != key) continue;
    QString text = QString::fromUtf8(language == 2 ? row.english : row.french);
    return text.replace("\r\n", "\n");
  }
  return QString();
}

// The two questions of the record page, chosen by WizardLanguage.
const char* const kCheckedMeansSelected[] = {
    "Coch\xC3\xA9 signifie selectionn\xC3\xA9 ?\r\n(Sur Vista probablement Non, sur Xp "
    "probablement "
    "Oui)",
    "Checked means enabled ?\r\n(On Vista probably No, on Xp probably Yes)"};
const char* const kKeepSettings[] = {
    "Garder ces parametres ?\r\nNe cliquez oui que si vous avez entendu le fichier wav, si vous ne "
    "savez pas, cliquez non et essayer encore",
    "Keep these settings ?\r\nPlease click yes only if you have heard the wav file, if you are not "
    "sure, click no and try again to see the difference"};
// The melody cannot sound on a card whose synthesiser has no SoundFont. The message names the
// melody ("%1" of the first part), then says why, by the card's case: none installed, the file
// named in SOFTCARD_SOUNDFONT missing, or a file the synthesiser cannot load (the cause's "%1").
// The playback page plays the melody for the user to hear the lines chosen: only the test's
// message speaks of the test.
const char* const kMelodyCannotPlay[2][2] = {
    {"La m\xC3\xA9lodie \"%1\" ne peut pas \xC3\xAAtre jou\xC3\xA9"
     "e : ",
     "The melody \"%1\" cannot be played: "},
    {"La m\xC3\xA9lodie de test \"%1\" ne peut pas \xC3\xAAtre jou\xC3\xA9"
     "e : ",
     "The test melody \"%1\" cannot be played: "}};
const char* const kSoundFontCause[3][2] = {
    {"la carte son n'a pas de SoundFont. Installez-en une (apt-get install fluid-soundfont-gm) ou "
     "donnez son chemin dans la variable SOFTCARD_SOUNDFONT.",
     "the sound card has no SoundFont. Install one (apt-get install fluid-soundfont-gm) or give "
     "its path in the variable SOFTCARD_SOUNDFONT."},
    {"le fichier SoundFont \"%1\" indiqu\xC3\xA9 dans la variable SOFTCARD_SOUNDFONT n'existe pas. "
     "Corrigez le chemin, ou supprimez la variable pour utiliser une SoundFont install\xC3\xA9"
     "e.",
     "the SoundFont file \"%1\" named in the variable SOFTCARD_SOUNDFONT does not exist. Correct "
     "the path, or remove the variable to use an installed SoundFont."},
    {"la carte son ne peut pas charger le fichier SoundFont \"%1\" : ce n'est pas une SoundFont, "
     "il est endommag\xC3\xA9 ou il ne peut pas \xC3\xAAtre lu. Donnez une autre SoundFont dans la "
     "variable SOFTCARD_SOUNDFONT, ou installez-en une (apt-get install fluid-soundfont-gm).",
     "the sound card cannot load the SoundFont file \"%1\": it is not a SoundFont, it is damaged "
     "or it cannot be read. Give another SoundFont in the variable SOFTCARD_SOUNDFONT, or install "
     "one (apt-get install fluid-soundfont-gm)."}};
const char* const kRunTestAgain[] = {" Relancez ensuite le test.", " Then run the test again."};

// The test's recording could not be written: "%1" is the file, "%2" why.
const char* const kRecordingFailed[] = {
    "L'enregistrement du test dans le fichier \"%1\" a \xC3\xA9"
    "chou\xC3\xA9 : %2\nLes r\xC3\xA9glages test\xC3\xA9s ne sont pas gard\xC3\xA9s.",
    "The test recording into the file \"%1\" failed: %2\nThe tested settings are not kept."};
// The tested settings could not become the default: "%1" the tested file, "%2" "default.set", "%3"
// why.
const char* const kNotMadeDefault[] = {
    "Les r\xC3\xA9glages test\xC3\xA9s n'ont pas pu devenir les r\xC3\xA9glages par d\xC3\xA9"
    "faut : le fichier \"%1\" n'a pas pu \xC3\xAAtre renomm\xC3\xA9 en \"%2\" : %3",
    "The tested settings could not be made the default: the file \"%1\" could not be renamed to "
    "\"%2\": %3"};

QString Question(const char* const (&texts)[2]) {
  return QString::fromUtf8(texts[WizardLanguage == 2 ? 1 : 0]);
}

platform::MCIERROR Mci(const std::string& command) {
  return platform::mciSendStringA(command.c_str(), nullptr, 0, nullptr);
}

std::string ShortPathOf(const std::string& path) {
  char shortPath[4096];
  const std::uint32_t length =
      platform::GetShortPathNameA(path.c_str(), shortPath, sizeof shortPath);
  return length > 0 && length < sizeof shortPath ? std::string(shortPath, length) : path;
}

void RemoveFile(const std::string& path) {
  if (tw::FileExists(path)) std::remove(path.c_str());
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  ui.setupUi(this);
  setWindowFlag(Qt::Tool);
  setWindowOpacity(235.0 / 255.0);
  QPalette silver = palette();
  silver.setColor(QPalette::Window, QColor(192, 192, 192));
  setPalette(silver);
  setAutoFillBackground(true);
  move(133, 118);

  ui.JvLinkLabel1->SetText(
      QString::fromUtf8("<link>Fran\xC3\xA7"
                        "ais</link>\r\n\r\n"));
  ui.JvLinkLabel2->SetText("<link>English</link>\r\n\r\n\r\n");
  ui.JvLinkLabel3->SetText("<link>Vista</link>");
  ui.JvLinkLabel4->SetText("<link>Xp</link>\r\n\r\n\r\n");
  ui.Label1->setText("Choisissez votre langue");
  ui.Label24->setText("Select your langage");
  for (QFont font = ui.JvLinkLabel1->font();
       auto* link : {ui.JvLinkLabel1, ui.JvLinkLabel2, ui.JvLinkLabel3, ui.JvLinkLabel4}) {
    font.setPointSize(12);
    link->setFont(font);
  }

  // The page order; the wizard opens on the first.
  for (TWizardPage* page :
       {ui.JvWizardInteriorPage6, ui.JvWizardInteriorPage1, ui.JvWizardInteriorPage2,
        ui.JvWizardInteriorPage3, ui.JvWizardInteriorPage4, ui.JvWizardInteriorPage5,
        ui.JvWizardInteriorPage7})
    ui.JvWizard1->AddPage(page);
  ui.JvWizard1->SetActivePage(ui.JvWizardInteriorPage6);
  ui.JvWizard1->raise();
  for (TListView* list : {ui.ListView1, ui.ListView2})
    list->SetColumns({"Pistes", "A", "B", "C"}, {255, 20, 20, 20});

  auto link = [this](TLinkLabel* label, void (TForm1::*handler)()) {
    label->OnClick = [this, handler] { Guarded([&] { (this->*handler)(); }); };
  };
  link(ui.JvLinkLabel1, &TForm1::JvLinkLabel1Click);
  link(ui.JvLinkLabel2, &TForm1::JvLinkLabel2Click);
  link(ui.JvLinkLabel3, &TForm1::JvLinkLabel3Click);
  link(ui.JvLinkLabel4, &TForm1::JvLinkLabel4Click);
  BindClick(this, ui.Button1, &TForm1::Button1Click);
  BindClick(this, ui.Button2, &TForm1::Button2Click);
  BindClick(this, ui.Button3, &TForm1::Button3Click);
  BindClick(this, ui.Button4, &TForm1::Button4Click);
  BindClick(this, ui.Button5, &TForm1::Button5Click);
  BindClick(this, ui.Button6, &TForm1::Button6Click);
  BindClick(this, ui.Button7, &TForm1::Button7Click);
  BindClick(this, ui.Button8, &TForm1::Button8Click);
  ui.ListView1->OnMouseDown = [this](Qt::MouseButton b, int x, int y) {
    Guarded([&] { ListView1MouseDown(b, x, y); });
  };
  ui.ListView1->OnClick = [this] { Guarded([this] { ListView1Click(); }); };
  ui.ListView2->OnMouseDown = [this](Qt::MouseButton b, int x, int y) {
    Guarded([&] { ListView2MouseDown(b, x, y); });
  };
  ui.ListView2->OnClick = [this] { Guarded([this] { ListView2Click(); }); };
  // The wizard control shows what its events raise.
  ui.JvWizardInteriorPage6->OnFinishButtonClick = [this](bool& stop) {
    JvWizardInteriorPage6FinishButtonClick(stop);
  };
  ui.JvWizardInteriorPage4->OnNextButtonClick = [this](bool& stop) {
    JvWizardInteriorPage4NextButtonClick(stop);
  };
  ui.JvWizardInteriorPage5->OnBackButtonClick = [this](bool& stop) {
    JvWizardInteriorPage5BackButtonClick(stop);
  };
  ui.JvWizard1->OnFinishButtonClick = [this] { JvWizard1FinishButtonClick(); };
  ui.JvWizard1->OnCancelButtonClick = [this] { JvWizard1CancelButtonClick(); };

  CreateComponents();
  Stabilize();
}

TForm1::~TForm1() { StopReports(this); }

QString TForm1::SecondWizardMessage() {
  const QString folder = QString::fromStdString(tw::ProgramFolder());
  return QString::fromUtf8(
             "L'assistant est d\xC3\xA9j\xC3\xA0 lanc\xC3\xA9 depuis le dossier \"%1\" : "
             "terminez-le avant d'en lancer un autre.\nThe wizard is already running from the "
             "folder \"%1\": finish it before you start another one.")
      .arg(folder);
}

void TForm1::GiveMixerBackAtExit() {
  if (!saveDone_) return;
  try {
    gload();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  }
  platform::mixerFlushState();
}

void TForm1::CreateComponents() {
  Mixer = new TAudioMixer(&components_);
  Mixer->SetMixerId(0);
  AudioIn1 = new TAudioIn(&components_);
  AudioIn1->SetBaseChannel(0);
  AudioIn1->SetInBitsPerSample(16);
  AudioIn1->SetInChannels(2);
  AudioIn1->SetInSampleRate(44000);
  AudioIn1->SetRecTime(600);
  WaveOut1 = new TWaveOut(&components_);
  WaveOut1->SetInput(AudioIn1);
  WaveOut1->SetSuspendWhenIdle(true);
  WaveOut1->SetFileMode(foRewrite);
  WaveOut1->SetWavType(wtPCM);
  WaveOut1->SetBlockSize(512);
  // The test learns from the writer how its recording ended, so that a recording that could not be
  // written (a full disk, a file that cannot be created) is reported instead of played and kept.
  WaveOut1->OnDone = [this](platform::TComponent*) { RecordingEnded(QString()); };
  WaveOut1->OnThreadException = [this](platform::TComponent*, const std::exception& e) {
    QString cause = QString::fromUtf8(e.what());
    if (cause.isEmpty()) cause = "?";
    RunOnGuiThread(this, [this, cause] { RecordingEnded(cause); });
  };
}

// ---------------------------------------------------------------------------------------------
// The window's state shown

void TForm1::ApplyTexts(int language) {
  for (const TextRow& row : kTexts) {
    const QString text = Text(row.key, language);
    if (auto* label = findChild<QLabel*>(row.key))
      label->setText(text);
    else if (auto* button = findChild<QPushButton*>(row.key))
      button->setText(text);
  }
  TWizard& wizard = *ui.JvWizard1;
  wizard.NextButton()->setText(Text("next", language));
  wizard.BackButton()->setText(Text("back", language));
  wizard.FinishButton()->setText(Text("finish", language));
  wizard.CancelButton()->setText(Text("cancel", language));
  ui.JvWizardInteriorPage1->SetTitle(Text("introTitle", language));
  ui.JvWizardInteriorPage2->SetTitle(Text("saveTitle", language));
  ui.JvWizardInteriorPage3->SetTitle(Text("zeroTitle", language));
  ui.JvWizardInteriorPage4->SetTitle(Text("playbackTitle", language));
  ui.JvWizardInteriorPage4->SetSubtitle(Text("playbackSubtitle", language));
  ui.JvWizardInteriorPage5->SetTitle(Text("recordTitle", language));
  ui.JvWizardInteriorPage5->SetSubtitle(Text("recordSubtitle", language));
  ui.JvWizardInteriorPage7->SetTitle(Text("doneTitle", language));
  ui.JvWizardInteriorPage7->SetSubtitle(Text("doneSubtitle", language));
}

void TForm1::Stabilize() {
  ui.JvLinkLabel1->setVisible(!wizardShown_);
  ui.JvLinkLabel2->setVisible(!wizardShown_);
  ui.Label1->setVisible(!wizardShown_);
  ui.JvWizard1->setVisible(wizardShown_);
  ApplyTexts(textsLanguage_);

  const bool choice = osStep_ == OsStep::Choice;
  const bool vista = osStep_ >= OsStep::Vista1;
  ui.JvLinkLabel3->setVisible(choice);
  ui.JvLinkLabel4->setVisible(choice);
  ui.Label22->setVisible(osStep_ == OsStep::Xp);
  ui.Label20->setVisible(vista);
  ui.Button6->setVisible(vista);
  ui.Label29->setVisible(osStep_ >= OsStep::Vista2);
  ui.Label21->setVisible(osStep_ >= OsStep::Vista2);
  ui.Button7->setVisible(osStep_ >= OsStep::Vista2);
  ui.Label26->setVisible(osStep_ >= OsStep::Vista3);
  ui.Button8->setVisible(osStep_ >= OsStep::Vista3);
  ui.Label30->setVisible(osStep_ == OsStep::Vista4);
  ui.JvWizardInteriorPage6->SetTitle(choice  ? Text("osTitle", textsLanguage_)
                                     : vista ? QString("Vista")
                                             : QString("Xp"));
  ui.JvWizardInteriorPage6->SetButtons(osStep_ == OsStep::Xp       ? wbNext | wbCancel
                                       : osStep_ == OsStep::Vista4 ? wbNext | wbFinish | wbCancel
                                                                   : wbCancel);

  auto backCancelAnd = [](bool next) { return wbBack | wbCancel | (next ? wbNext : 0u); };
  ui.JvWizardInteriorPage1->SetButtons(backCancelAnd(true));
  ui.JvWizardInteriorPage2->SetButtons(backCancelAnd(saveDone_));
  ui.JvWizardInteriorPage3->SetButtons(backCancelAnd(zeroDone_));
  ui.JvWizardInteriorPage4->SetButtons(backCancelAnd(playbackChosen_));
  ui.JvWizardInteriorPage5->SetButtons(backCancelAnd(recordApproved_));
  ui.JvWizardInteriorPage7->SetButtons(wbBack | wbFinish);

  ui.Button4->setVisible(testButtonShown_);
  QLabel* const testLabels[kLabels] = {ui.Label9,  ui.Label10, ui.Label11, ui.Label12,
                                       ui.Label13, ui.Label15, ui.Label16};
  for (int i = 0; i < kLabels; ++i) testLabels[i]->setVisible(testLabels_[i]);
  ui.Label23->setVisible(helpShown_);
}

// ---------------------------------------------------------------------------------------------
// Language and the operating-system page

void TForm1::JvLinkLabel1Click() { ChooseLanguage(1); }
void TForm1::JvLinkLabel2Click() { ChooseLanguage(2); }

void TForm1::ChooseLanguage(int language) {
  wizardShown_ = true;
  Stabilize();
  WizardLanguage = language;
  swithlang(language == 1 ? 1 : 0);
  // Only once the choice is stored: a language file that cannot be written leaves the window's own
  // texts.
  textsLanguage_ = language;
  Stabilize();
}

void TForm1::swithlang(int Index) {
  if (Index != 0 && Index != 1) return;
  tw::WriteLanguageFile(tw::ProgramFile("lang.ini"), Index == 0 ? "en" : "fr");
}

void TForm1::JvLinkLabel4Click() {
  osStep_ = OsStep::Xp;
  Stabilize();
}

void TForm1::JvLinkLabel3Click() {
  osStep_ = OsStep::Vista1;
  Stabilize();
}

void TForm1::Button6Click() {
  osStep_ = std::max(osStep_, OsStep::Vista2);
  Stabilize();
  const auto result =
      platform::ShellExecuteA(static_cast<std::uint32_t>(winId()), "open", "control.exe",
                              "mmsys.cpl,,1", nullptr, platform::SW_SHOW);
  if (result <= 32)
    ShowMessage(QString::fromStdString(platform::ShellErrorText(platform::GetLastError())));
}

void TForm1::Button7Click() {
  osStep_ = std::max(osStep_, OsStep::Vista3);
  Stabilize();
}

void TForm1::Button8Click() {
  osStep_ = OsStep::Vista4;
  Stabilize();
}

void TForm1::Button5Click() {
  helpShown_ = true;
  Stabilize();
}

void TForm1::CreateEmptyFile(const std::string& name) {
  tw::WriteSettingsFile(tw::ProgramFile(name), {});
}

void TForm1::JvWizardInteriorPage6FinishButtonClick(bool& /*Stop*/) {
  // After the zero page the lines are at zero, and an emptied "sav.set" could never give the
  // user's state back: it comes back first. A failure says why and keeps the wizard here.
  if (saveDone_) gload();
  for (const char* name : {"default.set", "lod.set", "sav.set"}) CreateEmptyFile(name);
}

void TForm1::JvWizard1FinishButtonClick() {
  gload();
  platform::ProcessMessages();
  const auto owner = static_cast<std::uint32_t>(winId());
  closingByWizard_ = true;
  close();
  const std::string tunewisp = tw::ProgramFolder() + "/Tunewisp.exe";
  platform::ShellExecuteA(owner, nullptr, tunewisp.c_str(), nullptr, nullptr,
                          platform::SW_SHOWNORMAL);
}

void TForm1::JvWizard1CancelButtonClick() {
  if (testRunning_) AbortTest();
  if (tw::FileExists(tw::ProgramFile("sav.set"))) gload();
  platform::ProcessMessages();
  closingByWizard_ = true;
  close();
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The wizard control covers the whole client area, however the user sizes the frame.
  ui.JvWizard1->setGeometry(rect());
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!closingByWizard_) {
    // Closed by its frame. Zeroed lines are system-wide on this card and would become what
    // Tunewisp records as the user's volumes next: give back the state this run saved. A "sav.set"
    // from an earlier run is not this user's current state and is left alone.
    if (testRunning_) AbortTest();
    if (saveDone_) Guarded([this] { gload(); });
  }
  tw::MixerGivenBack();
  QWidget::closeEvent(event);
  if (OnClosed) OnClosed();
}

// ---------------------------------------------------------------------------------------------
// Mixer preparation

void TForm1::gload() { tw::ApplySettingsFileToMixer(tw::ProgramFile("sav.set"), *Mixer); }
void TForm1::pload() { tw::ApplySettingsFileToMixer(tw::ProgramFile("lod.set"), *Mixer); }

void TForm1::settozero() {
  tw::ForEachSourceLine([this](TAudioMixer& walker, int i, int d, int c) {
    std::int32_t left = -1, right = -1, mute = -1;
    bool stereo = false, volDisabled = false, muteDisabled = false, isSelect = false;
    walker.GetVolume(d, c, left, right, mute, stereo, volDisabled, muteDisabled, isSelect);
    Mixer->SetMixerId(i);
    // Writing a selection back on a single-select control would ask for none selected, which the
    // card refuses: such lines keep their selection and get only their volume.
    Mixer->SetVolume(d, c, 0, 0, isSelect ? -1 : mute);
  });
}

void TForm1::loadnames() {
  ui.ListView1->clear();
  ui.ListView2->clear();
  tw::ForEachSourceLine([this](TAudioMixer& walker, int i, int d, int c) {
    const QString caption =
        QString::fromLocal8Bit(walker.ProductName()) + " | " +
        QString::fromLocal8Bit(walker.Destinations->Get(d)->Connections->Get(c)->LineInfo.szName);
    const QStringList numbers{QString::number(i), QString::number(d), QString::number(c)};
    ui.ListView1->AddRow(caption, numbers);
    ui.ListView2->AddRow(caption, numbers);
  });
}

void TForm1::SetRowVolume(const TListView* list, int row, int left, int right, int muteOrSelect) {
  Mixer->SetMixerId(tw::StrToInt(list->SubItem(row, 0).toStdString()));
  Mixer->SetVolume(tw::StrToInt(list->SubItem(row, 1).toStdString()),
                   tw::StrToInt(list->SubItem(row, 2).toStdString()), left, right, muteOrSelect);
}

void TForm1::Button1Click() {
  // Once this run has zeroed the lines, saving again would put zeros where the user's own state
  // belongs, and every ending would give the user zeros: the first save stands.
  if (zeroDone_) return;
  tw::savmixsettoxml("sav.set");
  platform::ProcessMessages();
  if (tw::FileExists(tw::ProgramFile("sav.set"))) {
    saveDone_ = true;
    Stabilize();
  }
}

void TForm1::Button2Click() {
  settozero();
  loadnames();
  zeroDone_ = true;
  Stabilize();
}

void TForm1::ZeroAfterTest() {
  // The test gave the user's own volumes back; a playback line raised on top of them would put them
  // all, recording lines included, into "lod.set" and the next default.
  restoredByTest_ = false;
  settozero();
  for (int row = 0; row < ui.ListView1->RowCount(); ++row)
    if (ui.ListView1->Checked(row)) SetRowVolume(ui.ListView1, row, 25000, 25000, -1);
  // The next test wants a recording line chosen on these lines.
  HideTest();
  Stabilize();
}

void TForm1::ListView1MouseDown(Qt::MouseButton /*Button*/, int X, int Y) {
  if (restoredByTest_) ZeroAfterTest();
  const int row = ui.ListView1->RowAt(QPoint(X, Y));
  if (row < 0) return;
  if (ui.ListView1->Checked(row))
    ui.ListView1->SetSelected(row);
  else
    SetRowVolume(ui.ListView1, row, 0, 0, -1);
}

void TForm1::ListView1Click() {
  if (restoredByTest_) ZeroAfterTest();
  StopMidi();
  if (ui.ListView1->SelCount() != 1) return;
  const int row = ui.ListView1->Selected();
  ui.ListView1->SetChecked(row, true);
  // The check shows before the melody, which waits for the synthesiser on the first click of a
  // session; the window stays painted meanwhile. A "Reset", Cancel or Finish in that time leaves
  // nothing to play.
  ui.ListView1->repaint();
  SetRowVolume(ui.ListView1, row, 25000, 25000, -1);
  auto wanted = [this, row] { return !closingByWizard_ && ui.ListView1->Checked(row); };
  tw::WaitForSynth(wanted);
  if (!wanted()) return;
  dimidi();
  tw::savmixsettoxml("lod.set");
  playbackChosen_ = true;
  Stabilize();
}

void TForm1::Button3Click() {
  playbackChosen_ = false;
  Stabilize();
  StopMidi();
  for (int row = 0; row < ui.ListView1->RowCount(); ++row) ui.ListView1->SetChecked(row, false);
  settozero();
}

void TForm1::JvWizardInteriorPage4NextButtonClick(bool& /*Stop*/) { StopMidi(); }

void TForm1::ListView2MouseDown(Qt::MouseButton /*Button*/, int X, int Y) {
  const int row = ui.ListView2->RowAt(QPoint(X, Y));
  if (row >= 0 && ui.ListView2->Checked(row)) ui.ListView2->SetSelected(row);
}

void TForm1::ListView2Click() {
  TListView& list = *ui.ListView2;
  if (list.SelCount() != 1) return;
  const int row = list.Selected();
  list.SetChecked(row, true);
  // A playback line cannot also be the recording line.
  if (ui.ListView1->Checked(row)) {
    list.SetChecked(row, false);
    return;
  }
  for (int r = 0; r < list.RowCount(); ++r) list.SetChecked(r, false);
  restoredByTest_ = false;
  pload();
  testButtonShown_ = list.SelCount() == 1;
  Stabilize();
  const TAnswer answer = AskQuestion(Question(kCheckedMeansSelected), true);
  if (answer == TAnswer::Cancel || list.SelCount() != 1) return;
  const int chosen = list.Selected();
  list.SetChecked(chosen, true);
  SetRowVolume(&list, chosen, 12800, 12800, answer == TAnswer::Yes ? 1 : 0);
}

// ---------------------------------------------------------------------------------------------
// Sound

bool TForm1::PlayFile(const std::string& path, const char* missing, bool onSynth) {
  if (!tw::FileExists(path)) {
    ShowMessage(missing);
    return true;
  }
  Mci("close song");
  // A synthesiser without a SoundFont plays silence: say what is missing rather than let the user
  // listen for a melody that cannot come.
  if (onSynth && platform::softcard::Card::Instance().SoundFont().empty()) {
    // The record page plays the melody only for its test.
    ShowMessage(NoSoundFontMessage(path, platform::softcard::Card::Instance().SoundFontReport(),
                                   ui.JvWizard1->ActivePage() == ui.JvWizardInteriorPage5));
    return false;
  }
  Mci("open " + ShortPathOf(path) + " alias song");
  Mci("play song");
  return true;
}

QString TForm1::NoSoundFontMessage(const std::string& melody,
                                   const platform::softcard::SoundFontStatus& status,
                                   bool forTest) {
  using Kind = platform::softcard::SoundFontStatus::Kind;
  const int cause = status.kind == Kind::NamedMissing ? 1 : status.kind == Kind::Unloadable ? 2 : 0;
  // Each part filled on its own, so that a "%" in one name is never taken for a place marker.
  QString why = Question(kSoundFontCause[cause]);
  if (!status.file.empty()) why = why.arg(QString::fromStdString(status.file));
  return Question(kMelodyCannotPlay[forTest ? 1 : 0]).arg(QString::fromStdString(melody)) + why +
         (forTest ? Question(kRunTestAgain) : QString());
}

bool TForm1::PlayMidi(const std::string& Path) { return PlayFile(Path, "no midi file", true); }
bool TForm1::Playwav(const std::string& Path) { return PlayFile(Path, "no wav file", false); }
bool TForm1::dimidi() { return PlayMidi(tw::ProgramFile("tesr.mid")); }
bool TForm1::diwav() { return Playwav(tw::ProgramFile("t.wav")); }
void TForm1::StopMidi() { Mci("stop song"); }

void TForm1::playpause() {
  while (WaveOut1->Status() == 0) tw::pause(300);
}

void TForm1::HideTest() {
  testButtonShown_ = false;
  for (bool& shown : testLabels_) shown = false;
}

void TForm1::Button4Click() {
  // A second click would rewrite the tested state in the middle of the recording, or save the
  // user's restored state: one test at a time.
  if (testRunning_) return;
  testRunning_ = true;
  testAborted_ = false;
  // However the test ends, the state it wrote goes, unless the user's Yes made it the default.
  struct Running {
    TForm1& form;
    std::string tested;
    ~Running() {
      form.testRunning_ = false;
      RemoveFile(tested);
    }
  } running{*this, tw::ProgramFile(kTestedSettings)};
  // Until this test is answered, the record page does not lead on.
  recordApproved_ = false;
  Stabilize();
  auto show = [this](TestLabel label) {
    testLabels_[label] = true;
    Stabilize();
  };

  // After an earlier test the mixer holds the user's own state again: record with the set-up that
  // test recorded with, not with the user's state.
  if (restoredByTest_)
    for (const tw::MixerSettingsLine& line : testedState_) tw::ApplySettingsLine(line, *Mixer);
  restoredByTest_ = false;
  platform::midiOutSetVolume(0, 0x33333333);
  std::vector<tw::MixerSettingsLine> state = tw::CurrentMixerSettings();
  tw::WriteSettingsFile(running.tested, state);  // a failure ends the test before it records
  testedState_ = std::move(state);
  AudioIn1->SetRecTime(6);
  WaveOut1->SetFileName(tw::ProgramFile("t.wav"));
  // Without a sound from the synthesiser the test would record silence and ask the user to judge
  // it: it ends here.
  if (!dimidi()) return;
  show(kRead);
  recordingEnded_ = false;
  recordingFailure_.clear();
  WaveOut1->Run();
  show(kRecord);
  playpause();
  // The writer reports how the recording ended just after it has gone idle.
  while (!recordingEnded_ && !testAborted_) tw::pause(10);
  if (testAborted_) return;
  gload();
  restoredByTest_ = true;
  if (!recordingFailure_.isEmpty()) {
    ShowMessage(Question(kRecordingFailed)
                    .arg(QString::fromStdString(tw::ProgramFile("t.wav")), recordingFailure_));
    if (testAborted_) return;
    DropTest();
    Stabilize();
    return;
  }
  show(kRestore);
  diwav();
  show(kReadWav);
  tw::pause(1000);
  show(kNoSound);
  tw::pause(1000);
  tw::pause(1000);
  show(kSpeakers);
  tw::pause(1000);
  show(kOtherTrack);
  tw::pause(1000);
  if (testAborted_) return;

  const TAnswer answer = AskQuestion(Question(kKeepSettings), false);
  // A termination signal closes the box as it closes the window: nobody answered.
  if (testAborted_) return;
  if (answer == TAnswer::Yes) {
    const std::string defaultSet = tw::ProgramFile("default.set");
    std::error_code error;
    std::filesystem::rename(running.tested, defaultSet, error);
    if (error) {
      ShowMessage(Question(kNotMadeDefault)
                      .arg(QString::fromStdString(running.tested),
                           QString::fromStdString(defaultSet),
                           QString::fromStdString(error.message())));
      if (testAborted_) return;
      DropTest();
    } else {
      recordApproved_ = true;
    }
  } else {
    DropTest();
  }
  Stabilize();
}

void TForm1::DropTest() {
  recordApproved_ = false;
  RemoveFile(tw::ProgramFile("default.set"));
  HideTest();
}

void TForm1::RecordingEnded(const QString& failure) {
  recordingEnded_ = true;
  recordingFailure_ = failure;
}

void TForm1::AbortTest() {
  testAborted_ = true;
  if (WaveOut1->Status() == 0) WaveOut1->Stop();
  Mci("close song");
}

void TForm1::JvWizardInteriorPage5BackButtonClick(bool& /*Stop*/) {
  StopMidi();
  for (int r = 0; r < ui.ListView2->RowCount(); ++r) ui.ListView2->SetChecked(r, false);
  HideTest();
  Stabilize();
  if (WaveOut1->Status() == 0) WaveOut1->Stop();
}
