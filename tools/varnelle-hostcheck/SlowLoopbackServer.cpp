#include "SlowLoopbackServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace varnelle::hostcheck
{
namespace
{
long long nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds> (steady_clock::now().time_since_epoch()).count();
}

// A body far longer than a feed may be, so the client never sees the end of it.
constexpr const char* answerHead = "HTTP/1.1 200 OK\r\n"
                                   "Content-Type: application/json\r\n"
                                   "Content-Length: 1000000\r\n"
                                   "\r\n";
constexpr long long trickleIntervalMs = 250;
} // namespace

SlowLoopbackServer::~SlowLoopbackServer()
{
    stop();
}

bool SlowLoopbackServer::start (int portToUse, std::string& error)
{
    stop();

    listenSocket = ::socket (AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenSocket < 0)
    {
        error = std::string ("socket: ") + std::strerror (errno);
        return false;
    }

    const int yes = 1;
    ::setsockopt (listenSocket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof (yes));

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons ((uint16_t)portToUse);
    address.sin_addr.s_addr = htonl (INADDR_LOOPBACK); // loopback only, never a real interface

    if (::bind (listenSocket, (const sockaddr*)&address, sizeof (address)) != 0 ||
        ::listen (listenSocket, 64) != 0)
    {
        error = "cannot listen on 127.0.0.1:" + std::to_string (portToUse) + ": " + std::strerror (errno);
        ::close (listenSocket);
        listenSocket = -1;
        return false;
    }

    if (::pipe2 (wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
    {
        error = std::string ("pipe: ") + std::strerror (errno);
        ::close (listenSocket);
        listenSocket = -1;
        return false;
    }

    port = portToUse;
    shouldStop = false;
    worker = std::thread ([this] { run(); });
    return true;
}

void SlowLoopbackServer::stop()
{
    if (worker.joinable())
    {
        shouldStop = true;
        const char wake = 1;
        [[maybe_unused]] const auto written = ::write (wakePipe[1], &wake, 1);
        worker.join();
    }

    for (int* fd : {&listenSocket, &wakePipe[0], &wakePipe[1]})
    {
        if (*fd >= 0)
            ::close (*fd);
        *fd = -1;
    }
}

void SlowLoopbackServer::closeConnection (Connection& c)
{
    if (c.socket >= 0)
    {
        ::close (c.socket);
        c.socket = -1;
        --numOpenConnections;
    }
}

void SlowLoopbackServer::run()
{
    std::vector<Connection> connections;

    while (!shouldStop)
    {
        std::vector<pollfd> fds;
        fds.push_back ({listenSocket, POLLIN, 0});
        fds.push_back ({wakePipe[0], POLLIN, 0});
        for (const auto& c : connections)
            fds.push_back ({c.socket, POLLIN, 0});

        ::poll (fds.data(), (nfds_t)fds.size(), 50);

        if (fds[0].revents & POLLIN)
        {
            for (;;)
            {
                const int client = ::accept4 (listenSocket, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (client < 0)
                    break;

                connections.push_back ({client, {}, false, 0});
                ++numOpenConnections;
            }
        }

        const auto now = nowMs();

        for (size_t i = 0; i < connections.size(); ++i)
        {
            auto& c = connections[i];
            const auto revents = fds.size() > i + 2 ? fds[i + 2].revents : 0;

            if (revents & (POLLIN | POLLHUP | POLLERR))
            {
                char buffer[2048];
                const auto numRead = ::recv (c.socket, buffer, sizeof (buffer), 0);

                if (numRead == 0 || (numRead < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
                {
                    closeConnection (c);
                    continue;
                }

                if (numRead > 0 && !c.answering)
                {
                    c.request.append (buffer, (size_t)numRead);

                    if (c.request.find ("\r\n\r\n") != std::string::npos)
                    {
                        ++numRequests;
                        if (c.request.rfind ("GET /products.json ", 0) == 0)
                            ++numFeedRequests;

                        c.answering = true;
                        c.nextTrickleMs = now + trickleIntervalMs;
                        if (::send (c.socket, answerHead, std::strlen (answerHead), MSG_NOSIGNAL) < 0)
                            closeConnection (c);
                    }
                    else if (c.request.size() > 64 * 1024)
                    {
                        closeConnection (c);
                    }
                }
            }

            if (c.socket >= 0 && c.answering && now >= c.nextTrickleMs)
            {
                c.nextTrickleMs = now + trickleIntervalMs;
                if (::send (c.socket, " ", 1, MSG_NOSIGNAL) < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                    closeConnection (c);
            }
        }

        connections.erase (std::remove_if (connections.begin(), connections.end(),
                                           [] (const Connection& c) { return c.socket < 0; }),
                           connections.end());

        if (fds[1].revents & POLLIN)
        {
            char drain[16];
            while (::read (wakePipe[0], drain, sizeof (drain)) > 0)
            {
            }
        }
    }

    for (auto& c : connections)
        closeConnection (c);
}

} // namespace varnelle::hostcheck
