#pragma once
// The equaliser window: a panel like the playlist window with an on/off
// button, a preset menu, the preamp and ten band sliders (31 Hz to 16 kHz,
// -12..12 dB). It keeps no settings of its own: it reads and changes them
// through its owner, which applies them to what plays.
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "engine/GainStage.h"
#include "ui/qt/SkinnedWindow.h"

class QMenu;

namespace tunara {
class SettingsStore;
}

namespace tunara::qt {

class BitmapButton;
class BitmapSlider;

class EqualiserWindow : public PanelWindow {
    Q_OBJECT
public:
    struct Sound {
        std::function<SoundSettings()> get;
        // `settled`: the end of a move (worth writing down), not a step of a drag.
        std::function<void(const SoundSettings&, bool settled)> set;
    };
    // `settings`, when given, keeps the user's presets.
    EqualiserWindow(PanelWindow* owner, Sound sound, SettingsStore* settings);
    ~EqualiserWindow() override;

    BitmapButton* OnButton() const { return on_; }
    BitmapButton* PresetsButton() const { return presets_; }
    BitmapSlider* Preamp() const { return preamp_; }
    BitmapSlider* Band(int band) const { return bands_[band]; }

    // Shows the settings as they are now (after a change made elsewhere).
    void Sync();
    // The preset menu, the caller's to delete.
    QMenu* PresetMenu();
    void ChoosePreset(const std::array<float, 10>& gains);
    // Saves the current bands under a name asked for; false when none is given
    // or it cannot be kept.
    bool SavePreset();

    // Asks for a preset's name (default: an input dialog); tests put their own.
    std::function<QString(const QString& suggestion)> askName;
    // The player's keys; true when one was taken.
    std::function<bool(int key, Qt::KeyboardModifiers)> onKey;

    // Slider positions: 0 at the top (+12 dB) to 48 at the bottom (-12 dB).
    static int PositionOf(float db);
    static float DbAt(int position);

protected:
    void keyPressEvent(QKeyEvent*) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void OnSlider(BitmapSlider* slider, int code, int value);
    void Tip(BitmapSlider* slider, float db);

    class ResponseView;

    Sound sound_;
    ResponseView* response_ = nullptr;
    SettingsStore* settings_;
    BitmapButton* on_ = nullptr;
    BitmapButton* presets_ = nullptr;
    BitmapSlider* preamp_ = nullptr;
    std::array<BitmapSlider*, 10> bands_{};
};

}  // namespace tunara::qt
