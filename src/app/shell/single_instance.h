#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace taskbell::app {

// One application per user session: the first instance listens on a local socket in the user's runtime
// folder; a later start connects to it, asks it to bring its panel forward and ends.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // `socketPath` defaults to <runtime dir>/com.quillet.taskbell.instance.
    explicit SingleInstance(QString socketPath = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the one instance; false when another one runs and was asked to show
    // its panel. A socket left behind by a crashed instance is replaced.
    bool claim();
    const QString& socketPath() const { return socketPath_; }

    static QString defaultSocketPath();

signals:
    // A later start asked this instance to bring its panel forward.
    void activationRequested();

private:
    bool notifyRunningInstance();
    void acceptConnections();

    QString socketPath_;
    QLocalServer* server_ = nullptr;
};

} // namespace taskbell::app
