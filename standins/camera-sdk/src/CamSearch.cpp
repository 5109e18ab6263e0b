#include "CamSearch.h"

#include "Protocol.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Target {
    sockaddr_in address {};
    bool loopback = true;
    bool broadcast = false;
};

// "host[:port],…"; entries that are not dotted IPv4 are skipped.
std::vector<Target> parseTargets(const char* text)
{
    std::vector<Target> out;
    const std::string all = (text && *text) ? text : "127.0.0.1";
    size_t start = 0;
    while (start <= all.size() && out.size() < 64) {
        size_t end = all.find(',', start);
        if (end == std::string::npos)
            end = all.size();
        std::string item = all.substr(start, end - start);
        start = end + 1;
        while (!item.empty() && item.front() == ' ')
            item.erase(item.begin());
        while (!item.empty() && item.back() == ' ')
            item.pop_back();
        if (item.empty())
            continue;
        long port = kvproto::DefaultSearchPort;
        const size_t colon = item.find(':');
        if (colon != std::string::npos) {
            char* endp = nullptr;
            port = std::strtol(item.c_str() + colon + 1, &endp, 10);
            if (*endp != '\0' || port < 1 || port > 65535)
                continue;
            item.resize(colon);
        }
        Target t;
        t.address.sin_family = AF_INET;
        t.address.sin_port = htons(static_cast<uint16_t>(port));
        if (!kvnet::parseIpv4(item, t.address.sin_addr.s_addr))
            continue;
        const uint32_t host = ntohl(t.address.sin_addr.s_addr);
        t.loopback = (host >> 24) == 127;
        t.broadcast = host == 0xffffffffu || (host & 0xff) == 0xff;
        out.push_back(t);
        if (start > all.size())
            break;
    }
    return out;
}

// The search whose worker runs on this thread, if any.
thread_local const CamSearch* t_hookOwner = nullptr;

} // namespace

struct CamSearch::Private {
    std::mutex mutex;
    std::thread worker;
    std::atomic<bool> searching { false };
    kvnet::CancelPipe cancel;
};

CamSearch::CamSearch()
    : d(new Private)
{
}

CamSearch::~CamSearch()
{
    d->cancel.cancel();
    Wait();
}

void CamSearch::Wait()
{
    // A hook runs on the worker, which cannot wait for itself; nor may it
    // take the lock that another Wait() holds while joining it.
    if (t_hookOwner == this)
        return;
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->worker.joinable())
        d->worker.join();
}

bool CamSearch::IsSearching() const
{
    return d->searching;
}

void CamSearch::OnSearchStarted() { }
void CamSearch::OnDeviceFound(const CamSearchRecord*) { }
void CamSearch::OnSearchFinished() { }

bool CamSearch::Start()
{
    // From a hook: refused before the lock, which Wait() may hold while it
    // joins that very hook's thread.
    if (t_hookOwner == this)
        return false;
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->searching)
        return false;
    if (d->worker.joinable())
        d->worker.join();
    if (d->cancel.cancelled())
        return false;
    const std::vector<Target> targets = parseTargets(std::getenv("KVSDK_SEARCH_TARGETS"));
    const int windowMs = kvproto::envTimeoutMs("KVSDK_SEARCH_WINDOW_MS", 1500);
    d->searching = true;
    d->worker = std::thread([this, targets, windowMs] {
        t_hookOwner = this;
        OnSearchStarted();
        kvnet::Socket s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        bool allLoopback = true;
        for (const Target& t : targets)
            allLoopback = allLoopback && t.loopback;
        if (s.valid() && allLoopback) {
            // Stay off every other interface while only loopback is asked.
            sockaddr_in local {};
            local.sin_family = AF_INET;
            local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::bind(s.fd(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
                s.close();
        }
        std::random_device rd;
        const uint32_t nonce = rd();
        if (s.valid()) {
            std::vector<uint8_t> probe = kvproto::encodeHeader(kvproto::SearchProbe, 4, 0);
            uint8_t n[4];
            kvwire::putU32(n, nonce);
            probe.insert(probe.end(), n, n + 4);
            for (const Target& t : targets) {
                if (t.broadcast) {
                    const int one = 1;
                    ::setsockopt(s.fd(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
                }
                ::sendto(s.fd(), probe.data(), probe.size(), MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&t.address), sizeof t.address);
            }
        }
        const int64_t deadline = kvnet::monotonicMs() + windowMs;
        std::vector<uint8_t> buf(2048);
        while (s.valid()) {
            const int64_t left = deadline - kvnet::monotonicMs();
            if (left <= 0)
                break;
            const kvnet::IoResult r = s.waitReadable(static_cast<int>(left), &d->cancel);
            if (r != kvnet::IoResult::Ok)
                break;
            const ssize_t got = ::recv(s.fd(), buf.data(), buf.size(), MSG_DONTWAIT);
            CamSearchRecord record;
            if (got <= 0 || !kvproto::readSearchAnswer(buf.data(), static_cast<size_t>(got), nonce, record))
                continue;
            OnDeviceFound(&record);
        }
        OnSearchFinished();
        d->searching = false;
    });
    return true;
}
