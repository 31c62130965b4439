// In-memory clipboard for tests: other programs' copies are simulated with
// `copyFromOtherApp`, and every call is counted.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/core/pasteboard.h"

namespace brimlet::platform {

class FakePasteboard final : public Pasteboard {
  public:
    [[nodiscard]] std::int64_t changeCount() const override {
        ++counterReads;
        return changeCount_;
    }
    [[nodiscard]] std::optional<Text> string() const override {
        ++stringReads;
        return contents_;
    }
    std::int64_t clearContents() override {
        ++clears;
        contents_.reset();
        return ++changeCount_;
    }
    bool setString(const Text& text) override {
        ++writes;
        ++changeCount_;
        if (refuseWrites) {
            return false;
        }
        contents_ = text;
        return true;
    }

    // Another program puts a text, or contents without text, on the clipboard.
    void copyFromOtherApp(const Text& text) {
        contents_ = text;
        ++changeCount_;
    }
    void copyFromOtherApp(const char* text) { copyFromOtherApp(Text(text)); }
    void copyNonTextFromOtherApp() {
        contents_.reset();
        ++changeCount_;
    }
    // Counters may jump anywhere, backwards included.
    void setChangeCount(std::int64_t count) { changeCount_ = count; }
    [[nodiscard]] const std::optional<Text>& contents() const { return contents_; }

    bool refuseWrites = false;
    mutable int counterReads = 0;
    mutable int stringReads = 0;
    int clears = 0;
    int writes = 0;

  private:
    std::int64_t changeCount_ = 1000;
    std::optional<Text> contents_;
};

}  // namespace brimlet::platform
