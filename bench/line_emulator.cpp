// An exact 8N1 line for timing a master: a slave that answers every function 3 read
// (registers all zero) when the emulated line would have carried the request, the reply
// and the silences, and stamps each request's arrival and its reply's departure on the
// monotonic clock. It never sleeps: it reads its end of the line in a loop, so its stamps
// are the moments the bytes came and went, not the moments a sleeping process woke up to
// them (tens of microseconds on a virtual machine, as much as the master's own gap). It
// takes a whole core while it runs.
//
//   bench_line_emulator (--listen 127.0.0.1:0 | --pty PATH) --baud N
// Prints "listening on HOST:PORT" or "serving on PATH", then serves until SIGTERM (TCP:
// one master after another), and then writes one line per exchange to stderr, as
// vormelq-sim --verbose does: "rx [01 03 00 0a ...] tx [...] none in=US out=US", and
// "master gone" where a TCP master left.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t stopping = 0;

std::int64_t nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

std::uint16_t crc16(const unsigned char* bytes, int n) {
    std::uint16_t crc = 0xFFFF;
    for (int i = 0; i < n; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

struct Exchange {
    unsigned char request[8];
    int replyLength;
    std::int64_t inNs, outNs;
};

// Serves one master on `fd` (non-blocking) until it goes or SIGTERM comes.
void serve(int fd, double charNs, int gaps, std::vector<Exchange>& log) {
    unsigned char request[8];
    int have = 0;
    std::int64_t inNs = 0;
    while (!stopping) {
        const ssize_t n = read(fd, request + have, sizeof request - have);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)) return;
        if (n <= 0) continue;
        if (have == 0) inNs = nowNs();
        have += static_cast<int>(n);
        if (have < 8) continue;
        have = 0;
        const int count = std::min(request[4] << 8 | request[5], 125);
        unsigned char reply[256] = {request[0], 3, static_cast<unsigned char>(2 * count)};
        int length = 3 + 2 * count;
        const std::uint16_t crc = crc16(reply, length);
        reply[length++] = crc & 0xFF;
        reply[length++] = crc >> 8;
        const auto due = inNs + static_cast<std::int64_t>((8 + length + gaps * 3.5) * charNs);
        while (nowNs() < due) {
        }
        if (write(fd, reply, length) != length) return;
        Exchange e{{}, length, inNs, nowNs()};
        std::memcpy(e.request, request, sizeof request);
        log.push_back(e);
    }
}

void printLog(const std::vector<Exchange>& log) {
    for (const Exchange& e : log) {
        if (e.replyLength < 0) {
            std::fprintf(stderr, "master gone\n");
            continue;
        }
        std::string hex;
        char byte[4];
        for (unsigned char b : e.request) {
            std::snprintf(byte, sizeof byte, "%s%02x", hex.empty() ? "" : " ", b);
            hex += byte;
        }
        std::fprintf(stderr, "rx [%s] tx [%d bytes] none in=%lld out=%lld\n", hex.c_str(),
                     e.replyLength, static_cast<long long>(e.inNs / 1000),
                     static_cast<long long>(e.outNs / 1000));
    }
}

int usage() {
    std::fprintf(stderr,
                 "usage: bench_line_emulator (--listen 127.0.0.1:0 | --pty PATH) --baud N\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string listenAt, ptyPath;
    int baud = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--listen")
            listenAt = argv[i + 1];
        else if (option == "--pty")
            ptyPath = argv[i + 1];
        else if (option == "--baud")
            baud = std::atoi(argv[i + 1]);
        else
            return usage();
    }
    if (baud <= 0 || listenAt.empty() == ptyPath.empty()) return usage();
    // Without SA_RESTART: a wait for the next master ends at SIGTERM.
    struct sigaction stop {};
    stop.sa_handler = [](int) { stopping = 1; };
    sigaction(SIGTERM, &stop, nullptr);
    const double charNs = 10 * 1e9 / baud;
    std::vector<Exchange> log;
    log.reserve(1 << 20);
    if (!ptyPath.empty()) {
        int master = -1, slave = -1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return 1;
        termios tio{};
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        unlink(ptyPath.c_str());
        if (symlink(ttyname(slave), ptyPath.c_str()) != 0) return 1;
        std::printf("serving on %s\n", ptyPath.c_str());
        std::fflush(stdout);
        // Our own handle on the slave side keeps the master from seeing hang-ups.
        while (!stopping) serve(master, charNs, 1, log);
        unlink(ptyPath.c_str());
    } else {
        const auto colon = listenAt.rfind(':');
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port =
            htons(static_cast<std::uint16_t>(std::atoi(listenAt.c_str() + colon + 1)));
        inet_pton(AF_INET, listenAt.substr(0, colon).c_str(), &address.sin_addr);
        const int server = socket(AF_INET, SOCK_STREAM, 0);
        socklen_t size = sizeof address;
        if (bind(server, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(server, 4) != 0)
            return 1;
        getsockname(server, reinterpret_cast<sockaddr*>(&address), &size);
        std::printf("listening on %s:%d\n", listenAt.substr(0, colon).c_str(),
                    ntohs(address.sin_port));
        std::fflush(stdout);
        while (!stopping) {
            const int fd = accept(server, nullptr, nullptr);
            if (fd < 0) continue;
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            serve(fd, charNs, 2, log);
            close(fd);
            log.push_back(Exchange{{}, -1, 0, 0});
        }
    }
    printLog(log);
    return 0;
}
