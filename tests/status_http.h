// A plain HTTP/1.1 client for the status endpoint's tests and the scrape
// benchmark: requests sent as they stand, answers read whole.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

// The whole answer to request (sent as it stands), "" when the connection failed.
// With firstMs, also the milliseconds from the call to the answer's first byte.
inline std::string Ask(int port, const std::string& request, double* firstMs = nullptr) {
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string out;
    if (firstMs) *firstMs = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
        char b[65536];
        for (ssize_t n; (n = ::read(fd, b, sizeof b)) > 0;) {
            if (out.empty() && firstMs)
                *firstMs = std::chrono::duration<double, std::milli>(
                               std::chrono::steady_clock::now() - start)
                               .count();
            out.append(b, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    return out;
}

inline std::string Get(int port, const std::string& path, const std::string& headers = "") {
    return Ask(port, "GET " + path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n" +
                         headers + "\r\n");
}

inline int Status(const std::string& answer) {
    return answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0;
}

inline std::string Body(const std::string& answer) {
    const size_t at = answer.find("\r\n\r\n");
    return at == std::string::npos ? "" : answer.substr(at + 4);
}
