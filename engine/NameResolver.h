// Reverse name look-ups off the window's thread: one worker asks the
// platform's resolver, which may take seconds, and keeps the answers
// until the window's thread takes them. The worker is started at the
// first question and left to finish on its own at shutdown, so closing
// the window never waits for a slow name server.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

class NameResolver {
public:
    struct Answer {
        uint32_t address; // IPv4, host byte order
        bool named;
    };
    NameResolver() = default;
    ~NameResolver();
    NameResolver(const NameResolver&) = delete;
    NameResolver& operator=(const NameResolver&) = delete;

    // Queues a question.
    void Ask(uint32_t address);
    // The answers that came since the last call.
    std::vector<Answer> Take();

    // What the worker shares with the window's thread (NameResolver.cpp).
    struct Shared;

private:
    std::shared_ptr<Shared> shared;
};
