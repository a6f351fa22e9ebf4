// One instance per user: only an answer from this user's own running instance ends a start.
#include <QTest>
#include <csignal>
#include <cstdlib>
#include <filesystem>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/shell/single_instance.h"
#include "support/temp_dir.h"

using namespace taskbell;
using namespace taskbell::app;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A listening socket at path that accepts nothing, so nobody ever answers.
int listenAt(const fs::path& path)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.string().copy(address.sun_path, sizeof address.sun_path - 1);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Another user's listener that answers every connection the way an instance would.
pid_t foreignListener(const fs::path& path)
{
    int ready[2];
    if (::pipe(ready) != 0) {
        return -1;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(1);
        }
        int fd = listenAt(path);
        (void)::write(ready[1], fd >= 0 ? "y" : "n", 1);
        for (int client; fd >= 0 && (client = ::accept(fd, nullptr, nullptr)) >= 0; ::close(client)) {
            char request[16];
            (void)::read(client, request, sizeof request);
            (void)::write(client, "shown\n", 6);
        }
        ::_exit(0);
    }
    char answer = 'n';
    (void)::read(ready[0], &answer, 1);
    ::close(ready[0]);
    ::close(ready[1]);
    return answer == 'y' ? pid : -1;
}

} // namespace

class SingleInstanceTest : public QObject
{
    Q_OBJECT

private slots:
    void onlyTheUsersOwnAnswerEndsAStart()
    {
        test::TempDir folder;
        fs::path silentPath = folder / "silent";
        int silent = listenAt(silentPath);
        QVERIFY(silent >= 0);
        SingleInstance beside(QString::fromStdString(silentPath.string()));
        beside.setAnswerTimeout(50ms);
        QVERIFY(beside.claim()); // runs, rather than exit because something listens there
        ::close(silent);

        if (::geteuid() != 0) {
            QSKIP("a listener of another user needs root to start");
        }
        // Another user listens where this user's instance would, and answers as one: this start still runs.
        char shared[] = "/tmp/taskbell-foreign-XXXXXX"; // a folder the other user can reach
        QVERIFY(::mkdtemp(shared) != nullptr);
        fs::permissions(shared, fs::perms::all);
        fs::path foreignPath = fs::path(shared) / "instance";
        pid_t foreign = foreignListener(foreignPath);
        bool claimed = foreign > 0 && SingleInstance(QString::fromStdString(foreignPath.string())).claim();
        if (foreign > 0) {
            ::kill(foreign, SIGKILL);
            ::waitpid(foreign, nullptr, 0);
        }
        fs::remove_all(shared);
        QVERIFY(foreign > 0);
        QVERIFY(claimed);
    }

    void withoutARuntimeFolderTheSocketStaysPrivate()
    {
        test::TempDir temp;
        QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        QByteArray tmpdir = qgetenv("TMPDIR");
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QByteArray::fromStdString(temp.path().string()));
        fs::path own = temp / ("taskbell-" + std::to_string(::geteuid()));
        QCOMPARE(SingleInstance::defaultSocketPath().toStdString(), (own / "com.quillet.taskbell.instance").string());
        QCOMPARE(fs::status(own).permissions(), fs::perms::owner_all);

        // A folder of that name that others may change is no place for it: no hand-over, but a start.
        fs::permissions(own, fs::perms::all);
        QVERIFY(SingleInstance::defaultSocketPath().isEmpty());
        QVERIFY(SingleInstance().claim());
        qputenv("XDG_RUNTIME_DIR", runtime);
        qputenv("TMPDIR", tmpdir);
    }
};

QTEST_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
