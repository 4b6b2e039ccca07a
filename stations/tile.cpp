#include "stations/tile.h"

#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

#include "faces/qt/text_display.h"
#include "platform/win32.h"
#include "res/resources.h"
#include "stations/port_list.h"
#include "stations/window_texts.h"

namespace zl::stations {
namespace {

QString Q(const std::u16string& s) { return QString::fromStdU16String(s); }

}  // namespace

QString Seconds(double s, bool english) {
    QString text = QString::number(s, 'f', 1);
    if (!english) text.replace(QLatin1Char('.'), QLatin1Char(','));
    return text;
}

namespace {

QLabel* NewLabel(QWidget* parent, bool wrap = true) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrap);
    return label;
}

}  // namespace

Tile::Tile(bool english, std::function<std::vector<int>()> offerPorts, KnownGood knownGood, QWidget* parent)
    : QFrame(parent), english_(english), offerPorts_(std::move(offerPorts)), knownGood_(std::move(knownGood)) {
    setObjectName(QStringLiteral("tile"));
    setFrameShape(QFrame::StyledPanel);
    setMinimumWidth(280);
    setAutoFillBackground(true);

    auto* top = new QHBoxLayout;
    portLabel_ = NewLabel(this, false);
    portBox_ = new PortCombo(this);
    portBox_->setMinimumContentsLength(8);
    portBox_->beforePopup = [this] { FillPorts(); };
    stopButton_ = new QPushButton(this);
    removeButton_ = new QPushButton(this);
    top->addWidget(portLabel_);
    top->addWidget(portBox_, 1);
    top->addWidget(stopButton_);
    top->addWidget(removeButton_);

    status_ = NewLabel(this);
    status_->setAlignment(Qt::AlignCenter);
    QFont bold = status_->font();
    bold.setBold(true);
    status_->setFont(bold);
    status_->setMinimumHeight(status_->fontMetrics().height() * 2 + 2);
    bar_ = new QProgressBar(this);
    bar_->setTextVisible(false);
    bar_->setMaximumHeight(14);

    firmwareTitle_ = NewLabel(this, false);
    firmwareTitle_->setFont(bold);
    firmware_ = NewLabel(this);
    flash_ = NewLabel(this);
    for (QLabel* l : {firmware_, flash_}) {
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setMinimumHeight(l->fontMetrics().height() * 4);
    }
    result_ = NewLabel(this);
    result_->setAlignment(Qt::AlignCenter);
    auto* panels = new QGridLayout;
    panels->addWidget(firmwareTitle_, 0, 0, 1, 2);
    panels->addWidget(firmware_, 1, 0);
    panels->addWidget(flash_, 1, 1);
    panels->addWidget(result_, 2, 0, 1, 2);

    counters_ = NewLabel(this, false);
    counters_->setAlignment(Qt::AlignCenter);
    lastDevice_ = NewLabel(this, false);
    lastDevice_->setAlignment(Qt::AlignCenter);
    verdict_ = NewLabel(this);
    verdict_->setAlignment(Qt::AlignCenter);
    verdict_->setMinimumHeight(verdict_->fontMetrics().height() * 2);
    verdict_->setAutoFillBackground(true);
    reason_ = NewLabel(this);
    reason_->setAlignment(Qt::AlignCenter);
    reason_->setStyleSheet(QStringLiteral("QLabel { color: #8e0000; }"));

    // The box of this station: shown here, answered here, holding only this station.
    boxPanel_ = new QFrame(this);
    boxPanel_->setObjectName(QStringLiteral("box"));
    boxPanel_->setFrameShape(QFrame::Box);
    boxPanel_->setStyleSheet(QStringLiteral("QFrame#box { background: #fff4c2; border: 2px solid #b08800; }"));
    boxTitle_ = NewLabel(boxPanel_, false);
    boxTitle_->setFont(bold);
    boxText_ = NewLabel(boxPanel_);
    boxOk_ = new QPushButton(boxPanel_);
    boxCancel_ = new QPushButton(boxPanel_);
    auto* boxButtons = new QHBoxLayout;
    boxButtons->addStretch(1);
    boxButtons->addWidget(boxOk_);
    boxButtons->addWidget(boxCancel_);
    auto* boxLayout = new QVBoxLayout(boxPanel_);
    boxLayout->addWidget(boxTitle_);
    boxLayout->addWidget(boxText_);
    boxLayout->addLayout(boxButtons);
    boxPanel_->hide();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    if (knownGood_) layout->addLayout(MakeUnitRow(bold));
    layout->addWidget(status_);
    layout->addWidget(bar_);
    layout->addLayout(panels);
    layout->addWidget(counters_);
    layout->addWidget(lastDevice_);
    layout->addWidget(verdict_);
    layout->addWidget(reason_);
    layout->addWidget(boxPanel_);
    layout->addStretch(1);

    connect(portBox_, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        const int port = portBox_->itemData(index).toInt();
        if (port != port_) emit portChosen(port);
    });
    connect(removeButton_, &QPushButton::clicked, this, [this] { emit removeRequested(); });
    connect(stopButton_, &QPushButton::clicked, this, [this] {
        if (station_) station_->Click(IDC_STOPSTART);
    });
    auto answer = [this](int result) {
        if (station_ && view_.box) station_->Answer(view_.box->id, result);
    };
    connect(boxOk_, &QPushButton::clicked, this, [answer] { answer(IDOK); });
    connect(boxCancel_, &QPushButton::clicked, this, [answer] { answer(IDCANCEL); });

    SetPort(0);
    SetEnglish(english);
}

