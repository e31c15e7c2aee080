#include "NameResolver.h"

#include <ws2tcpip.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

struct NameResolver::Shared {
    std::mutex lock;
    std::condition_variable wake;
    std::deque<uint32_t> questions;
    std::vector<Answer> answers;
    bool stop = false;
};

namespace {
void Work(std::shared_ptr<NameResolver::Shared> s);
}

NameResolver::~NameResolver() {
    if (!shared) return;
    std::lock_guard<std::mutex> hold(shared->lock);
    shared->stop = true;
    shared->wake.notify_all();
}

void NameResolver::Ask(uint32_t address) {
    if (!shared) {
        shared = std::make_shared<Shared>();
        std::thread(Work, shared).detach();
    }
    std::lock_guard<std::mutex> hold(shared->lock);
    shared->questions.push_back(address);
    shared->wake.notify_one();
}

std::vector<NameResolver::Answer> NameResolver::Take() {
    std::vector<Answer> taken;
    if (!shared) return taken;
    std::lock_guard<std::mutex> hold(shared->lock);
    taken.swap(shared->answers);
    return taken;
}

namespace {
void Work(std::shared_ptr<NameResolver::Shared> s) {
    for (;;) {
        uint32_t address;
        {
            std::unique_lock<std::mutex> hold(s->lock);
            s->wake.wait(hold, [&] { return s->stop || !s->questions.empty(); });
            if (s->stop) return;
            address = s->questions.front();
            s->questions.pop_front();
        }
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(address);
        char host[NI_MAXHOST] = "";
        bool named = getnameinfo(reinterpret_cast<sockaddr*>(&a), sizeof(a), host, sizeof(host), nullptr,
                                 0, NI_NAMEREQD) == 0;
        {
            std::lock_guard<std::mutex> hold(s->lock);
            if (s->stop) return;
            // Taken at the client's next request; bounded by the questions
            // asked, which the name cache bounds.
            s->answers.push_back({address, named});
        }
    }
}
} // namespace
