#include "platform/instance/single_instance.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace brimlet::platform {
namespace {

// A request is a word, sent at once on connecting; a client that sends more,
// or takes longer, is dropped without holding up the GUI thread or anyone
// else, and beyond the limit the oldest client gives way to a newcomer.
constexpr qsizetype kMaxMessageBytes = 64;
constexpr int kClientTimeoutMs = 1000;
constexpr std::size_t kMaxClients = 16;

// Connecting to a live local socket takes microseconds; these only bound a
// process that is not there, so that a later start ends within a second.
constexpr int kConnectTimeoutMs = 300;
constexpr int kLockWaitMs = 2000;
// The running instance answers from its event loop, which may be busy for a
// moment (a panel rebuilding over large texts).
constexpr int kAnswerTimeoutMs = 3000;

enum class Answer {
    Delivered,  // a running instance took the request and said so
    Nobody,     // no socket, or one that nobody listens on (a crashed instance)
    NoAnswer,   // someone listens but did not answer
    Forbidden,  // the socket is not ours to use
};

QByteArray localPath(const QString& name) {
    return QFile::encodeName(name);
}

// What is at the socket's place; links are never followed.
enum class Occupant { Nothing, OurSocket, Other };

Occupant occupant(const QString& name) {
    struct stat info {};
    if (::lstat(localPath(name).constData(), &info) != 0) {
        return errno == ENOENT ? Occupant::Nothing : Occupant::Other;
    }
    return S_ISSOCK(info.st_mode) && info.st_uid == ::getuid() ? Occupant::OurSocket
                                                               : Occupant::Other;
}

Answer ask(const QString& name, const QByteArray& message) {
    switch (occupant(name)) {
        case Occupant::Nothing:
            return Answer::Nobody;
        case Occupant::Other:
            return Answer::Forbidden;
        case Occupant::OurSocket:
            break;
    }
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(kConnectTimeoutMs)) {
        switch (socket.error()) {
            case QLocalSocket::ServerNotFoundError:
            case QLocalSocket::ConnectionRefusedError:
                return Answer::Nobody;
            case QLocalSocket::SocketTimeoutError:
                return Answer::NoAnswer;
            default:
                return Answer::Forbidden;
        }
    }
    socket.write(message);
    // Only the answer says that the request was taken, not a full buffer.
    QByteArray answer;
    const QByteArray expected = openedAnswer();
    while (answer.size() < expected.size() && socket.waitForReadyRead(kAnswerTimeoutMs)) {
        answer += socket.read(expected.size() - answer.size());
    }
    socket.abort();
    return answer == expected ? Answer::Delivered : Answer::NoAnswer;
}

// The socket of a primary instance, removed however the process ends through
// exit() (the display lost: Qt exits from inside the event loop).
struct ListeningSocket {
    std::mutex mutex;
    std::string path;
    ino_t inode = 0;
};

ListeningSocket& listeningSocket() {
    static ListeningSocket* const socket = new ListeningSocket;
    return *socket;
}

void removeListeningSocketAtExit() {
    ListeningSocket& socket = listeningSocket();
    const std::lock_guard lock(socket.mutex);
    struct stat info {};
    // Only the very socket we made: a later instance may have taken the name.
    if (!socket.path.empty() && ::lstat(socket.path.c_str(), &info) == 0 &&
        info.st_ino == socket.inode) {
        ::unlink(socket.path.c_str());
    }
    socket.path.clear();
}

void removeAtExit(const QString& name) {
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(removeListeningSocketAtExit); });
    ListeningSocket& socket = listeningSocket();
    const std::lock_guard lock(socket.mutex);
    struct stat info {};
    socket.path = localPath(name).toStdString();
    socket.inode = ::lstat(socket.path.c_str(), &info) == 0 ? info.st_ino : 0;
}

void forgetAtExit() {
    ListeningSocket& socket = listeningSocket();
    const std::lock_guard lock(socket.mutex);
    socket.path.clear();
}

}  // namespace

InstanceRequest parseInstanceRequest(QByteArrayView message) {
    if (message.endsWith('\n')) {
        message.chop(1);
        if (message.endsWith('\r')) {
            message.chop(1);
        }
    }
    if (message == QByteArrayView("open") || message == QByteArrayView("show")) {
        return InstanceRequest::OpenPanel;
    }
    if (message == QByteArrayView("pause")) {
        return InstanceRequest::Pause;
    }
    if (message == QByteArrayView("resume")) {
        return InstanceRequest::Resume;
    }
    return InstanceRequest::None;
}

QByteArray requestMessage(InstanceRequest request) {
    switch (request) {
        case InstanceRequest::Pause:
            return QByteArrayLiteral("pause\n");
        case InstanceRequest::Resume:
            return QByteArrayLiteral("resume\n");
        case InstanceRequest::OpenPanel:
        case InstanceRequest::None:
            break;
    }
    return QByteArrayLiteral("open\n");
}

QByteArray openedAnswer() {
    return QByteArrayLiteral("ok\n");
}

