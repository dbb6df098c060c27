#pragma once
// Keeps one running Tovrika per user. The first process holds a lock file and listens on a
// user-only local socket in $XDG_RUNTIME_DIR; a later `tovrika [URL]` hands its URL (or a plain
// reopen) to it and exits.

#include <QList>
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QUrl>
#include <memory>

class SingleInstance final : public QObject {
    Q_OBJECT
public:
    // `folder` holds the lock and the socket; by default a private folder in the runtime dir.
    explicit SingleInstance(QString folder = defaultFolder(), QObject *parent = nullptr);
    ~SingleInstance() override;

    static QString defaultFolder();

    // True when no other instance holds the lock; needs no event loop.
    bool tryLock();
    // Starts listening for hand-overs (after tryLock succeeded, with an application object).
    bool listen();
    // Sends the URLs, or a reopen when there are none, to the running instance.
    // False when nobody took them.
    bool handOver(const QList<QUrl> &urls, int timeoutMs = 3000) const;

    QString socketPath() const;

signals:
    void urlsReceived(const QList<QUrl> &urls);
    void reopenRequested();

private:
    void readMessages(class QLocalSocket *socket);

    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server; // made on listen(), once an application object exists
};
