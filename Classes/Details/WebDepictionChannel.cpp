#include "Details/WebDepictionChannel.h"

#include <QIODevice>
#include <QtEndian>

#include "Miscellaneous/ZMLog.h"

WebDepictionChannel::WebDepictionChannel(QIODevice* in, QIODevice* out, QObject* parent)
    : QObject(parent), in_(in), out_(out) {
    connect(in, &QIODevice::readyRead, this, &WebDepictionChannel::poll);
}

void WebDepictionChannel::write(Type type, const QByteArray& payload) {
    if (broken_ || !out_) return;
    const quint32 length = static_cast<quint32>(payload.size()) + 1;
    char head[5];
    qToBigEndian(length, head);
    head[4] = static_cast<char>(type);
    out_->write(head, sizeof head);
    out_->write(payload);
}

void WebDepictionChannel::poll() {
    // A receiver that spins the event loop must not read the buffer from under this loop.
    if (broken_ || !in_ || polling_) return;
    QPointer<WebDepictionChannel> self(this);
    polling_ = true;
    do {
        buffer_ += in_->readAll();
        qsizetype offset = 0;
        while (buffer_.size() - offset >= 5) {
            const quint32 length = qFromBigEndian<quint32>(buffer_.constData() + offset);
            if (length == 0 || length > kLongestMessage) {
                ZMLOG("web depiction channel: a message of {} bytes, closing", length);
                broken_ = true;
                buffer_.clear();
                polling_ = false;
                emit failed();
                return;
            }
            if (static_cast<quint64>(buffer_.size() - offset - 4) < length) break;
            const auto type = static_cast<Type>(static_cast<quint8>(buffer_.at(offset + 4)));
            const QByteArray payload = buffer_.mid(offset + 5, length - 1);
            offset += 4 + length;
            emit received(type, payload);  // a receiver may close the page, and this channel with it
            if (!self) return;
            if (broken_) {
                polling_ = false;
                return;
            }
        }
        // Keep only what is left of an unfinished message: a frame's bytes go as soon as it is read.
        if (offset > 0) buffer_ = buffer_.mid(offset);
    } while (in_ && in_->bytesAvailable() > 0);
    polling_ = false;
}
