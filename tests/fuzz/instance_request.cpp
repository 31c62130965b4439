// Any message on the instance socket: it asks for something only when it is
// one of the words, with or without one line end, and then for that word's
// request.
#include <cstdint>

#include "platform/instance/single_instance.h"

using brimlet::platform::InstanceRequest;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView message(data, static_cast<qsizetype>(size));
    InstanceRequest expected = InstanceRequest::None;
    for (const auto& [word, request] : {std::pair{"open", InstanceRequest::OpenPanel},
                                        {"show", InstanceRequest::OpenPanel},
                                        {"pause", InstanceRequest::Pause},
                                        {"resume", InstanceRequest::Resume}}) {
        for (const char* end : {"", "\n", "\r\n"}) {
            if (message == QByteArray(word) + end) {
                expected = request;
            }
        }
    }
    if (brimlet::platform::parseInstanceRequest(message) != expected) {
        __builtin_trap();
    }
    return 0;
}
