#include "engine/reconstruction/local/colmap/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <map>

extern char** environ;

namespace pelorin::engine {

namespace {

std::vector<std::string> mergedEnvironment(
    const std::vector<std::pair<std::string, std::string>>& changes) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view text(*entry);
        const auto equals = text.find('=');
        if (equals == std::string_view::npos) continue;
        variables[std::string(text.substr(0, equals))] = std::string(text.substr(equals + 1));
    }
    for (const auto& [name, value] : changes) variables[name] = value;
    std::vector<std::string> merged;
    for (const auto& [name, value] : variables) merged.push_back(name + "=" + value);
    return merged;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

// Splits output into lines; a carriage return also ends a line (progress bars rewrite one).
class LineSplitter {
  public:
    LineSplitter(const std::function<void(std::string_view)>& onLine, std::size_t kept)
        : onLine_(onLine), kept_(kept) {}

    void feed(std::string_view bytes) {
        for (char c : bytes) {
            if (c == '\n' || c == '\r') {
                flush();
            } else if (pending_.size() < 64 * 1024) {  // a runaway line is cut, not hoarded
                pending_.push_back(c);
            }
        }
    }
    void flush() {
        if (pending_.empty()) return;
        if (onLine_) onLine_(pending_);
        last_.push_back(std::move(pending_));
        if (last_.size() > kept_) last_.pop_front();
        pending_.clear();
    }
    std::vector<std::string> lastLines() const { return {last_.begin(), last_.end()}; }

  private:
    const std::function<void(std::string_view)>& onLine_;
    std::size_t kept_;
    std::string pending_;
    std::deque<std::string> last_;
};

}  // namespace

pelorin::Expected<ChildResult, std::string> runChild(
    const std::vector<std::string>& arguments, const ChildOptions& options,
    const std::function<void(std::string_view line)>& onLine, std::stop_token stop) {
    if (arguments.empty()) return pelorin::unexpected(std::string("no program to run"));
    // Everything the child needs is prepared before fork: after it, only async-signal-safe
    // calls may run in the child of a threaded process.
    auto argumentCopy = arguments;
    auto argv = pointers(argumentCopy);
    auto environmentStrings = mergedEnvironment(options.environment);
    auto envp = pointers(environmentStrings);
    const std::string directory = options.workingDirectory.string();

    int output[2];
    int failure[2];  // carries errno of a failed exec back to the parent
    if (pipe2(output, O_CLOEXEC) != 0 || pipe2(failure, O_CLOEXEC) != 0)
        return pelorin::unexpected(std::string("could not make a pipe: ") + std::strerror(errno));

    const pid_t pid = fork();
    if (pid < 0) {
        const int error = errno;
        for (int fd : {output[0], output[1], failure[0], failure[1]}) close(fd);
        return pelorin::unexpected(std::string("could not start ") + arguments[0] + ": " +
                                   std::strerror(error));
    }
    if (pid == 0) {
        setpgid(0, 0);
        const int null = open("/dev/null", O_RDONLY);
        if (null >= 0) dup2(null, STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        dup2(output[1], STDERR_FILENO);
        if (!directory.empty() && chdir(directory.c_str()) != 0) {
            const int error = errno;
            (void)!write(failure[1], &error, sizeof error);
            _exit(127);
        }
        execvpe(argv[0], argv.data(), envp.data());
        const int error = errno;
        (void)!write(failure[1], &error, sizeof error);
        _exit(127);
    }
    setpgid(pid, pid);  // also here, so that a stop before the child runs still reaches it
    close(output[1]);
    close(failure[1]);
    int execError = 0;
    const bool execFailed = read(failure[0], &execError, sizeof execError) == sizeof execError;
    close(failure[0]);

    LineSplitter lines(onLine, options.keptLines);
    ChildResult result;
    std::optional<std::chrono::steady_clock::time_point> termSent;
    bool killed = false;
    bool open = true;
    int status = 0;
    bool reaped = false;
    char buffer[16384];
    while (!reaped) {
        if (stop.stop_requested() && !termSent) {
            result.cancelled = true;
            killpg(pid, SIGTERM);
            termSent = std::chrono::steady_clock::now();
        }
        if (termSent && !killed &&
            std::chrono::steady_clock::now() - *termSent >= options.termGrace) {
            killpg(pid, SIGKILL);
            killed = true;
        }
        if (open) {
            pollfd poller{output[0], POLLIN, 0};
            if (poll(&poller, 1, 50) > 0) {
                const ssize_t n = read(output[0], buffer, sizeof buffer);
                if (n > 0) {
                    lines.feed({buffer, static_cast<std::size_t>(n)});
                } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                    open = false;
                }
            }
        } else {
            usleep(20000);
        }
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) reaped = true;
    }
    // Whatever the program left running in its group goes with it; then the rest of the
    // output, which nobody can hold open any more.
    killpg(pid, SIGKILL);
    fcntl(output[0], F_SETFL, O_NONBLOCK);
    while (open) {
        const ssize_t n = read(output[0], buffer, sizeof buffer);
        if (n > 0)
            lines.feed({buffer, static_cast<std::size_t>(n)});
        else
            open = false;
    }
    close(output[0]);
    lines.flush();
    if (execFailed)
        return pelorin::unexpected(std::string("could not start ") + arguments[0] + ": " +
                                   std::strerror(execError));
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.lastLines = lines.lastLines();
    return result;
}

}  // namespace pelorin::engine
