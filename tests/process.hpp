#pragma once

#include <string>
#include <vector>

namespace glyphound::testing {

struct Finished {
    int status = -1;  // exit status, or 128 + signal
    long peakKiB = 0;  // maximum resident set
    std::string out;
    std::string err;
};

// The program under test: GLYPHOUND_EXE, run through GLYPHOUND_EMULATOR when set.
std::vector<std::string> programCommand(const std::vector<std::string>& arguments);
std::string programPath();
// The name the program calls itself in its messages: the path it was started
// by, or under an emulator whatever the emulator hands it as its first word
// (Wine gives a Windows path), read once from the usage line.
std::string invocationName();

// A child process with pipes on its standard streams, driven step by step.
class Child {
public:
    struct Options {
        bool stdoutReaderGone = false;  // stdout is a pipe nobody reads
    };
    Child(const std::vector<std::string>& command, const std::string& directory, Options options);
    Child(const std::vector<std::string>& command, const std::string& directory)
        : Child(command, directory, Options{}) {}
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void send(const std::string& input);
    void closeInput();
    // Waits until standard output holds `text` (false after `seconds`).
    bool waitForOutput(const std::string& text, double seconds = 10);
    bool running();
    void kill();
    // Sends what is left, closes standard input and collects everything.
    Finished finish(double seconds = 60);
    const std::string& out() const { return result_.out; }

private:
    void pump(int timeoutMs);
    void reap(int options);

    int pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    std::string pendingInput_;
    Finished result_;
    bool reaped_ = false;
};

Finished runProgram(const std::vector<std::string>& arguments, const std::string& directory,
                    const std::string& input);

// A fresh directory under the system's temporary folder, removed afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

}  // namespace glyphound::testing
