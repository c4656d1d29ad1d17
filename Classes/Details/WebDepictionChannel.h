#pragma once
// The messages between the program and the process that shows its web
// depictions (vostrelle-webhost), over a local socket pair. Each is a 32-bit
// big-endian length, a type byte and a QDataStream payload.
#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>


class WebDepictionChannel : public QObject {
    Q_OBJECT
public:
    enum class Type : quint8 {
        // program → process
        Load = 1,          // QUrl url, QList<QPair<QByteArray,QByteArray>> headers, QString sourceHost, QString acceptLanguage
        Geometry = 3,      // int width, int height, int scrollY
        Mouse = 4,         // int type, QPointF position, int button, int buttons, int modifiers
        Key = 5,           // int type, int key, int modifiers, QString text, bool autoRepeat, quint32 scanCode, quint32 virtualKey, quint32 nativeModifiers
        RunJavaScript = 6, // int id, QString script
        Focus = 7,         // bool focused
        Navigate = 8,      // int step: -1 back, +1 forward in the page's history
        // process → program
        Frame = 20,        // int scrollY, int width, int height, qreal devicePixelRatio, QByteArray pixels (RGB32, rows of width × 4 bytes)
        ContentsSize = 21, // QSizeF
        ScrollPosition = 22, // QPointF
        LoadProgress = 23, // int
        LoadFinished = 24, // bool
        UrlChanged = 25,   // QUrl
        TitleChanged = 26, // QString
        Refusals = 27,     // int navigations, int downloads
        OpenExternally = 28, // QUrl (mail links)
        Cursor = 29,       // int shape
        JavaScriptResult = 30, // int id, QVariant
        History = 31,      // bool canGoBack, bool canGoForward
    };
    // No frame of a sane window comes near this; a longer message ends the channel.
    static constexpr quint32 kLongestMessage = 96u << 20;

    // Reads from `in` and writes to `out` (the same device or two).
    WebDepictionChannel(QIODevice* in, QIODevice* out, QObject* parent = nullptr);

    template <typename... Values>
    void send(Type type, const Values&... values) {
        QByteArray payload;
        QDataStream stream(&payload, QIODevice::WriteOnly);
        stream.setVersion(QDataStream::Qt_6_4);
        (stream << ... << values);
        write(type, payload);
    }
    // Reads a message's payload (false when it is cut short or malformed).
    template <typename... Values>
    static bool read(const QByteArray& payload, Values&... values) {
        QDataStream stream(payload);
        stream.setVersion(QDataStream::Qt_6_4);
        (stream >> ... >> values);
        return stream.status() == QDataStream::Ok;
    }

    // Reads what has arrived (also done on the input's readyRead).
    void poll();
    bool isBroken() const { return broken_; }
    // Bytes written and not yet taken by the other side.
    qint64 pendingBytes() const { return out_ ? out_->bytesToWrite() : 0; }

signals:
    void received(WebDepictionChannel::Type type, const QByteArray& payload);
    // The other side sent something that is not a message: the channel is shut.
    void failed();

private:
    void write(Type type, const QByteArray& payload);
    QPointer<QIODevice> in_, out_;
    QByteArray buffer_;
    bool broken_ = false;
    bool polling_ = false;
};
