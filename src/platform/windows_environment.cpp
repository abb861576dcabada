// The environment of a Windows console process. Standard streams are read
// and written as raw handles, so no C runtime text mode (such as its end of
// input at byte 0x1A) applies; the text rules are the streams' own. The
// sharing rules are the operating system's: files are opened with the share
// modes they need.
#include <windows.h>

#include "platform/system.hpp"

namespace glyphound {
namespace {

class HandleSource : public ByteSource {
public:
    explicit HandleSource(HANDLE handle) : handle_(handle) {}
    ReadResult read(std::uint8_t* buffer, std::size_t capacity) override {
        DWORD got = 0;
        const auto wanted = static_cast<DWORD>(capacity < 0x40000000 ? capacity : 0x40000000);
        if (ReadFile(handle_, buffer, wanted, &got, nullptr)) return {got, false};
        const DWORD error = GetLastError();
        // A pipe whose writer has gone is at its end, not broken.
        const bool ended = error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF;
        return {0, !ended};
    }

protected:
    HANDLE handle_;
};

class HandleSink : public ByteSink {
public:
    explicit HandleSink(HANDLE handle) : handle_(handle) {}
    bool write(const std::uint8_t* data, std::size_t size) override {
        while (size > 0) {
            DWORD put = 0;
            const auto chunk = static_cast<DWORD>(size < 0x40000000 ? size : 0x40000000);
            if (!WriteFile(handle_, data, chunk, &put, nullptr) || put == 0) return false;
            data += put;
            size -= put;
        }
        return true;
    }

protected:
    HANDLE handle_;
};

class FileSource : public HandleSource {
public:
    using HandleSource::HandleSource;
    ~FileSource() override { CloseHandle(handle_); }
};

class FileSink : public HandleSink {
public:
    using HandleSink::HandleSink;
    ~FileSink() override { close(); }
    bool close() override {
        if (handle_ == INVALID_HANDLE_VALUE) return true;
        const bool closed = CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }
};

class WindowsEnvironment : public Environment {
public:
    WindowsEnvironment()
        : output_(std::make_unique<HandleSink>(GetStdHandle(STD_OUTPUT_HANDLE)),
                  OutputOptions{Buffering::Line, true, kDefaultBlockSize}),
          error_(std::make_unique<HandleSink>(GetStdHandle(STD_ERROR_HANDLE)),
                 OutputOptions{Buffering::None, true, kDefaultBlockSize}),
          input_(std::make_unique<HandleSource>(GetStdHandle(STD_INPUT_HANDLE)),
                 InputOptions{true, &output_, kDefaultBlockSize}) {}
    ~WindowsEnvironment() override {
        output_.close();
        error_.close();
    }

    InputStream& standardInput() override { return input_; }
    OutputStream& standardOutput() override { return output_; }
    OutputStream& standardError() override { return error_; }

    std::unique_ptr<InputStream> openForReading(const std::string& name) override {
        // Others may only read while we read; a directory can't be opened this way.
        const HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file == INVALID_HANDLE_VALUE) return nullptr;
        // It is read twice (scan, then shift): a pipe or a device won't do.
        if (GetFileType(file) != FILE_TYPE_DISK) {
            CloseHandle(file);
            return nullptr;
        }
        return std::make_unique<InputStream>(std::make_unique<FileSource>(file),
                                             InputOptions{false, &output_, kDefaultBlockSize});
    }

    std::unique_ptr<OutputStream> openForWriting(const std::string& name) override {
        // Nobody else may open it while we write. The open fails on a file
        // this process is reading before anything is changed; only a file with
        // content is emptied, which also lets a device stand in for the file.
        const HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return nullptr;
        LARGE_INTEGER size{};
        if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && !SetEndOfFile(file)) {
            CloseHandle(file);
            return nullptr;
        }
        return std::make_unique<OutputStream>(std::make_unique<FileSink>(file),
                                              OutputOptions{Buffering::Full, false, kDefaultBlockSize});
    }

    bool outputIsConsole() override {
        return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR;
    }

    void waitForEnter() override {
        input_.discardBuffered();
        if (input_.closed()) return;
        // One read of the device: a console returns the whole line typed.
        std::uint8_t line[256];
        DWORD got = 0;
        ReadFile(GetStdHandle(STD_INPUT_HANDLE), line, sizeof line, &got, nullptr);
    }

private:
    OutputStream output_;
    OutputStream error_;
    InputStream input_;
};

}  // namespace

std::unique_ptr<Environment> makeSystemEnvironment() { return std::make_unique<WindowsEnvironment>(); }

}  // namespace glyphound
