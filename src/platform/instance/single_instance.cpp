#include "platform/instance/single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>
#include <utility>

#include "platform/x11/qt_display.h"

namespace brimlet::platform {
namespace {

// A request is a word; a client that sends more, or takes longer, is dropped
// without holding up the GUI thread or anyone else.
constexpr qsizetype kMaxMessageBytes = 64;
constexpr int kClientTimeoutMs = 2000;
constexpr int kMaxClients = 16;

// Connecting to a live local socket takes microseconds; these only bound a
// process that is not there, so that a later start ends within a second.
constexpr int kConnectTimeoutMs = 300;
constexpr int kLockWaitMs = 2000;

// sun_path holds 108 bytes; Qt first binds in a directory named after the
// socket with 8 more characters, then renames.
constexpr qsizetype kMaxSocketPathBytes = 96;
constexpr qsizetype kMaxSessionKeyLength = 40;

QString safeFileNamePart(const QString& raw) {
    QString out;
    out.reserve(raw.size());
    for (const QChar c : raw) {
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                           (c >= u'0' && c <= u'9') || c == u'-' || c == u'_' || c == u'.';
        out += plain ? c : QChar(u'_');
    }
    if (out.startsWith(u'.')) {
        out[0] = u'_';
    }
    if (out.size() > kMaxSessionKeyLength) {
        // Long names (a Wayland socket given as a path) stay apart by a hash.
        const QByteArray digest =
            QCryptographicHash::hash(raw.toUtf8(), QCryptographicHash::Sha256).toHex();
        out = QStringLiteral("h") + QString::fromLatin1(digest.left(24));
    }
    return out;
}

enum class Answer {
    Delivered,  // a running instance took the request
    Nobody,     // no socket, or one that nobody listens on (a crashed instance)
    NoAnswer,   // someone listens but does not accept
    Forbidden,  // the socket is not ours to use
};

Answer askToOpenPanel(const QString& name) {
    QLocalSocket socket;
    socket.connectToServer(name, QIODevice::WriteOnly);
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
    socket.write(openPanelMessage());
    socket.flush();
    const bool sent = socket.bytesToWrite() == 0 || socket.waitForBytesWritten(kConnectTimeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) {
        socket.waitForDisconnected(kConnectTimeoutMs);
    }
    return sent ? Answer::Delivered : Answer::NoAnswer;
}

bool ownedByAnotherUser(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && info.ownerId() != ::getuid();
}

}  // namespace

InstanceRequest parseInstanceRequest(QByteArrayView message) {
    if (message.endsWith('\n')) {
        message.chop(1);
        if (message.endsWith('\r')) {
            message.chop(1);
        }
    }
    return message == QByteArrayView("open") || message == QByteArrayView("show")
               ? InstanceRequest::OpenPanel
               : InstanceRequest::None;
}

QByteArray openPanelMessage() {
    return QByteArrayLiteral("open\n");
}

QString sessionKey(const QString& platform, const QString& display) {
    if (platform == u"xcb") {
        // [host]:number[.screen]; the screen does not make another session.
        const qsizetype colon = display.lastIndexOf(u':');
        QString host = colon >= 0 ? display.left(colon) : QString();
        QString number = colon >= 0 ? display.mid(colon + 1) : display;
        if (host == u"unix") {
            host.clear();
        }
        const qsizetype dot = number.indexOf(u'.');
        if (dot >= 0) {
            number.truncate(dot);
        }
        return safeFileNamePart(QStringLiteral("x11-") +
                                (host.isEmpty() ? QString() : host + u'-') + number);
    }
    if (platform.startsWith(u"wayland")) {
        // Qt's own default when WAYLAND_DISPLAY is unset.
        return safeFileNamePart(QStringLiteral("wl-") +
                                (display.isEmpty() ? QStringLiteral("wayland-0") : display));
    }
    return safeFileNamePart(platform.isEmpty() ? QStringLiteral("none") : platform);
}

QString instanceServerName(unsigned uid, const QString& session, const QString& runtimeDir,
                           const QString& tempDir) {
    const QString file = QStringLiteral("brimlet-%1-%2").arg(uid).arg(session);
    if (QDir::isAbsolutePath(runtimeDir) && QFileInfo(runtimeDir).isDir()) {
        QString path = QDir(runtimeDir).filePath(file);
        if (QFile::encodeName(path).size() <= kMaxSocketPathBytes) {
            return path;
        }
    }
    return QDir(tempDir).filePath(file);
}

QString currentInstanceServerName() {
    const QString platform = QGuiApplication::platformName();
    QString display;
    if (platform == u"xcb") {
        display = QString::fromStdString(x11::qtDisplayName());
        if (display.isEmpty()) {
            display = qEnvironmentVariable("DISPLAY");
        }
    } else if (platform.startsWith(u"wayland")) {
        display = qEnvironmentVariable("WAYLAND_DISPLAY");
    }
    return instanceServerName(::getuid(), sessionKey(platform, display),
                              qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath());
}

SingleInstance::SingleInstance(QString serverName) : name_(std::move(serverName)) {}

SingleInstance::~SingleInstance() {
    if (server_) {
        // Their teardown must not call back into a half-destroyed instance.
        for (QLocalSocket* socket : server_->findChildren<QLocalSocket*>()) {
            socket->disconnect();
        }
    }
}

SingleInstance::Role SingleInstance::claim() {
    if (ownedByAnotherUser(name_)) {
        return Role::Alone;
    }
    switch (askToOpenPanel(name_)) {
        case Answer::Delivered:
            return Role::HandedOff;
        case Answer::Forbidden:
            return Role::Alone;
        case Answer::Nobody:
        case Answer::NoAnswer:
            break;
    }
    // Two starts at the same moment both find nobody; the lock lets one of
    // them listen first and the other then finds it. A crashed holder's lock
    // is recognised by its process id and taken over. Without the lock (no
    // permission, or a holder that never lets go) this goes on regardless.
    QLockFile lock(name_ + QStringLiteral(".lock"));
    (void)lock.tryLock(kLockWaitMs);
    switch (askToOpenPanel(name_)) {
        case Answer::Delivered:
            return Role::HandedOff;
        case Answer::NoAnswer:
            return Role::Unreachable;
        case Answer::Forbidden:
            return Role::Alone;
        case Answer::Nobody:
            break;
    }
    return listen() ? Role::Primary : Role::Alone;
}

bool SingleInstance::listen() {
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // What is left there is the socket of an instance that crashed.
    QLocalServer::removeServer(name_);
    if (!server->listen(name_)) {
        return false;
    }
    QLocalServer* const raw = server.get();
    QObject::connect(raw, &QLocalServer::newConnection, raw, [this, raw] {
        while (QLocalSocket* socket = raw->nextPendingConnection()) {
            serve(socket);
        }
    });
    server_ = std::move(server);
    return true;
}

void SingleInstance::onOpenRequested(std::function<void()> handler) {
    openRequested_ = std::move(handler);
}

void SingleInstance::serve(QLocalSocket* socket) {
    if (clients_ >= kMaxClients) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++clients_;
    auto message = std::make_shared<QByteArray>();
    auto finished = std::make_shared<bool>(false);
    // True once the message is whole (a line end) or too long to be one.
    const auto take = [socket, message] {
        *message += socket->read(kMaxMessageBytes + 1 - message->size());
        return message->contains('\n') || message->size() > kMaxMessageBytes;
    };
    const auto finish = [this, socket, message, finished](bool heard) {
        if (*finished) {
            return;
        }
        *finished = true;
        --clients_;
        const bool open = heard && parseInstanceRequest(*message) == InstanceRequest::OpenPanel;
        socket->disconnect();
        socket->abort();
        socket->deleteLater();
        if (open && openRequested_) {
            openRequested_();
        }
    };
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [take, finish] {
        if (take()) {
            finish(true);
        }
    });
    // A client may send its word and close without a line end.
    QObject::connect(socket, &QLocalSocket::disconnected, socket, [take, finish] {
        take();
        finish(true);
    });
    QTimer::singleShot(kClientTimeoutMs, socket, [finish] { finish(false); });
    if (socket->bytesAvailable() > 0 && take()) {
        finish(true);
    } else if (socket->state() == QLocalSocket::UnconnectedState) {
        take();
        finish(true);
    }
}

}  // namespace brimlet::platform
