// One Brimlet per user and desktop session. A later start asks the running
// one, over a local socket, to open its panel, waits for its answer, and
// ends; it never polls the clipboard beside it. The socket lives only in a
// directory that nobody else can write to.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <deque>
#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace brimlet::platform {

enum class InstanceRequest { None, OpenPanel, Pause, Resume };

// What one whole message from a later start asks for: "open" or "show",
// "pause", "resume", with or without a line end. Anything else asks for
// nothing.
[[nodiscard]] InstanceRequest parseInstanceRequest(QByteArrayView message);
// The message a later start sends, and the running one's answer.
[[nodiscard]] QByteArray requestMessage(InstanceRequest request);
[[nodiscard]] QByteArray openedAnswer();

// The desktop session a process belongs to, as a piece of a file name: the
// X display without its screen (":0", ":0.0" and "unix:0" are one display),
// the Wayland socket, or else the platform's name.
[[nodiscard]] QString sessionKey(const QString& platform, const QString& display);

// Where the running instance listens: a socket named after the user and the
// session, in `runtimeDir` (XDG_RUNTIME_DIR) when that is a directory of
// `uid` that only it may use, otherwise in `tempDir`/brimlet-<uid>, which is
// made for it with mode 0700. Empty when neither is such a place (another
// user took the name, or it is a link): the socket is then not made at all.
[[nodiscard]] QString instanceServerName(unsigned uid, const QString& session,
                                         const QString& runtimeDir, const QString& tempDir);

class SingleInstance final {
  public:
    enum class Role {
        // No other instance runs: this one listens for later starts.
        Primary,
        // Another instance runs and was asked to open its panel.
        HandedOff,
        // Another instance holds the socket but did not answer.
        Unreachable,
        // The socket cannot be made (no private place for it, or it cannot
        // listen there); this one runs unguarded rather than not at all, and
        // problem() says why.
        Alone,
    };

    // A later start asks the running one for `forward`.
    explicit SingleInstance(QString serverName,
                            InstanceRequest forward = InstanceRequest::OpenPanel);
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    ~SingleInstance();

    // Decides once, before anything else of the application is made.
    Role claim();
    // Called on the GUI thread for each later start's request, once it has
    // been answered.
    void onRequest(std::function<void(InstanceRequest)> handler);
    [[nodiscard]] const QString& serverName() const { return name_; }
    // One line for standard error when the role is Alone.
    [[nodiscard]] const QString& problem() const { return problem_; }

  private:
    struct Client;

    bool listen();
    void serve(QLocalSocket* socket);
    void finish(const std::shared_ptr<Client>& client, bool heard);

    QString name_;
    QString problem_;
    InstanceRequest forward_;
    std::function<void(InstanceRequest)> requested_;
    // Oldest first; a newcomer beyond the limit drops the oldest.
    std::deque<std::shared_ptr<Client>> clients_;
    // Last, so that its sockets go while the members above still exist.
    std::unique_ptr<QLocalServer> server_;
};

}  // namespace brimlet::platform
