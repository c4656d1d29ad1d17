#pragma once
// One Vostrelle per user and data directory. A second start (the desktop
// opening a vostrelle:// link or a .deb file) hands its arguments to the
// running program over a local socket named after the user and the data
// directory, and quits; a program with another data directory
// (VOSTRELLE_DATA_DIR) is another program and starts. The socket is private
// to the user; what arrives is only data (URLs and paths), checked again by
// whoever acts on it.
#include <QLocalServer>
#include <QObject>
#include <QStringList>

class ZMSingleInstance : public QObject {
    Q_OBJECT
public:
    // "vostrelle-<uid>-<digest of the absolute data directory>".
    static QString defaultKey();
    explicit ZMSingleInstance(QString key = defaultKey(), QObject* parent = nullptr);
    ~ZMSingleInstance() override;

    // Sends `arguments` to the running program; true when it took them.
    bool handOver(const QStringList& arguments, int timeoutMs = 2000) const;
    // Becomes the running program: listens for hand-overs (removing a socket
    // left behind by a crash). False when another one already listens.
    bool listen();
    bool isListening() const { return server_ && server_->isListening(); }

    // The arguments worth handing over, from a command line (argv without the
    // program): URLs of our schemes as they are, file URLs and paths as
    // absolute paths; options ("-x") and empty arguments are dropped.
    static QStringList openRequests(const QStringList& commandLineArguments);

    static constexpr int kMaximumMessageBytes = 64 * 1024;

signals:
    // On the main thread, once per hand-over.
    void argumentsReceived(const QStringList& arguments);

private:
    QString key_;
    QLocalServer* server_ = nullptr;
};
