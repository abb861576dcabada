#include "process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace glyphound::testing {
namespace {

std::string environmentOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

void makePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::string programPath() { return environmentOr("GLYPHOUND_EXE", "glyphound"); }

std::vector<std::string> programCommand(const std::vector<std::string>& arguments) {
    std::vector<std::string> command;
    std::istringstream emulator(environmentOr("GLYPHOUND_EMULATOR", ""));
    for (std::string word; emulator >> word;) command.push_back(word);
    command.push_back(programPath());
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

std::string invocationName() {
    if (environmentOr("GLYPHOUND_EMULATOR", "").empty()) return programPath();
    static const std::string probed = [] {
        const std::string usage = runProgram({"a", "b"}, ".", "").err;
        const std::string prefix = "Usage: ", suffix = " [file]\r\n";
        if (usage.size() < prefix.size() + suffix.size()) return usage;
        return usage.substr(prefix.size(), usage.size() - prefix.size() - suffix.size());
    }();
    return probed;
}

Child::Child(const std::vector<std::string>& command, const std::string& directory,
             Options options) {
    int in[2], out[2], err[2];
    makePipe(in);
    makePipe(out);
    makePipe(err);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        if (options.stdoutReaderGone) ::close(out[0]);
        std::vector<char*> argv;
        for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        if (::chdir(directory.c_str()) == 0) ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    if (options.stdoutReaderGone) {
        ::close(out_);
        out_ = -1;
    }
}

Child::~Child() {
    if (pid_ > 0) kill();
    for (int fd : {in_, out_, err_})
        if (fd >= 0) ::close(fd);
}

void Child::send(const std::string& input) {
    pendingInput_ += input;
    pump(0);
}

void Child::closeInput() {
    while (!pendingInput_.empty() && in_ >= 0) pump(100);
    if (in_ >= 0) ::close(in_);
    in_ = -1;
}

void Child::pump(int timeoutMs) {
    pollfd fds[3];
    int count = 0;
    if (out_ >= 0) fds[count++] = {out_, POLLIN, 0};
    if (err_ >= 0) fds[count++] = {err_, POLLIN, 0};
    if (in_ >= 0 && !pendingInput_.empty()) fds[count++] = {in_, POLLOUT, 0};
    if (count == 0 || ::poll(fds, count, timeoutMs) <= 0) return;
    for (int i = 0; i < count; ++i) {
        if (!fds[i].revents) continue;
        int& fd = fds[i].fd == out_ ? out_ : fds[i].fd == err_ ? err_ : in_;
        if (fd == in_) {
            const ssize_t put = ::write(fd, pendingInput_.data(), pendingInput_.size());
            if (put > 0) pendingInput_.erase(0, static_cast<std::size_t>(put));
            if (put < 0) {  // the child stopped reading
                pendingInput_.clear();
                ::close(fd);
                fd = -1;
            }
            continue;
        }
        char buffer[65536];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            ::close(fd);
            fd = -1;
        } else {
            (fd == out_ ? result_.out : result_.err).append(buffer, static_cast<std::size_t>(got));
        }
    }
}

bool Child::waitForOutput(const std::string& text, double seconds) {
    const double deadline = now() + seconds;
    while (result_.out.find(text) == std::string::npos) {
        if (now() > deadline || (out_ < 0)) return result_.out.find(text) != std::string::npos;
        pump(50);
    }
    return true;
}

void Child::reap(int options) {
    if (reaped_) return;
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid_, &status, options, &usage) != pid_) return;
    reaped_ = true;
    result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result_.peakKiB = usage.ru_maxrss;
}

bool Child::running() {
    reap(WNOHANG);
    return !reaped_;
}

void Child::kill() {
    if (!reaped_) ::kill(pid_, SIGKILL);
    reap(0);
}

Finished Child::finish(double seconds) {
    ::signal(SIGPIPE, SIG_IGN);
    const double deadline = now() + seconds;
    closeInput();
    while ((out_ >= 0 || err_ >= 0) && now() < deadline) pump(100);
    if (!reaped_ && (out_ >= 0 || err_ >= 0)) ::kill(pid_, SIGKILL);  // hung: fail, don't hang
    reap(0);
    return result_;
}

Finished runProgram(const std::vector<std::string>& arguments, const std::string& directory,
                    const std::string& input) {
    Child child(programCommand(arguments), directory);
    child.send(input);
    return child.finish();
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "glyphound-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return {};
    std::string bytes(static_cast<std::size_t>(file.tellg()), '\0');
    file.seekg(0);
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

bool fileExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

}  // namespace glyphound::testing
