#pragma once
// One running player per user. A second start connects to the first through
// a local socket named per user and hands over the file named on its command
// line: identifier 1 (4 bytes, little-endian), the name's length (4 bytes)
// and the name's bytes without a terminating zero. A connection that sends
// nothing just brings the running player to the front.
#include <QByteArray>
#include <QObject>
#include <QString>

class QLocalServer;

namespace tunara::qt {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr int32_t kHandOverId = 1;

    // The server's name for this user.
    static QString DefaultName();
    // Connects to a running player and hands `file` over (nothing when empty).
    // True when a player was running and took it: this process should end.
    static bool HandOver(const QString& name, const QByteArray& file, int timeoutMs = 3000);
    // The bytes a hand-over sends for `file`.
    static QByteArray Message(const QByteArray& file);

    explicit SingleInstance(QString name = DefaultName(), QObject* parent = nullptr);
    // Starts answering second starts; false when the name cannot be taken.
    bool Listen();

signals:
    // A second start came: `file` is the name it handed over, empty for none.
    void handedOver(const QByteArray& file);

private:
    void Received(const QByteArray& bytes);

    QString name_;
    QLocalServer* server_ = nullptr;
};

}  // namespace tunara::qt