SingleInstance::SingleInstance(QString serverName, InstanceRequest forward)
    : name_(std::move(serverName)), forward_(forward) {}

SingleInstance::~SingleInstance() {
    if (server_) {
        // Their teardown must not call back into a half-destroyed instance.
        for (QLocalSocket* socket : server_->findChildren<QLocalSocket*>()) {
            socket->disconnect();
        }
        forgetAtExit();  // closing the server removes the socket
    }
}

SingleInstance::Role SingleInstance::claim() {
    if (name_.isEmpty()) {
        problem_ = QStringLiteral(
            "brimlet: no private place for the socket that later starts use to find this "
            "Brimlet (its directory belongs to someone else or is a link); running without it, "
            "so starting brimlet again starts another one.");
        return Role::Alone;
    }
    // A running instance settles it: handed off, or there but silent.
    const auto askRunning = [this]() -> std::optional<Role> {
        switch (ask(name_, requestMessage(forward_))) {
            case Answer::Delivered:
                return Role::HandedOff;
            case Answer::NoAnswer:
                return Role::Unreachable;
            case Answer::Forbidden:
            case Answer::Nobody:
                break;
        }
        return std::nullopt;
    };
    if (const std::optional<Role> role = askRunning()) {
        return *role;
    }
    // Two starts at the same moment both find nobody; the lock lets one of
    // them listen first and the other then finds it. A crashed holder's lock
    // is recognised by its process id and taken over. Without the lock (a
    // holder that never lets go) this goes on regardless.
    QLockFile lock(name_ + QStringLiteral(".lock"));
    (void)lock.tryLock(kLockWaitMs);
    if (const std::optional<Role> role = askRunning()) {
        return *role;
    }
    if (listen()) {
        return Role::Primary;
    }
    problem_ = QStringLiteral(
                   "brimlet: cannot listen for later starts at %1; running without it, so starting "
                   "brimlet "
                   "again starts another one.")
                   .arg(name_);
    return Role::Alone;
}

bool SingleInstance::listen() {
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // Whatever is left there, in our private directory, is our own: the
    // socket of an instance that crashed, or something in the way. Never
    // followed, only removed.
    if (::unlink(localPath(name_).constData()) != 0 && errno != ENOENT) {
        return false;
    }
    if (!server->listen(name_)) {
        return false;
    }
    removeAtExit(name_);
    QLocalServer* const raw = server.get();
    QObject::connect(raw, &QLocalServer::newConnection, raw, [this, raw] {
        while (QLocalSocket* socket = raw->nextPendingConnection()) {
            serve(socket);
        }
    });
    server_ = std::move(server);
    return true;
}

void SingleInstance::onRequest(std::function<void(InstanceRequest)> handler) {
    requested_ = std::move(handler);
}

struct SingleInstance::Client {
    QLocalSocket* socket = nullptr;
    QByteArray message;
    bool finished = false;
};

void SingleInstance::serve(QLocalSocket* socket) {
    if (clients_.size() >= kMaxClients) {
        // A real start speaks at once; the one that has said nothing for
        // longest is the likeliest to be a squatter.
        finish(clients_.front(), false);
    }
    auto client = std::make_shared<Client>();
    client->socket = socket;
    clients_.push_back(client);
    // True once the message is whole (a line end) or too long to be one.
    const auto take = [client] {
        client->message += client->socket->read(kMaxMessageBytes + 1 - client->message.size());
        return client->message.contains('\n') || client->message.size() > kMaxMessageBytes;
    };
    const std::weak_ptr<Client> weak = client;
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, take, weak] {
        if (const auto c = weak.lock(); c && take()) {
            finish(c, true);
        }
    });
    // A client may send its word and close without a line end.
    QObject::connect(socket, &QLocalSocket::disconnected, socket, [this, take, weak] {
        if (const auto c = weak.lock()) {
            take();
            finish(c, true);
        }
    });
    QTimer::singleShot(kClientTimeoutMs, socket, [this, weak] {
        if (const auto c = weak.lock()) {
            finish(c, false);
        }
    });
    if (socket->bytesAvailable() > 0 && take()) {
        finish(client, true);
    } else if (socket->state() == QLocalSocket::UnconnectedState) {
        take();
        finish(client, true);
    }
}

void SingleInstance::finish(const std::shared_ptr<Client>& client, bool heard) {
    if (client->finished) {
        return;
    }
    client->finished = true;
    std::erase(clients_, client);
    QLocalSocket* const socket = client->socket;
    const InstanceRequest request =
        heard ? parseInstanceRequest(client->message) : InstanceRequest::None;
    const bool understood = request != InstanceRequest::None;
    socket->disconnect();
    if (understood && socket->state() == QLocalSocket::ConnectedState) {
        // The answer goes out before the request is carried out; the socket closes once
        // it has been written.
        socket->write(openedAnswer());
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        socket->disconnectFromServer();
        QTimer::singleShot(kClientTimeoutMs, socket, [socket] { socket->abort(); });
    } else {
        socket->abort();
        socket->deleteLater();
    }
    if (understood && requested_) {
        requested_(request);
    }
}

}  // namespace brimlet::platform
