#include "platformnames.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/stat.h>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace Printer::NvPos::Native {

std::string serialDevicePath(int number)
{
    return "/dev/ttyS" + std::to_string(number - 1);
}

std::string parallelDevicePath(int number)
{
    const std::string port = "/dev/lp" + std::to_string(number - 1);
    struct stat info;
    if (::stat(port.c_str(), &info) == 0)
        return port;
    // A receipt printer on USB appears as a USB printer class device.
    return "/dev/usb/lp" + std::to_string(number - 1);
}

std::optional<std::string> canonicalAddress(const std::string &host)
{
    char text[INET6_ADDRSTRLEN] = {};
    in_addr v4 = {};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1
        && ::inet_ntop(AF_INET, &v4, text, sizeof text))
        return std::string(text);
    in6_addr v6 = {};
    if (::inet_pton(AF_INET6, host.c_str(), &v6) == 1
        && ::inet_ntop(AF_INET6, &v6, text, sizeof text))
        return std::string(text);
    return std::nullopt;
}

void AddrInfoDeleter::operator()(addrinfo *list) const
{
    ::freeaddrinfo(list);
}

HostLookup lookUpHost(const std::string &host,
                      const std::string &service,
                      const addrinfo &hints,
                      std::chrono::steady_clock::time_point deadline)
{
    struct Shared
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool abandoned = false;
        int rc = 0;
        addrinfo *found = nullptr;
    };
    auto shared = std::make_shared<Shared>();
    HostLookup lookup;
    try {
        std::thread([shared, host, service, hints] {
            addrinfo *list = nullptr;
            const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
            const std::lock_guard<std::mutex> lock(shared->mutex);
            if (shared->abandoned) {
                if (rc == 0)
                    ::freeaddrinfo(list);
                return;
            }
            shared->rc = rc;
            shared->found = rc == 0 ? list : nullptr;
            shared->finished = true;
            shared->done.notify_one();
        }).detach();
    } catch (const std::system_error &error) {
        lookup.reason = error.what();
        return lookup;
    }

    std::unique_lock<std::mutex> lock(shared->mutex);
    if (!shared->done.wait_until(lock, deadline, [&] { return shared->finished; })) {
        shared->abandoned = true;
        lookup.outcome = HostLookup::Outcome::TimedOut;
        return lookup;
    }
    if (shared->rc == 0) {
        lookup.outcome = HostLookup::Outcome::Found;
        lookup.found.reset(shared->found);
        return lookup;
    }
    lookup.outcome = shared->rc == EAI_NONAME || shared->rc == EAI_NODATA
                             ? HostLookup::Outcome::NotFound
                             : HostLookup::Outcome::Failed;
    lookup.reason = ::gai_strerror(shared->rc);
    return lookup;
}

} // namespace Printer::NvPos::Native
