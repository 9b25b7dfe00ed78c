#include "ui/qt/EqualiserWindow.h"

#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "dsp/dsp.h"
#include "ui/core/PlayerController.h"
#include "ui/core/SettingsStore.h"
#include "ui/core/SoundOptions.h"
#include "ui/qt/BitmapButton.h"
#include "ui/qt/BitmapSlider.h"
#include "ui/qt/SkinIds.h"
#include "ui/skin/Skin.h"

namespace tunara::qt {

namespace {

namespace eq = skin::equaliser;

constexpr int kSteps = 48;  // half decibels over -12..12
const char* const kBandNames[] = {"31 Hz", "62 Hz", "125 Hz", "250 Hz", "500 Hz",
                                  "1 kHz", "2 kHz", "4 kHz",  "8 kHz",  "16 kHz"};

QString DbText(float db) {
    return QString::asprintf("%+.1f dB", static_cast<double>(db));
}

QString PresetLabel(const std::string& name) {
    QString label = QString::fromStdString(name);
    if (!label.isEmpty()) label[0] = label[0].toUpper();
    return label;
}

}  // namespace

// The response the bands and the preamp give, from 20 Hz to 20 kHz on a
// logarithmic scale, as the filters themselves compute it. Drawn only when
// the settings change.
class EqualiserWindow::ResponseView : public QWidget {
public:
    explicit ResponseView(QWidget* parent) : QWidget(parent), eq_(std::make_unique<DspEqState>()) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        dspEqInit(eq_.get(), 44100, 1);
    }

    void Show(const SoundSettings& s) {
        if (shown_ && s.eqOn == on_ && s.eqDb == gains_ && s.eqPreampDb == preamp_) return;
        shown_ = true;
        on_ = s.eqOn;
        gains_ = s.eqDb;
        preamp_ = s.eqPreampDb;
        dspEqSet(eq_.get(), gains_.data(), preamp_);
        db_.resize(std::max(2, width()));
        for (size_t x = 0; x < db_.size(); ++x) {
            const double hz = 20.0 * std::pow(1000.0, double(x) / double(db_.size() - 1));
            db_[x] = dspEqResponseDb(eq_.get(), hz);
        }
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        // The displays' colours: a black pane, the accent blue, a faint rule.
        const QColor pane(5, 7, 10), rule(0x22, 0x28, 0x30), accent(0, 127, 255);
        const QColor off(0x5a, 0x62, 0x6c);
        QPainter p(this);
        p.fillRect(rect(), pane);
        const double mid = height() / 2.0, perDb = (height() / 2.0 - 3) / kRangeDb;
        p.fillRect(QRect(0, int(mid), width(), 1), rule);
        QPainterPath curve;
        for (size_t x = 0; x < db_.size(); ++x) {
            const double y = mid - std::clamp(db_[x], -kRangeDb, kRangeDb) * perDb + 0.5;
            if (x == 0)
                curve.moveTo(0.5, y);
            else
                curve.lineTo(double(x) + 0.5, y);
        }
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath area = curve;
        area.lineTo(width(), mid + 0.5);
        area.lineTo(0, mid + 0.5);
        QColor wash = on_ ? accent : off;
        wash.setAlpha(50);
        p.fillPath(area, wash);
        p.strokePath(curve, QPen(on_ ? accent : off, 1.2));
    }

private:
    static constexpr double kRangeDb = 12;
    std::unique_ptr<DspEqState> eq_;
    std::vector<double> db_;
    bool shown_ = false, on_ = false;
    std::array<float, 10> gains_{};
    float preamp_ = 0;
};

EqualiserWindow::~EqualiserWindow() = default;

int EqualiserWindow::PositionOf(float db) {
    const float clamped = std::clamp(db, -12.0f, 12.0f);
    return static_cast<int>(std::lround((12.0f - clamped) * 2.0f));
}

float EqualiserWindow::DbAt(int position) {
    return 12.0f - static_cast<float>(std::clamp(position, 0, kSteps)) / 2.0f;
}

EqualiserWindow::EqualiserWindow(PanelWindow* owner, Sound sound, SettingsStore* settings)
    : PanelWindow(owner), sound_(std::move(sound)), settings_(settings) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Equaliser"));
    SetUpSkin(eq::kBackground, eq::kMask);

    auto* close = new BitmapButton(kIdOk, this);
    close->move(358, 7);
    close->SetBitmaps(kPanelClose, kPanelClosePressed, kPanelCloseLit, 0, kPanelCloseMask);
    close->setToolTip(tr("Close"));
    connect(close, &BitmapButton::clicked, this, [this] { this->close(); });

    on_ = new BitmapButton(kIdEqOn, this);
    on_->move(eq::kOn);
    on_->SetBitmaps(eq::kOnNormal, eq::kOnPressed, eq::kOnLit, 0, kTextButtonMask);
    on_->setToolTip(tr("Equaliser on / off"));
    connect(on_, &BitmapButton::clicked, this, [this] {
        SoundSettings s = sound_.get();
        s.eqOn = !s.eqOn;
        sound_.set(s, true);
        Sync();
    });

    presets_ = new BitmapButton(kIdEqPresets, this);
    presets_->move(eq::kPresets);
    presets_->SetBitmaps(eq::kPresetsNormal, eq::kPresetsPressed, eq::kPresetsLit, 0,
                         kTextButtonMask);
    presets_->setToolTip(tr("Presets"));
    connect(presets_, &BitmapButton::clicked, this, [this] {
        QMenu* menu = PresetMenu();
        menu->exec(presets_->mapToGlobal(QPoint(0, presets_->height())));
        delete menu;
    });

    auto slider = [this](int id, int x) {
        auto* s = new BitmapSlider(id, Qt::Vertical, this);
        s->move(x, eq::kSliderTop);
        s->SetBitmaps(kThumb, kThumbMask, kVolumeChannel, kVolumeChannelMask);
        s->SetRange(0, kSteps);
        s->installEventFilter(this);
        connect(s, &BitmapSlider::scrolled, this,
                [this, s](int code, int value) { OnSlider(s, code, value); });
        return s;
    };
    response_ = new ResponseView(this);
    response_->setGeometry(eq::kResponse);
    response_->setToolTip(tr("The sound the equaliser makes, 20 Hz to 20 kHz"));
    preamp_ = slider(kIdEqPreamp, eq::kPreampX);
    for (int b = 0; b < eq::kBands; ++b) bands_[b] = slider(kIdEqBand + b, eq::BandX(b));
    Sync();
}

