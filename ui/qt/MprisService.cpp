#include "ui/qt/MprisService.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "ui/core/Associations.h"
#include "ui/qt/MainWindow.h"

namespace tunara::qt {

namespace {

constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
constexpr const char* kRootInterface = "org.mpris.MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char* kNoTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

class RootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool CanSetFullscreen READ CanSetFullscreen)
    Q_PROPERTY(bool Fullscreen READ Fullscreen)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
public:
    explicit RootAdaptor(MprisService* service) : QDBusAbstractAdaptor(service), s_(service) {}
    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool CanSetFullscreen() const { return false; }
    bool Fullscreen() const { return false; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return QStringLiteral("Tunara"); }
    QString DesktopEntry() const { return QStringLiteral("tunara"); }
    QStringList SupportedUriSchemes() const { return {QStringLiteral("file")}; }
    QStringList SupportedMimeTypes() const {
        QStringList types;
        for (const std::string& t : HandledMimeTypes()) types << QString::fromStdString(t);
        return types;
    }

public slots:
    void Raise() { s_->Raise(); }
    void Quit() { s_->Quit(); }

private:
    MprisService* s_;
};

class PlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(double Rate READ Rate WRITE SetRate)
    Q_PROPERTY(double MinimumRate READ Rate)
    Q_PROPERTY(double MaximumRate READ Rate)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(bool CanGoNext READ CanGoNext)
    Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
    Q_PROPERTY(bool CanPlay READ CanPlay)
    Q_PROPERTY(bool CanPause READ CanPlay)
    Q_PROPERTY(bool CanSeek READ CanSeek)
    Q_PROPERTY(bool CanControl READ CanControl)
public:
    explicit PlayerAdaptor(MprisService* service) : QDBusAbstractAdaptor(service), s_(service) {
        connect(service, &MprisService::Seeked, this, &PlayerAdaptor::Seeked);
    }
    QString PlaybackStatus() const { return s_->PlaybackStatus(); }
    double Rate() const { return 1.0; }
    void SetRate(double) {}  // one speed only
    QVariantMap Metadata() const { return s_->Metadata(); }
    double Volume() const { return s_->Volume(); }
    void SetVolume(double v) { s_->SetVolume(v); }
    qlonglong Position() const { return s_->PositionUs(); }
    bool CanGoNext() const { return s_->CanGoNext(); }
    bool CanGoPrevious() const { return s_->CanGoPrevious(); }
    bool CanPlay() const { return s_->HasItem(); }
    bool CanSeek() const { return s_->CanSeek(); }
    bool CanControl() const { return true; }

public slots:
    void Play() { s_->Play(); }
    void Pause() { s_->Pause(); }
    void PlayPause() { s_->PlayPause(); }
    void Stop() { s_->Stop(); }
    void Next() { s_->Next(); }
    void Previous() { s_->Previous(); }
    void Seek(qlonglong offset) { s_->Seek(offset); }
    void SetPosition(const QDBusObjectPath& track, qlonglong position) {
        s_->SetPosition(track.path(), position);
    }
    void OpenUri(const QString& uri) { s_->OpenUri(uri); }

signals:
    void Seeked(qlonglong Position);

private:
    MprisService* s_;
};

}  // namespace

MprisService::MprisService(MainWindow& window, QObject* parent) : QObject(parent), window_(window) {
    new RootAdaptor(this);
    new PlayerAdaptor(this);
    watch_.setInterval(kWatchMs);
    connect(&watch_, &QTimer::timeout, this, &MprisService::Watch);
}

MprisService::~MprisService() {
    if (!registered_) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(QString::fromLatin1(kObjectPath));
    bus.unregisterService(QString::fromLatin1(kServiceName));
}

bool MprisService::Register() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    if (!bus.registerObject(QString::fromLatin1(kObjectPath), this,
                            QDBusConnection::ExportAdaptors))
        return false;
    if (!bus.registerService(QString::fromLatin1(kServiceName))) {
        bus.unregisterObject(QString::fromLatin1(kObjectPath));
        return false;
    }
    registered_ = true;
    told_ = Snapshot();
    watch_.start();
    return true;
}

// ---- what the player is doing ------------------------------------------------------

QString MprisService::PlaybackStatus() const {
    const PlayerController& c = window_.Controller();
    if (!c.Source()) return QStringLiteral("Stopped");
    if (c.State() != Stopped) return QStringLiteral("Playing");
    // Stop goes back to the start; a stop anywhere else is a pause.
    return c.Source()->GetPosition() > 0 ? QStringLiteral("Paused") : QStringLiteral("Stopped");
}

QString MprisService::TrackId() const {
    const PlayerController& c = window_.Controller();
    if (!c.Source() || !c.List()) return QString::fromLatin1(kNoTrack);
    return QStringLiteral("/org/tunara/Track/%1").arg(std::max(0, c.List()->Current()));
}

QVariantMap MprisService::Metadata() const {
    const PlayerController& c = window_.Controller();
    MediaSource* s = c.Source();
    // Looked at several times a second: the map is built again only when
    // what goes into it changed.
    MetadataKey key;
    key.source = s;
    key.list = c.List();
    key.current = c.List() ? c.List()->Current() : -1;
    if (s) {
        key.title = c.List() && c.List()->CurrentItem() == s ? c.List()->TitleAt(key.current)
                                                             : s->GetTitle();
        key.artist = s->GetArtist();
        key.album = s->GetAlbum();
        key.location = s->GetLocation();
        key.duration = s->GetDuration();
    }
    if (metadataKey_ && *metadataKey_ == key) return metadata_;
    metadataKey_ = key;
    metadata_ = BuildMetadata(key);
    return metadata_;
}

