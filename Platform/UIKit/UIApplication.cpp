#include "UIKit/UIApplication.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <memory>

#include "Miscellaneous/ZMLog.h"

namespace UIApplication {
namespace {
std::function<bool(const QUrl&)> gOpener;
}

bool canOpenURL(const QUrl& url) {
    if (!url.isValid()) return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == "http" || scheme == "https") return !url.host().isEmpty();
    return scheme == "mailto";
}

bool openURL(const QUrl& url) {
    if (!canOpenURL(url)) {
        ZMLOG("refusing to open {}", url.toString().toStdString());
        return false;
    }
    return gOpener ? gOpener(url) : QDesktopServices::openUrl(url);
}

void openMailURL(const QUrl& url, std::function<void(bool opened)> done) {
    if (url.scheme().compare("mailto", Qt::CaseInsensitive) != 0 || !canOpenURL(url)) {
        ZMLOG("refusing to open {} as a mail link", url.toString().toStdString());
        done(false);
        return;
    }
    const QString opener = QStandardPaths::findExecutable("xdg-open");
    if (gOpener || opener.isEmpty()) {
        done(gOpener ? gOpener(url) : QDesktopServices::openUrl(url));
        return;
    }
    // No parent: a mail program started in the foreground outlives us when we quit.
    auto* process = new QProcess;
    auto answered = std::make_shared<bool>(false);
    auto answer = [done = std::move(done), answered](bool opened) {
        if (*answered) return;
        *answered = true;
        done(opened);
    };
    QObject::connect(process, &QProcess::finished, process, [process, answer](int code, QProcess::ExitStatus status) {
        if (status != QProcess::NormalExit || code != 0) ZMLOG("xdg-open could not open a mail link (status {})", code);
        answer(status == QProcess::NormalExit && code == 0);
        process->deleteLater();
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, answer](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        ZMLOG("xdg-open did not start: {}", process->errorString().toStdString());
        answer(false);
        process->deleteLater();
    });
    QTimer::singleShot(kMailHandOverSeconds * 1000, process, [answer] { answer(true); });
    process->setProgram(opener);
    process->setArguments({url.toString(QUrl::FullyEncoded)});
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start();
}

void setURLOpener(std::function<bool(const QUrl&)> opener) { gOpener = std::move(opener); }

}  // namespace UIApplication
