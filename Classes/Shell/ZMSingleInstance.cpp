#include "ZMSingleInstance.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QUrl>

#include "Categories/Data+Hashes.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"
#include "Miscellaneous/ZMURLSchemeHandler.h"

QString ZMSingleInstance::defaultKey() {
    // Short enough for a socket path whatever the directory's length.
    const QString directory = QFileInfo(QString::fromStdString(ZMPaths::applicationSupport())).absoluteFilePath();
    const std::string digest = DataHashes::md5(directory.toStdString()).substr(0, 16);
    return QString("vostrelle-%1-%2").arg(static_cast<qulonglong>(getuid())).arg(QString::fromStdString(digest));
}

ZMSingleInstance::ZMSingleInstance(QString key, QObject* parent) : QObject(parent), key_(std::move(key)) {}

ZMSingleInstance::~ZMSingleInstance() = default;

bool ZMSingleInstance::handOver(const QStringList& arguments, int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(key_);
    if (!socket.waitForConnected(timeoutMs)) return false;
    // One argument per line; a line break inside one would split it, so such an argument is not sent.
    QByteArray message;
    for (const QString& argument : arguments) {
        if (argument.contains('\n') || argument.contains('\r')) continue;
        message += argument.toUtf8() + '\n';
    }
    if (message.size() > kMaximumMessageBytes) message.truncate(message.lastIndexOf('\n', kMaximumMessageBytes - 1) + 1);
    message += '\n';  // an empty line ends the message
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    // The running program answers once it has read everything.
    bool acknowledged = socket.waitForReadyRead(timeoutMs) && socket.readAll().startsWith("ok");
    socket.disconnectFromServer();
    return acknowledged;
}

bool ZMSingleInstance::listen() {
    if (isListening()) return true;
    // Someone answering means another program is running.
    {
        QLocalSocket probe;
        probe.connectToServer(key_);
        if (probe.waitForConnected(300)) {
            probe.disconnectFromServer();
            return false;
        }
    }
    QLocalServer::removeServer(key_);  // a socket file left by a crash
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(key_)) {
        ZMLOG("single-instance socket {}: {}", key_.toStdString(), server_->errorString().toStdString());
        delete server_;
        server_ = nullptr;
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            auto buffer = std::make_shared<QByteArray>();
            connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
                *buffer += socket->readAll();
                if (buffer->size() > kMaximumMessageBytes + 2) {
                    ZMLOG("hand-over too long; dropped");
                    socket->abort();
                    return;
                }
                if (!buffer->endsWith("\n\n") && *buffer != "\n") return;
                QStringList arguments;
                for (const QByteArray& line : buffer->split('\n'))
                    if (!line.isEmpty()) arguments << QString::fromUtf8(line);
                buffer->clear();
                socket->write("ok\n");
                socket->flush();
                if (!arguments.isEmpty()) emit argumentsReceived(arguments);
            });
        }
    });
    return true;
}

QStringList ZMSingleInstance::openRequests(const QStringList& commandLineArguments) {
    QStringList out;
    for (const QString& argument : commandLineArguments) {
        if (argument.isEmpty() || argument.startsWith('-')) continue;
        // Our links go as they are, valid URLs or not: the running program
        // reads them, or names them in an alert.
        if (ZMURLSchemeHandler::namesOurScheme(argument.toStdString())) {
            out << argument;
            continue;
        }
        QUrl url(argument, QUrl::StrictMode);
        QString scheme = url.isValid() ? url.scheme().toLower() : QString();
        if (scheme == "file") {
            if (url.isLocalFile()) out << QFileInfo(url.toLocalFile()).absoluteFilePath();
        } else if (scheme.size() > 1) {
            continue;  // addresses of other schemes are not ours to open
        } else {
            out << QFileInfo(argument).absoluteFilePath();
        }
    }
    return out;
}