QVariantMap MprisService::BuildMetadata(const MetadataKey& key) const {
    QVariantMap m;
    m.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(TrackId())));
    if (!key.source) return m;
    m.insert(QStringLiteral("xesam:title"), QString::fromStdString(key.title));
    if (!key.artist.empty())
        m.insert(QStringLiteral("xesam:artist"), QStringList{QString::fromStdString(key.artist)});
    if (!key.album.empty())
        m.insert(QStringLiteral("xesam:album"), QString::fromStdString(key.album));
    if (key.duration > 0) m.insert(QStringLiteral("mpris:length"), qlonglong(key.duration) * 1000);
    const QString location = QString::fromStdString(key.location);
    if (!location.isEmpty()) {
        const QUrl url = location.contains(QStringLiteral("://"))
                             ? QUrl(location)
                             : QUrl::fromLocalFile(QFileInfo(location).absoluteFilePath());
        m.insert(QStringLiteral("xesam:url"), url.toString());
    }
    return m;
}

qlonglong MprisService::PositionUs() const {
    MediaSource* s = window_.Controller().Source();
    return s ? qlonglong(s->GetPosition()) * 1000 : 0;
}

double MprisService::Volume() const {
    VolumeOutput* v = window_.Controller().Volume();
    return v ? std::round(v->GetVolume() * 100.0) / 100.0 : 1.0;
}

void MprisService::SetVolume(double volume) {
    PlayerController& c = window_.Controller();
    if (!c.Volume() || !std::isfinite(volume)) return;
    const double v = std::clamp(volume, 0.0, 1.0);
    c.OnVolumeSlider(kThumbPosition,
                     PlayerController::kVolumeMax - static_cast<int>(std::lround(v * 100)));
    c.OnMixerChange();  // the slider follows
    Watch();
}

bool MprisService::HasItem() const {
    return window_.Controller().Source() != nullptr;
}

bool MprisService::CanSeek() const {
    MediaSource* s = window_.Controller().Source();
    return s && s->GetDuration() > 0;
}

bool MprisService::CanGoNext() const {
    const TrackList* l = window_.Controller().List();
    return l && l->Count() > 0;
}

bool MprisService::CanGoPrevious() const {
    return CanGoNext();
}

// ---- what the bus asks -------------------------------------------------------------

void MprisService::Play() {
    PlayerController& c = window_.Controller();
    if (c.State() != Playing) c.Play();
    Watch();
}

void MprisService::Pause() {
    PlayerController& c = window_.Controller();
    // Play on a playing item stops it where it is: the player's pause.
    if (c.State() == Playing)
        c.Play();
    else if (c.State() != Stopped && c.Source()) {
        c.Play();
        c.Play();
    }
    Watch();
}

void MprisService::PlayPause() {
    if (window_.Controller().State() == Stopped)
        Play();
    else
        Pause();
}

void MprisService::Stop() {
    window_.Controller().Stop();
    Watch();
}

void MprisService::Next() {
    window_.Controller().Next();
    Watch();
}

void MprisService::Previous() {
    window_.Controller().Prev();
    Watch();
}

void MprisService::Seek(qlonglong offsetUs) {
    MediaSource* s = window_.Controller().Source();
    if (!CanSeek()) return;
    const qlonglong target = PositionUs() + offsetUs;
    if (target >= qlonglong(s->GetDuration()) * 1000) {
        Next();
        return;
    }
    SetPosition(TrackId(), std::max<qlonglong>(0, target));
}

void MprisService::SetPosition(const QString& trackId, qlonglong positionUs) {
    MediaSource* s = window_.Controller().Source();
    // A request meant for an item that is no longer current is stale.
    if (!CanSeek() || trackId != TrackId()) return;
    if (positionUs < 0 || positionUs > qlonglong(s->GetDuration()) * 1000) return;
    // The slider's unit is 10 ms.
    window_.Controller().OnPositionSlider(kThumbPosition, static_cast<int>(positionUs / 10000));
    emit Seeked(PositionUs());
    Watch();
}

void MprisService::OpenUri(const QString& uri) {
    const QUrl url(uri);
    const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
    if (path.isEmpty()) return;
    window_.Controller().OpenAndPlay({path.toStdString()});
    Watch();
}

void MprisService::Raise() {
    window_.HandOver(QString());
}

void MprisService::Quit() {
    window_.close();
}

// ---- telling the bus -----------------------------------------------------------------

QVariantMap MprisService::Snapshot() const {
    return {
        {QStringLiteral("PlaybackStatus"), PlaybackStatus()},
        {QStringLiteral("Metadata"), Metadata()},
        {QStringLiteral("Volume"), Volume()},
        {QStringLiteral("CanPlay"), HasItem()},
        {QStringLiteral("CanPause"), HasItem()},
        {QStringLiteral("CanSeek"), CanSeek()},
        {QStringLiteral("CanGoNext"), CanGoNext()},
        {QStringLiteral("CanGoPrevious"), CanGoPrevious()},
    };
}

void MprisService::Watch() {
    if (!registered_) return;
    const QVariantMap now = Snapshot();
    QVariantMap changed;
    for (auto it = now.begin(); it != now.end(); ++it) {
        if (told_.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
    }
    told_ = now;
    if (changed.isEmpty()) return;
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

}  // namespace tunara::qt

#include "MprisService.moc"
