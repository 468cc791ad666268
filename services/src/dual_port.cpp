#include "dual_port.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

static sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int DualPort::bind(int port, std::string &error) {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) { error = strerror(errno); return -1; }
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = loopback(port);
    if (::bind(listenFd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(listenFd_, 256) != 0) {
        error = strerror(errno);
        close(listenFd_);
        listenFd_ = -1;
        return -1;
    }
    socklen_t len = sizeof a;
    getsockname(listenFd_, reinterpret_cast<sockaddr *>(&a), &len);
    return ntohs(a.sin_port);
}

void DualPort::serve(int tlsTargetPort, int plainTargetPort) {
    for (;;) {
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE) {
                if (errno == EMFILE || errno == ENFILE) usleep(10000);
                continue;
            }
            return;
        }
        std::thread(relay, fd, tlsTargetPort, plainTargetPort).detach();
    }
}

// Closes fd so that the peer sees a reset rather than an orderly end.
static void closeWithReset(int fd) {
    linger l{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(fd);
}

void DualPort::relay(int clientFd, int tlsTargetPort, int plainTargetPort) {
    int one = 1;
    setsockopt(clientFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    // Wait for the client's first byte; a client that never speaks is dropped.
    pollfd first{clientFd, POLLIN, 0};
    unsigned char b = 0;
    if (poll(&first, 1, 30000) <= 0 || recv(clientFd, &b, 1, MSG_PEEK) != 1) {
        close(clientFd);
        return;
    }
    int target = (b == 0x16) ? tlsTargetPort : plainTargetPort;

    int innerFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(target);
    if (innerFd < 0 || connect(innerFd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        if (innerFd >= 0) close(innerFd);
        closeWithReset(clientFd);
        return;
    }
    setsockopt(innerFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    // Copy both ways until both directions have ended. A reset on either side
    // is passed on as a reset to the other side.
    bool clientOpen = true, innerOpen = true;
    char buf[65536];
    while (clientOpen || innerOpen) {
        pollfd p[2] = {{clientFd, short(clientOpen ? POLLIN : 0), 0},
                       {innerFd, short(innerOpen ? POLLIN : 0), 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            int from = i == 0 ? clientFd : innerFd;
            int to = i == 0 ? innerFd : clientFd;
            ssize_t n = recv(from, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                closeWithReset(to);
                closeWithReset(from);
                return;
            }
            if (n == 0) {
                shutdown(to, SHUT_WR);
                (i == 0 ? clientOpen : innerOpen) = false;
                continue;
            }
            for (ssize_t off = 0; off < n;) {
                ssize_t w = send(to, buf + off, size_t(n - off), MSG_NOSIGNAL);
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) {
                    closeWithReset(to);
                    closeWithReset(from);
                    return;
                }
                off += w;
            }
        }
    }
    close(innerFd);
    close(clientFd);
}
