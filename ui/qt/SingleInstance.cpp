#include "ui/qt/SingleInstance.h"

#include <unistd.h>
#include <QLocalServer>
#include <QLocalSocket>
#include <QtEndian>

namespace tunara::qt {

namespace {
// A name longer than this is not a file name; the connection is dropped.
constexpr quint32 kMaxName = 64 * 1024;
}  // namespace

QString SingleInstance::DefaultName() {
    return QStringLiteral("tunara-%1").arg(::getuid());
}

QByteArray SingleInstance::Message(const QByteArray& file) {
    QByteArray bytes(8, '\0');
    qToLittleEndian<qint32>(kHandOverId, bytes.data());
    qToLittleEndian<quint32>(static_cast<quint32>(file.size()), bytes.data() + 4);
    return bytes + file;
}

bool SingleInstance::HandOver(const QString& name, const QByteArray& file, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs)) return false;
    if (!file.isEmpty()) {
        socket.write(Message(file));
        while (socket.bytesToWrite() > 0)
            if (!socket.waitForBytesWritten(timeoutMs)) break;
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(timeoutMs);
    return true;
}

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name)), server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            auto* buffer = new QByteArray;
            connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer] {
                *buffer += socket->readAll();
                if (static_cast<quint32>(buffer->size()) > 8 + kMaxName) socket->abort();
            });
            connect(socket, &QLocalSocket::disconnected, this, [this, socket, buffer] {
                *buffer += socket->readAll();
                const QByteArray bytes = *buffer;
                delete buffer;
                socket->deleteLater();
                Received(bytes);
            });
        }
    });
}

bool SingleInstance::Listen() {
    if (server_->listen(name_)) return true;
    // Nobody answered on the name (HandOver failed first): a player that
    // ended without cleaning up left it behind.
    QLocalServer::removeServer(name_);
    return server_->listen(name_);
}

void SingleInstance::Received(const QByteArray& bytes) {
    if (bytes.size() < 8) {
        emit handedOver({});
        return;
    }
    // The identifier is not looked at; the length must fit what came.
    const quint32 length = qFromLittleEndian<quint32>(bytes.constData() + 4);
    if (length > kMaxName || static_cast<quint32>(bytes.size()) - 8 < length) {
        emit handedOver({});
        return;
    }
    emit handedOver(bytes.mid(8, static_cast<int>(length)));
}

}  // namespace tunara::qt
