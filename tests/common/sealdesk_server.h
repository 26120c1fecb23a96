// The signing server as a child process for end-to-end tests: a free
// loopback port, and the real build/bin/sealdesk_corvina started in the
// test's folder and killed when the test ends, whatever happened.
#pragma once
#include "sealdesk_test.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sealdesk_test {

// A port nobody listens on right now.
inline int freePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &n);
    close(s);
    return ntohs(a.sin_port);
}

// The server process; killed when the object goes away, whatever happened.
class Server {
public:
    Server(const std::string &dir, std::vector<std::string> args) : out_(dir + "/server.out"), err_(dir + "/server.err") {
        std::string bin = binDir() + "/sealdesk_corvina";
        unlink(out_.c_str());  // no stale "listening on" from an earlier run
        unlink(err_.c_str());
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a crashed test
            int o = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int e = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(o, 1);
            dup2(e, 2);
            std::vector<char *> argv{const_cast<char *>(bin.c_str())};
            for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(bin.c_str(), argv.data());
            _exit(127);
        }
    }
    ~Server() { stop(); }
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Waits for the "listening on" line; false when the process ended or
    // did not get there in time.
    bool waitListening() {
        for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10); std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
            if (stdoutText().find("listening on") != std::string::npos) return true;
            if (exited(std::chrono::milliseconds(0))) return false;
        }
        return false;
    }
    // True once the process has ended (its status is then in status()).
    bool exited(std::chrono::milliseconds within) {
        if (pid_ <= 0) return true;
        for (auto end = std::chrono::steady_clock::now() + within;; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
            if (waitpid(pid_, &status_, WNOHANG) == pid_) {
                pid_ = -1;
                return true;
            }
            if (std::chrono::steady_clock::now() >= end) return false;
        }
    }
    void terminate() {
        if (pid_ > 0) kill(pid_, SIGTERM);
    }
    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
        pid_ = -1;
    }
    int status() const { return status_; }
    std::string stdoutText() const { return readFile(out_); }
    std::string stderrText() const { return readFile(err_); }

private:
    std::string out_, err_;
    pid_t pid_ = -1;
    int status_ = -1;
};

}  // namespace sealdesk_test