QVBoxLayout* Tile::MakeUnitRow(const QFont& bold) {
    // The unit ID of the next device: a barcode scanner types it into the focused tile
    // and presses Enter.
    unitLabel_ = NewLabel(this, false);
    unitLabel_->setFont(bold);
    unit_ = new QLineEdit(this);
    unit_->setObjectName(QStringLiteral("unit"));
    unit_->setFont(bold);
    auto* row = new QHBoxLayout;
    row->addWidget(unitLabel_);
    row->addWidget(unit_, 1);

    // The warning on an ID loaded good before; the operator loads it again or skips it.
    warning_ = new QFrame(this);
    warning_->setObjectName(QStringLiteral("warning"));
    warning_->setStyleSheet(QStringLiteral("QFrame#warning { background: #ffe0b2; border: 2px solid #e65100; }"));
    warningText_ = NewLabel(warning_);
    loadAgain_ = new QPushButton(warning_);
    skip_ = new QPushButton(warning_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(loadAgain_);
    buttons->addWidget(skip_);
    auto* inner = new QVBoxLayout(warning_);
    inner->addWidget(warningText_);
    inner->addLayout(buttons);
    warning_->hide();

    connect(unit_, &QLineEdit::returnPressed, this, [this] { EnterUnit(); });
    connect(unit_, &QLineEdit::textEdited, this, [this] {
        if (unit_->text().trimmed().toStdString() != warnedUnit_) ClearWarning();
    });
    connect(loadAgain_, &QPushButton::clicked, this, [this] {
        const std::string id = warnedUnit_;
        if (!id.empty()) TakeUnit(id);
    });
    connect(skip_, &QPushButton::clicked, this, [this] {
        ClearWarning();
        unit_->clear();
        unit_->setFocus();
    });
    auto* column = new QVBoxLayout;
    column->addLayout(row);
    column->addWidget(warning_);
    return column;
}

Tile::~Tile() = default;

bool Tile::WaitingForUnit() const {
    return unit_ && station_ && !view_.ended && view_.unitEditable && view_.unit.empty();
}

bool Tile::UnitHasFocus() const { return unit_ && unit_->hasFocus(); }

void Tile::FocusUnit() {
    if (unit_) unit_->setFocus(Qt::OtherFocusReason);
}

void Tile::EnterUnit() {
    const std::string id = unit_->text().trimmed().toStdString();
    if (!station_ || !view_.unitEditable || id.empty() || id == view_.unit) return;
    if (id == warnedUnit_) return TakeUnit(id);  // Enter again: loaded again
    if (const std::optional<int64_t> when = knownGood_(id)) {
        warnedUnit_ = id;
        warnedMs_ = *when;
        RenderUnit();
        return;
    }
    TakeUnit(id);
}

void Tile::TakeUnit(const std::string& id) {
    ClearWarning();
    if (!station_ || !station_->SetUnit(id)) return;
    unit_->setText(QString::fromStdString(id));
    Refresh(true);
    emit unitEntered();
}

void Tile::ClearWarning() {
    warnedUnit_.clear();
    if (warning_) warning_->hide();
}

void Tile::RenderUnit() {
    if (!unit_) return;
    const StationView& v = view_;
    // Done with: the ID goes with its device.
    const bool freed = !shownUnit_.empty() && v.unit.empty();
    if (freed) {
        unit_->clear();
        ClearWarning();
    }
    shownUnit_ = v.unit;
    // Read-only rather than disabled, so that the focus stays where the scanner types.
    unit_->setReadOnly(!(station_ && v.unitEditable));
    unit_->setPlaceholderText(Q(WText(WinText::UnitPlaceholder, english_)));
    unitLabel_->setText(Q(WText(WinText::UnitLabel, english_)));
    loadAgain_->setText(Q(WText(WinText::LoadAgain, english_)));
    skip_->setText(Q(WText(WinText::Skip, english_)));
    if (freed) emit unitFreed();
    if (warnedUnit_.empty()) return warning_->hide();
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(warnedMs_).toLocalTime();
    const QString shown = when.toString(english_ ? QStringLiteral("yyyy-MM-dd HH:mm:ss") : QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    warningText_->setText(Q(WText(WinText::AlreadyGood, english_)).arg(QString::fromStdString(warnedUnit_), shown));
    warning_->show();
}

void Tile::SetPort(int port) {
    port_ = port;
    FillPorts();
}

void Tile::FillPorts() {
    std::vector<int> ports = offerPorts_ ? offerPorts_() : std::vector<int>{};
    if (port_ != 0 && std::find(ports.begin(), ports.end(), port_) == ports.end()) ports.push_back(port_);
    std::sort(ports.begin(), ports.end());
    QSignalBlocker block(portBox_);
    portBox_->clear();
    portBox_->addItem(Q(WText(WinText::NoPort, english_)), 0);
    for (int n : ports) portBox_->addItem(Q(ComShortName(n)), n);
    portBox_->setCurrentIndex(std::max(0, portBox_->findData(port_)));
}

void Tile::Attach(std::unique_ptr<Station> station) {
    station_ = std::move(station);
    *dirty_ = true;
    Refresh(true);
}

std::unique_ptr<Station> Tile::Detach() {
    view_ = StationView{};
    Render();
    return std::move(station_);
}

std::function<void()> Tile::ChangeNotifier() const {
    // The station may outlive the tile for a moment while it quits: it holds the flag,
    // never the tile.
    auto dirty = dirty_;
    return [dirty] { *dirty = true; };
}

void Tile::SetEnglish(bool english) {
    english_ = english;
    portLabel_->setText(Q(WText(WinText::PortLabel, english)));
    removeButton_->setText(Q(WText(WinText::Remove, english)));
    firmwareTitle_->setText(Q(WText(WinText::FirmwareGroup, english)));
    boxOk_->setText(Q(WText(WinText::Ok, english)));
    boxCancel_->setText(Q(WText(WinText::Cancel, english)));
    portBox_->setItemText(0, Q(WText(WinText::NoPort, english)));
    Render();
}

void Tile::Refresh(bool force) {
    if (!dirty_->exchange(false) && !force) return;
    view_ = station_ ? station_->View() : StationView{};
    Render();
}

void Tile::Render() {
    const StationView& v = view_;
    const bool live = station_ != nullptr;
    status_->setText(live ? DisplayText(v.status) : QString());
    const int span = v.barHi - v.barLo;
    bar_->setRange(0, span > 0 ? span : 1);
    bar_->setValue(std::clamp(v.barPos - v.barLo, 0, span > 0 ? span : 1));
    firmware_->setText(DisplayText(v.firmware));
    flash_->setText(DisplayText(v.flash));
    result_->setText(DisplayText(v.result));
    counters_->setText(Q(WText(WinText::Counters, english_)).arg(v.good).arg(v.failed));
    lastDevice_->setText(v.lastDeviceS ? Q(WText(WinText::LastDevice, english_)).arg(Seconds(*v.lastDeviceS, english_)) : QString());
    lastDevice_->setVisible(v.lastDeviceS.has_value());
    RenderUnit();
    stopButton_->setText(live ? Q(v.stopText) : QStringLiteral("Stop"));
    stopButton_->setEnabled(live && v.stopEnabled && (!v.box || v.box->notice));
    // A station is added, moved or removed only while it neither transfers nor waits
    // for an answer.
    portBox_->setEnabled(!v.busy);
    removeButton_->setEnabled(!v.busy);

    QString verdictText, tileColour = QStringLiteral("palette(window)"), bannerColour = tileColour;
    if (v.verdict == Verdict::Pass) {
        verdictText = Q(WText(WinText::Pass, english_));
        tileColour = QStringLiteral("#dff3df");
        bannerColour = QStringLiteral("#2e7d32");
    } else if (v.verdict == Verdict::Fail) {
        verdictText = Q(WText(WinText::Fail, english_));
        tileColour = QStringLiteral("#f8dcdc");
        bannerColour = QStringLiteral("#c62828");
    }
    verdict_->setText(verdictText);
    const QString reason = v.notVerified ? Q(WText(WinText::NotVerified, english_)) : DisplayText(v.verdictText).simplified();
    reason_->setText(v.verdict == Verdict::Fail ? reason : QString());
    reason_->setVisible(v.verdict == Verdict::Fail && !reason.isEmpty());
    if (styledVerdict_ == static_cast<int>(v.verdict)) return RenderBox();
    styledVerdict_ = static_cast<int>(v.verdict);
    setStyleSheet(QStringLiteral("QFrame#tile { background: %1; border: 3px solid %2; border-radius: 4px; }")
                      .arg(tileColour, v.verdict == Verdict::None ? QStringLiteral("#9e9e9e") : bannerColour));
    verdict_->setStyleSheet(v.verdict == Verdict::None
                                ? QString()
                                : QStringLiteral("QLabel { background: %1; color: white; font-weight: bold; font-size: 16pt; }")
                                      .arg(bannerColour));
    RenderBox();
}

void Tile::RenderBox() {
    const StationView& v = view_;
    if (v.box) {
        boxTitle_->setText(Q(v.box->title));
        boxText_->setText(DisplayText(v.box->text));
        boxCancel_->setVisible((v.box->type & MB_TYPEMASK) == MB_OKCANCEL);
        boxPanel_->show();
    } else {
        boxPanel_->hide();
    }
}

}  // namespace zl::stations
