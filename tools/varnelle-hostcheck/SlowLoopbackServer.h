#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace varnelle::hostcheck
{

/** An HTTP server on 127.0.0.1 that never finishes an answer: after a request it sends a
    status line and headers promising a large body, then one byte now and then. Stands in for
    the maker's web site, so that an update check stays pending for as long as a test needs.
    Its own thread does all socket work; the other members may be called from any thread. */
class SlowLoopbackServer
{
public:
    SlowLoopbackServer() = default;
    ~SlowLoopbackServer();

    /** Listens on 127.0.0.1:port. False, with the reason in `error`, if the port is taken. */
    bool start (int port, std::string& error);
    void stop();

    bool isRunning() const noexcept { return worker.joinable(); }
    int getPort() const noexcept { return port; }

    /** Requests received so far, and how many of them asked for "/products.json". */
    int getNumRequests() const noexcept { return numRequests.load(); }
    int getNumFeedRequests() const noexcept { return numFeedRequests.load(); }

    /** Connections the server still holds open (their clients have not gone away). */
    int getNumOpenConnections() const noexcept { return numOpenConnections.load(); }

private:
    struct Connection
    {
        int socket = -1;
        std::string request;
        bool answering = false;
        long long nextTrickleMs = 0;
    };

    void run();
    void closeConnection (Connection&);

    int listenSocket = -1;
    int wakePipe[2] = {-1, -1};
    int port = 0;
    std::thread worker;
    std::atomic<bool> shouldStop{false};
    std::atomic<int> numRequests{0}, numFeedRequests{0}, numOpenConnections{0};
};

} // namespace varnelle::hostcheck
