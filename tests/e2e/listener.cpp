// listener: a TCP server on 127.0.0.1 that mvx must never reach. Writes the port it listens on to
// PORTFILE, then one line to LOGFILE for each connection it accepts, until it is killed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fputs("usage: listener PORTFILE LOGFILE\n", stderr);
        return 2;
    }
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(s, 64) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&a), &n) != 0) {
        std::perror("listener");
        return 1;
    }
    // Written whole, then renamed: whoever waits for the file reads the complete port.
    const std::string part = std::string(argv[1]) + ".part";
    FILE *f = std::fopen(part.c_str(), "w");
    if (!f || std::fprintf(f, "%d\n", ntohs(a.sin_port)) < 0 || std::fclose(f) != 0 || std::rename(part.c_str(), argv[1]) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    for (;;) {
        const int c = accept(s, nullptr, nullptr);
        if (c < 0) continue;
        if (FILE *log = std::fopen(argv[2], "a")) {
            std::fputs("connection\n", log);
            std::fclose(log);
        }
        close(c);
    }
}
