#include "HostCommand.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace qel::image {

namespace {

// Closes a pipe end when it goes.
struct Fd {
    int fd = -1;
    ~Fd() { reset(); }
    void reset() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& extra) {
    std::vector<std::string> out;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto name = text.substr(0, text.find('='));
        if (!extra.count(name)) out.push_back(text);
    }
    for (const auto& [name, value] : extra) out.push_back(name + "=" + value);
    return out;
}

std::vector<char*> pointersOf(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (auto& t : texts) out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

// Feeds the child's standard input and collects its output until both are done.
void exchange(int inputFd, int outputFd, const std::string& input, std::string& output) {
    std::size_t sent = 0;
    bool inputOpen = inputFd >= 0;
    if (inputOpen && input.empty()) {
        ::close(inputFd);
        inputOpen = false;
    }
    char buffer[65536];
    for (;;) {
        pollfd fds[2] = {{outputFd, POLLIN, 0}, {inputOpen ? inputFd : -1, POLLOUT, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (inputOpen && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const auto n = ::write(inputFd, input.data() + sent, input.size() - sent);
            if (n > 0) sent += static_cast<std::size_t>(n);
            if (n < 0 || sent == input.size()) {
                ::close(inputFd);
                inputOpen = false;
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const auto n = ::read(outputFd, buffer, sizeof buffer);
            if (n <= 0) break;
            output.append(buffer, static_cast<std::size_t>(n));
        }
    }
    if (inputOpen) ::close(inputFd);
}

}  // namespace

HostResult runHost(const std::vector<std::string>& argv,
                   const std::map<std::string, std::string>& environment,
                   const std::string& standardInput) {
    HostResult result;
    if (argv.empty()) return result;
    int outPipe[2];
    int inPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) return result;
    Fd outRead{outPipe[0]}, outWrite{outPipe[1]};
    if (::pipe2(inPipe, O_CLOEXEC) != 0) return result;
    Fd inRead{inPipe[0]}, inWrite{inPipe[1]};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inRead.fd, 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite.fd, 1);
    posix_spawn_file_actions_adddup2(&actions, outWrite.fd, 2);

    std::vector<std::string> args = argv;
    std::vector<std::string> env = mergedEnvironment(environment);
    auto argPointers = pointersOf(args);
    auto envPointers = pointersOf(env);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argPointers.data(),
                                       envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    outWrite.reset();
    inRead.reset();
    if (spawned != 0) {
        result.output = argv[0] + ": " + std::strerror(spawned) + "\n";
        return result;
    }
    exchange(inWrite.fd, outRead.fd, standardInput, result.output);
    inWrite.fd = -1;  // closed by exchange
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string describeCommand(const std::vector<std::string>& argv) {
    std::string line;
    for (const auto& arg : argv) {
        if (!line.empty()) line += ' ';
        const bool plain = !arg.empty() && arg.find_first_of(" \t\"'") == std::string::npos;
        line += plain ? arg : "'" + arg + "'";
    }
    return line;
}

namespace {

constexpr const char* kMemoryFolder = "/dev/shm";

bool memoryHasRoomFor(std::uint64_t bytes) {
    struct statvfs st {};
    return bytes > 0 && ::access(kMemoryFolder, W_OK) == 0 && ::statvfs(kMemoryFolder, &st) == 0 &&
           static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize > bytes;
}

}  // namespace

TemporaryFolder::TemporaryFolder(const std::string& prefix, std::uint64_t inMemoryBytes)
    : inMemory_(memoryHasRoomFor(inMemoryBytes)) {
    const std::filesystem::path base =
        inMemory_ ? std::filesystem::path(kMemoryFolder) : std::filesystem::temp_directory_path();
    std::string pattern = (base / (prefix + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder " + pattern);
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace qel::image
