// What the X11 and the Wayland clipboard tests share: the adapter under test,
// the other programs they start, and reading the adapter as a poll does.
#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <list>
#include <memory>
#include <string_view>

#include "platform/worker/worker_pasteboard.h"
#include "support/event_loop.h"

namespace brimlet::testing {

using namespace std::chrono_literals;

inline QByteArray bytes(std::string_view text) {
    return {text.data(), static_cast<qsizetype>(text.size())};
}

class AdapterTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (QProcess& process : programs) {
            process.kill();
            process.waitForFinished(5000);
        }
        board.reset();
    }

    QProcess& start(const QString& program, const QStringList& arguments,
                    const QByteArray& input = {}) {
        QProcess& process = programs.emplace_back();
        process.start(program, arguments);
        process.waitForStarted(5000);
        process.write(input);
        process.closeWriteChannel();
        return process;
    }
    // A scripted owner takes the clipboard; returns once it says it has.
    QProcess& owner(const QString& program, const QStringList& arguments) {
        QProcess& process = start(program, arguments);
        EXPECT_TRUE(pumpUntil([&] { return process.canReadLine(); }, 5s))
            << program.toStdString()
            << " did not take the clipboard: " << process.readAllStandardError().toStdString();
        return process;
    }
    // Reads the way a poll does: the counter first, then the text.
    [[nodiscard]] bool holds(std::string_view text) const {
        (void)board->changeCount();
        const std::optional<platform::Text> current = board->string();
        return current && current->bytes() == text;
    }
    bool waitForText(std::string_view text, std::chrono::milliseconds timeout = 5s) {
        return pumpUntil([&] { return holds(text); }, timeout);
    }
    bool waitForChange(std::int64_t from, std::chrono::milliseconds timeout = 5s) {
        return pumpUntil([&] { return board->changeCount() != from; }, timeout);
    }

    std::list<QProcess> programs;
    std::unique_ptr<platform::WorkerPasteboard> board;
};

}  // namespace brimlet::testing
