#include "platform/softcard/panel/Panel.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cstring>

namespace platform::softcard {
namespace {

QString Name(const char* text, std::size_t size) {
  return QString::fromUtf8(text, static_cast<qsizetype>(strnlen(text, size)));
}

std::vector<MIXERCONTROL> ControlsOf(HMIXER mixer, const MIXERLINE& line) {
  std::vector<MIXERCONTROL> controls(line.cControls);
  if (controls.empty()) return controls;
  MIXERLINECONTROLS query;
  query.dwLineID = line.dwLineID;
  query.cControls = line.cControls;
  query.pamxctrl = controls.data();
  if (mixerGetLineControlsA(mixer, &query, MIXER_GETLINECONTROLSF_ALL) != MMSYSERR_NOERROR)
    controls.clear();
  return controls;
}

// The first control of `type` that is (or is not) a list; null when the line has none.
const MIXERCONTROL* Find(const std::vector<MIXERCONTROL>& controls, DWORD type, bool list) {
  for (const auto& c : controls)
    if (c.dwControlType == type && ((c.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) != 0) == list)
      return &c;
  return nullptr;
}

DWORD ChannelsOf(const MIXERCONTROL& control, const MIXERLINE& line) {
  return (control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) || line.cChannels == 0
             ? 1
             : line.cChannels;
}

}  // namespace

int PanelTabOfArguments(const QStringList& arguments) {
  for (const QString& argument : arguments)
    if (argument.trimmed().endsWith(",,1")) return 1;
  return 0;
}

TPanelWindow::TPanelWindow(int tab, QWidget* parent) : QWidget(parent) {
  setWindowTitle("Softcard Mixer Panel");
  auto* layout = new QVBoxLayout(this);
  const UINT devices = mixerGetNumDevs();
  if (devices == 0) layout->addWidget(new QLabel("The sound card has no mixer device.", this));
  for (UINT device = 0; device < devices; ++device) AddDevice(device, this, tab);
  connect(&poll_, &QTimer::timeout, this, &TPanelWindow::Refresh);
  poll_.start(kPollMs);
  Refresh();
}

TPanelWindow::~TPanelWindow() {
  poll_.stop();
  for (HMIXER h : handles_) mixerClose(h);
}

void TPanelWindow::AddDevice(UINT device, QWidget* parent, int tab) {
  MIXERCAPS caps;
  mixerGetDevCapsA(device, &caps, sizeof caps);
  auto* box = new QGroupBox(Name(caps.szPname, MAXPNAMELEN), parent);
  parent->layout()->addWidget(box);
  auto* boxLayout = new QVBoxLayout(box);
  HMIXER mixer = 0;
  if (mixerOpen(&mixer, device, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
    boxLayout->addWidget(new QLabel("This mixer device cannot be opened.", box));
    return;
  }
  handles_.push_back(mixer);
  auto* tabs = new QTabWidget(box);
  boxLayout->addWidget(tabs);
  for (DWORD d = 0; d < caps.cDestinations; ++d) {
    MIXERLINE dest;
    dest.dwDestination = d;
    if (mixerGetLineInfoA(mixer, &dest, MIXER_GETLINEINFOF_DESTINATION) != MMSYSERR_NOERROR)
      continue;
    tabs->addTab(DestinationPage(static_cast<int>(device), mixer, dest),
                 Name(dest.szName, MIXER_LONG_NAME_CHARS));
  }
  if (tabs->count() > 0) tabs->setCurrentIndex(std::min(tab, tabs->count() - 1));
}

QWidget* TPanelWindow::DestinationPage(int device, HMIXER mixer, const MIXERLINE& dest) {
  auto* scroll = new QScrollArea;
  auto* page = new QWidget;
  auto* grid = new QGridLayout(page);
  const QString prefix = QString("%1/%2/").arg(device).arg(dest.dwDestination);
  AddLine(mixer, dest, prefix + "-1/", grid, 0);
  std::vector<MIXERLINE> sources;
  for (DWORD s = 0; s < dest.cConnections; ++s) {
    MIXERLINE source;
    source.dwDestination = dest.dwDestination;
    source.dwSource = s;
    if (mixerGetLineInfoA(mixer, &source, MIXER_GETLINEINFOF_SOURCE) != MMSYSERR_NOERROR) continue;
    sources.push_back(source);
    AddLine(mixer, source, prefix + QString::number(s) + "/", grid,
            static_cast<int>(sources.size()));
  }

  // The destination's selection list: one radio button per item, under the item's source line
  // when the item names one, else under the destination line.
  const std::vector<MIXERCONTROL> controls = ControlsOf(mixer, dest);
  const MIXERCONTROL* mux = Find(controls, MIXERCONTROL_CONTROLTYPE_MUX, true);
  if (mux && mux->cMultipleItems > 0) {
    std::vector<MIXERCONTROLDETAILS_LISTTEXT> names(mux->cMultipleItems);
    MIXERCONTROLDETAILS details;
    details.dwControlID = mux->dwControlID;
    details.cChannels = 1;
    details.cMultipleItems = mux->cMultipleItems;
    details.cbDetails = sizeof(MIXERCONTROLDETAILS_LISTTEXT);
    details.paDetails = names.data();
    const bool named = mixerGetControlDetailsA(
                           mixer, &details, MIXER_GETCONTROLDETAILSF_LISTTEXT) == MMSYSERR_NOERROR;
    Binding b;
    b.mixer = mixer;
    b.control = mux->dwControlID;
    b.items = mux->cMultipleItems;
    b.group = new QButtonGroup(page);
    b.group->setExclusive(true);
    int extraRow = 4;
    for (DWORD item = 0; item < mux->cMultipleItems; ++item) {
      int column = 0;
      QString text = named ? Name(names[item].szName, MIXER_LONG_NAME_CHARS)
                           : QString("Item %1").arg(item + 1);
      for (std::size_t s = 0; named && s < sources.size(); ++s)
        if (sources[s].dwLineID == names[item].dwParam1 && names[item].dwParam1 != 0)
          column = static_cast<int>(s) + 1;
      auto* radio = new QRadioButton(column == 0 ? text : QString("Select"), page);
      radio->setObjectName(prefix + "select/" + QString::number(item));
      b.group->addButton(radio, static_cast<int>(item));
      grid->addWidget(radio, column == 0 ? extraRow++ : 4, column);
    }
    const std::size_t index = bindings_.size();
    connect(b.group, &QButtonGroup::idToggled, this, [this, index](int id, bool checked) {
      if (!checked) return;
      std::vector<std::int32_t> values(bindings_[index].items, 0);
      values[static_cast<std::size_t>(id)] = 1;
      Write(bindings_[index], values);
    });
    bindings_.push_back(b);
  }
  grid->setRowStretch(grid->rowCount(), 1);
  scroll->setWidget(page);
  scroll->setWidgetResizable(true);
  return scroll;
}

void TPanelWindow::AddLine(HMIXER mixer, const MIXERLINE& line, const QString& prefix,
                           QGridLayout* grid, int column) {
  QWidget* page = grid->parentWidget();
  grid->addWidget(new QLabel(Name(line.szName, MIXER_LONG_NAME_CHARS), page), 0, column);
  const std::vector<MIXERCONTROL> controls = ControlsOf(mixer, line);

  if (const MIXERCONTROL* volume = Find(controls, MIXERCONTROL_CONTROLTYPE_VOLUME, false)) {
    Binding b;
    b.mixer = mixer;
    b.control = volume->dwControlID;
    b.channels = ChannelsOf(*volume, line);
    auto* sliders = new QWidget(page);
    auto* row = new QHBoxLayout(sliders);
    row->setContentsMargins(0, 0, 0, 0);
    const std::size_t index = bindings_.size();
    const std::size_t shown = b.channels >= 2 ? 2 : 1;
    for (std::size_t channel = 0; channel < shown; ++channel) {
      auto* slider = new QSlider(Qt::Vertical, sliders);
      slider->setRange(volume->lMinimum, volume->lMaximum);
      slider->setObjectName(prefix + (channel == 0 ? "left" : "right"));
      slider->setEnabled((volume->fdwControl & MIXERCONTROL_CONTROLF_DISABLED) == 0);
      slider->setMinimumHeight(100);
      row->addWidget(slider);
      b.sliders.push_back(slider);
      connect(slider, &QSlider::valueChanged, this,
              [this, index, channel](int value) { SliderMoved(index, channel, value); });
    }
    grid->addWidget(sliders, 1, column);
    bindings_.push_back(b);
  }
  if (const MIXERCONTROL* mute = Find(controls, MIXERCONTROL_CONTROLTYPE_MUTE, false)) {
    Binding b;
    b.mixer = mixer;
    b.control = mute->dwControlID;
    b.mute = new QCheckBox("Mute", page);
    b.mute->setObjectName(prefix + "mute");
    b.mute->setEnabled((mute->fdwControl & MIXERCONTROL_CONTROLF_DISABLED) == 0);
    grid->addWidget(b.mute, 2, column);
    const std::size_t index = bindings_.size();
    connect(b.mute, &QCheckBox::toggled, this,
            [this, index](bool on) { Write(bindings_[index], {on ? 1 : 0}); });
    bindings_.push_back(b);
  }
}

MIXERCONTROLDETAILS TPanelWindow::Details(const Binding& b, std::vector<std::int32_t>& values) {
  values.resize(b.channels * (b.items ? b.items : 1));
  MIXERCONTROLDETAILS details;
  details.dwControlID = b.control;
  details.cChannels = b.channels;
  details.cMultipleItems = b.items;
  details.cbDetails = sizeof(std::int32_t);
  details.paDetails = values.data();
  return details;
}

std::vector<std::int32_t> TPanelWindow::Read(const Binding& b) const {
  std::vector<std::int32_t> values;
  MIXERCONTROLDETAILS details = Details(b, values);
  if (mixerGetControlDetailsA(b.mixer, &details, MIXER_GETCONTROLDETAILSF_VALUE) !=
      MMSYSERR_NOERROR)
    values.clear();
  return values;
}

void TPanelWindow::Write(const Binding& b, std::vector<std::int32_t> values) {
  MIXERCONTROLDETAILS details = Details(b, values);
  mixerSetControlDetails(b.mixer, &details, MIXER_SETCONTROLDETAILSF_VALUE);
  // A refused value (a list must keep one item selected) shows what the control still holds.
  Refresh();
}

void TPanelWindow::SliderMoved(std::size_t binding, std::size_t channel, int value) {
  const Binding& b = bindings_[binding];
  std::vector<std::int32_t> values = Read(b);
  if (values.size() <= channel) return;
  values[channel] = value;
  // A mono slider stands for every channel of a line that has more than one.
  if (b.sliders.size() == 1)
    for (auto& v : values) v = value;
  Write(b, values);
}

void TPanelWindow::Refresh() {
  for (const Binding& b : bindings_) {
    const std::vector<std::int32_t> values = Read(b);
    for (std::size_t channel = 0; channel < b.sliders.size(); ++channel) {
      QSlider* slider = b.sliders[channel];
      if (channel >= values.size()) continue;
      const QSignalBlocker quiet(slider);
      slider->setValue(values[channel]);
    }
    if (b.mute && !values.empty()) {
      const QSignalBlocker quiet(b.mute);
      b.mute->setChecked(values[0] != 0);
    }
    if (b.group) {
      const QSignalBlocker quiet(b.group);
      for (std::size_t item = 0; item < values.size(); ++item)
        if (values[item] != 0)
          if (QAbstractButton* button = b.group->button(static_cast<int>(item)))
            button->setChecked(true);
    }
  }
}

}  // namespace platform::softcard
