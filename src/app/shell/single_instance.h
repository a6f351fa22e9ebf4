#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include <sys/types.h>

class QSocketNotifier;

namespace taskbell::app {

// One application per user: the first instance listens on a local socket in a folder only this user may
// enter; a later start connects to it, asks it to bring its panel forward and ends once it answered.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // `socketPath` defaults to <runtime dir>/com.quillet.taskbell.instance. A path too long for a local
    // socket is replaced by a short one in the user's private temporary folder.
    explicit SingleInstance(QString socketPath = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the one instance; false when another instance of this user answered
    // that it has shown its panel. A socket left behind by a crashed instance is replaced. When no hand-over
    // is possible (no private folder, a listener that is someone else's or never answers), this process
    // runs anyway and says so in one line on standard error.
    bool claim();
    const QString& socketPath() const { return socketPath_; }
    // How long a running instance has to answer; tests shorten it.
    void setAnswerTimeout(std::chrono::milliseconds timeout) { answerTimeout_ = timeout; }

    // <runtime dir>/com.quillet.taskbell.instance, where the runtime dir is XDG_RUNTIME_DIR when it is this
    // user's private folder, else <temp>/taskbell-<uid> (created 0700 and checked); empty when neither is.
    static QString defaultSocketPath();

signals:
    // A later start asked this instance to bring its panel forward.
    void activationRequested();

private:
    enum class Answer { nobody, shown, foreign, silent };
    struct Connection;

    Answer notifyRunningInstance();
    QString listen();
    void acceptConnections();
    void readRequest(int descriptor);

    QString socketPath_;
    std::chrono::milliseconds answerTimeout_{3000};
    int listener_ = -1;
    std::optional<std::pair<dev_t, ino_t>> listened_; // the socket file listened at
    std::unique_ptr<QSocketNotifier> listenerNotifier_;
    std::map<int, std::unique_ptr<Connection>> connections_; // by descriptor
};

} // namespace taskbell::app
