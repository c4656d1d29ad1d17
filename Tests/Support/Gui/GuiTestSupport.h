#pragma once
// Driving Qt's event loop from GUI tests.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>
#include <chrono>
#include <functional>
#include <mutex>

namespace GuiTest {

// Processes events until pred holds or the timeout passes.
inline bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeout.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(2);
    }
    return true;
}

// Processes events for the given time.
inline void pump(std::chrono::milliseconds duration = std::chrono::milliseconds(30)) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < duration.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(1);
    }
}

// The warnings Qt logs while it lives (from any thread), each also passed on
// to the handler before it. One at a time.
class QtWarnings {
public:
    QtWarnings() {
        std::lock_guard lock(mutex());
        current() = this;
        previous_ = qInstallMessageHandler(record);
    }
    ~QtWarnings() {
        qInstallMessageHandler(previous_);
        std::lock_guard lock(mutex());
        current() = nullptr;
    }
    QtWarnings(const QtWarnings&) = delete;
    QtWarnings& operator=(const QtWarnings&) = delete;

    QStringList messages() const {
        std::lock_guard lock(mutex());
        return messages_;
    }
    // How many, and the first few, to show in a failure.
    std::string summary() const {
        const QStringList all = messages();
        return QStringLiteral("%1 warnings: %2").arg(all.size()).arg(all.mid(0, 4).join(" | ")).toStdString();
    }

private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static QtWarnings*& current() {
        static QtWarnings* instance = nullptr;
        return instance;
    }
    static void record(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        QtMessageHandler previous = nullptr;
        {
            std::lock_guard lock(mutex());
            QtWarnings* self = current();
            if (!self) return;
            if (type == QtWarningMsg || type == QtCriticalMsg) self->messages_ << message;
            previous = self->previous_;
        }
        if (previous) previous(type, context, message);
    }

    QtMessageHandler previous_ = nullptr;
    QStringList messages_;
};

}  // namespace GuiTest
