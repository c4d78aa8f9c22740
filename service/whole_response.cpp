#include "service/whole_response.h"

#include <algorithm>
#include <memory>
#include <string>

namespace tertulia {

namespace {

// A reply body the library sends from, and the budget it is counted in.
struct HeldReply {
    std::string body;
    std::atomic<std::size_t>* unsent = nullptr;
};

void FreeHeld(void* cls) {
    std::unique_ptr<HeldReply> held(static_cast<HeldReply*>(cls));
    if (held->unsent) *held->unsent -= held->body.size();
}

void FreeShared(void* cls) {
    delete static_cast<std::shared_ptr<const std::string>*>(cls);
}

}  // namespace

WholeResponse MakeWholeResponse(HttpReply& reply, std::size_t largeBytes,
                                std::atomic<std::size_t>& unsent, std::size_t unsentCap) {
    WholeResponse made;
    if (reply.shared) {
        const std::size_t offset = std::min(reply.sharedOffset, reply.shared->size());
        const std::size_t length = std::min(reply.sharedLength, reply.shared->size() - offset);
        auto* keep = new std::shared_ptr<const std::string>(reply.shared);
        made.response = MHD_create_response_from_buffer_with_free_callback_cls(
            length, const_cast<char*>(reply.shared->data() + offset), FreeShared, keep);
        if (!made.response) delete keep;
        made.bytes = length;
        return made;
    }
    auto held = std::make_unique<HeldReply>();
    held->body = std::move(reply.body);
    const std::size_t size = held->body.size();
    if (size > largeBytes) {
        if (unsent.fetch_add(size) + size > unsentCap) {
            unsent -= size;
            made.refused = true;
            return made;
        }
        held->unsent = &unsent;
    }
    made.bytes = size;
    made.response = MHD_create_response_from_buffer_with_free_callback_cls(size, held->body.data(),
                                                                           FreeHeld, held.get());
    if (made.response) held.release();
    return made;
}

}  // namespace tertulia