void EqualiserWindow::Sync() {
    const SoundSettings s = sound_.get();
    on_->SetLit(s.eqOn);
    response_->Show(s);
    preamp_->SetPosition(PositionOf(s.eqPreampDb));
    Tip(preamp_, s.eqPreampDb);
    for (int b = 0; b < eq::kBands; ++b) {
        bands_[b]->SetPosition(PositionOf(s.eqDb[b]));
        Tip(bands_[b], s.eqDb[b]);
    }
}

void EqualiserWindow::Tip(BitmapSlider* slider, float db) {
    const QString name =
        slider == preamp_ ? tr("Preamp") : tr(kBandNames[slider->Id() - kIdEqBand]);
    const QString tip = name + QStringLiteral(": ") + DbText(db);
    if (slider->toolTip() != tip) slider->setToolTip(tip);
}

void EqualiserWindow::OnSlider(BitmapSlider* slider, int code, int value) {
    SoundSettings s = sound_.get();
    const float db = DbAt(value);
    if (slider == preamp_)
        s.eqPreampDb = db;
    else
        s.eqDb[slider->Id() - kIdEqBand] = db;
    Tip(slider, db);
    sound_.set(s, code == kThumbPosition);
    response_->Show(s);
}

QMenu* EqualiserWindow::PresetMenu() {
    auto* menu = new QMenu(this);
    const std::array<float, 10> now = sound_.get().eqDb;
    const auto presets = EqualiserPresets(settings_);
    const size_t builtIn = EqualiserPresets(nullptr).size();
    for (size_t i = 0; i < presets.size(); ++i) {
        if (i == builtIn) menu->addSeparator();
        const auto gains = presets[i].second;
        QAction* a = menu->addAction(PresetLabel(presets[i].first), this,
                                     [this, gains] { ChoosePreset(gains); });
        a->setCheckable(true);
        a->setChecked(gains == now);
    }
    menu->addSeparator();
    QAction* save = menu->addAction(tr("Save Preset..."), this, [this] { SavePreset(); });
    save->setEnabled(settings_ != nullptr);
    QMenu* remove = menu->addMenu(tr("Delete Preset"));
    for (size_t i = builtIn; i < presets.size(); ++i) {
        const std::string name = presets[i].first;
        remove->addAction(PresetLabel(name), this, [this, name] {
            if (DeleteEqualiserPreset(*settings_, name)) settings_->SaveAll();
        });
    }
    remove->setEnabled(!remove->isEmpty());
    return menu;
}

void EqualiserWindow::ChoosePreset(const std::array<float, 10>& gains) {
    SoundSettings s = sound_.get();
    s.eqDb = gains;
    // Choosing a sound means wanting to hear it.
    s.eqOn = true;
    sound_.set(s, true);
    Sync();
}

bool EqualiserWindow::SavePreset() {
    if (!settings_) return false;
    QString name;
    if (askName) {
        name = askName(QString());
    } else {
        name = QInputDialog::getText(this, tr("Save Preset"), tr("Name of the preset:"));
    }
    // The store separates presets with these; a name keeps its other letters.
    name = name.remove(QLatin1Char(';')).remove(QLatin1Char('=')).trimmed();
    if (name.isEmpty()) return false;
    if (SaveEqualiserPreset(*settings_, name.toStdString(), sound_.get().eqDb) &&
        settings_->SaveAll())
        return true;
    // The presets share one setting of limited length.
    QMessageBox::warning(this, tr("Save Preset"),
                         tr("The preset \"%1\" could not be kept.").arg(name));
    return false;
}

void EqualiserWindow::keyPressEvent(QKeyEvent* e) {
    if (onKey && onKey(e->key(), e->modifiers())) {
        e->accept();
        return;
    }
    PanelWindow::keyPressEvent(e);
}

bool EqualiserWindow::eventFilter(QObject* watched, QEvent* e) {
    auto* slider = qobject_cast<BitmapSlider*>(watched);
    if (slider && e->type() == QEvent::Wheel) {
        // A notch is one decibel, up for more.
        const int steps = static_cast<QWheelEvent*>(e)->angleDelta().y() / 120;
        const int to = std::clamp(slider->Position() - steps * 2, 0, kSteps);
        if (steps != 0 && to != slider->Position()) {
            slider->SetPosition(to);
            OnSlider(slider, kThumbPosition, to);
        }
        return true;
    }
    return PanelWindow::eventFilter(watched, e);
}

}  // namespace tunara::qt
