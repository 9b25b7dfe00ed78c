#pragma once
// The desktop's media-player interface on the session bus, so that media
// keys, the sound menu and playerctl see and drive the player. It only calls
// the controller and the window, and tells the bus what changed by looking
// at the controller a few times a second.
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <optional>
#include <string>

namespace tunara::qt {

class MainWindow;

class MprisService : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kServiceName = "org.mpris.MediaPlayer2.tunara";
    static constexpr int kWatchMs = 200;

    explicit MprisService(MainWindow& window, QObject* parent = nullptr);
    ~MprisService() override;
    // Takes the name on the session bus; false without a bus or when another
    // player holds it (the player works on without).
    bool Register();

    MainWindow& Window() { return window_; }

    // What the two interfaces answer, in the bus's units (microseconds).
    QString PlaybackStatus() const;
    QVariantMap Metadata() const;
    qlonglong PositionUs() const;
    double Volume() const;
    void SetVolume(double volume);
    bool HasItem() const;
    bool CanSeek() const;
    bool CanGoNext() const;
    bool CanGoPrevious() const;
    void Play();
    void Pause();
    void PlayPause();
    void Stop();
    void Next();
    void Previous();
    void Seek(qlonglong offsetUs);
    void SetPosition(const QString& trackId, qlonglong positionUs);
    void OpenUri(const QString& uri);
    void Raise();
    void Quit();

    // Compares what the bus was last told with the player now and sends
    // the differences; the timer calls it, tests may too.
    void Watch();

signals:
    void Seeked(qlonglong positionUs);

private:
    struct MetadataKey {
        const void* source = nullptr;
        const void* list = nullptr;
        int current = -1;
        std::string title, artist, album, location;
        long long duration = 0;
        bool operator==(const MetadataKey&) const = default;
    };

    QString TrackId() const;
    QVariantMap Snapshot() const;
    QVariantMap BuildMetadata(const MetadataKey& key) const;

    MainWindow& window_;
    QTimer watch_;
    QVariantMap told_;
    bool registered_ = false;
    mutable std::optional<MetadataKey> metadataKey_;
    mutable QVariantMap metadata_;
};

}  // namespace tunara::qt
