#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include "platform/instance/single_instance.h"

// Where the running instance's socket lives, and the name it goes by.
namespace brimlet::platform {
namespace {

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

QByteArray localPath(const QString& name) {
    return QFile::encodeName(name);
}

// A directory of `uid` that nobody else may enter: checked without following
// a link, so that nobody can lend us theirs.
bool privateDirectory(const QString& path, unsigned uid, mode_t exactMode) {
    struct stat info {};
    if (::lstat(localPath(path).constData(), &info) != 0) {
        return false;
    }
    const mode_t mode = info.st_mode & 07777;
    return S_ISDIR(info.st_mode) && info.st_uid == uid &&
           (exactMode != 0 ? mode == exactMode : (mode & 077) == 0);
}

}  // namespace

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
    const auto fits = [](const QString& path) {
        return localPath(path).size() <= kMaxSocketPathBytes;
    };
    if (QDir::isAbsolutePath(runtimeDir) && privateDirectory(runtimeDir, uid, 0)) {
        QString path = QDir(runtimeDir).filePath(file);
        if (fits(path)) {
            return path;
        }
    }
    // The temporary directory is everyone's: our own directory in it, made
    // now or before, and refused unless it is ours alone.
    const QString dir = QDir(tempDir).filePath(QStringLiteral("brimlet-%1").arg(uid));
    if (!QDir::isAbsolutePath(tempDir)) {
        return {};
    }
    ::mkdir(localPath(dir).constData(), 0700);
    QString path = QDir(dir).filePath(file);
    if (!privateDirectory(dir, uid, 0700) || !fits(path)) {
        return {};
    }
    return path;
}

}  // namespace brimlet::platform
