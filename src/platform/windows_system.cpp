// The system of a Windows console process. Standard streams are read and
// written as raw handles, so no C runtime text mode (such as its end of input
// at byte 0x1A) applies. The sharing rules are the operating system's share
// modes, plus a check against the files behind the standard handles, which
// the shell may have opened with more lenient sharing.
#include <windows.h>

#include <cstring>

#include "platform/sharing.hpp"
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

// The file's 128-bit ID. The volume is left out: Wine reports none for a
// handle a Unix shell passed in, and a false match between volumes can only
// refuse an open, never allow one.
bool identityOf(HANDLE handle, FileIdentity& identity) {
    FILE_ID_INFO information{};
    if (!GetFileInformationByHandleEx(handle, FileIdInfo, &information, sizeof information)) return false;
    static_assert(sizeof information.FileId.Identifier == sizeof identity.device + sizeof identity.inode);
    std::memcpy(&identity.device, information.FileId.Identifier, sizeof identity.device);
    std::memcpy(&identity.inode, information.FileId.Identifier + sizeof identity.device, sizeof identity.inode);
    return true;
}

class WindowsSystem : public System {
public:
    WindowsSystem() {
        const DWORD streams[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
        for (DWORD stream : streams) {
            const HANDLE handle = GetStdHandle(stream);
            FileIdentity identity;
            if (GetFileType(handle) == FILE_TYPE_DISK && identityOf(handle, identity))
                standardFiles_.hold(identity, stream == STD_INPUT_HANDLE ? Access::Read : Access::Write);
        }
    }

    std::unique_ptr<ByteSource> standardInput() override {
        return std::make_unique<HandleSource>(GetStdHandle(STD_INPUT_HANDLE));
    }
    std::unique_ptr<ByteSink> standardOutput() override {
        return std::make_unique<HandleSink>(GetStdHandle(STD_OUTPUT_HANDLE));
    }
    std::unique_ptr<ByteSink> standardError() override {
        return std::make_unique<HandleSink>(GetStdHandle(STD_ERROR_HANDLE));
    }

    OpenedFile openForReading(const std::string& name) override {
        // Others may only read while we read; a directory can't be opened this way.
        const HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (!admitted(file, Access::Read)) return {};
        return {std::make_unique<FileSource>(file), GetFileType(file) == FILE_TYPE_DISK};
    }

    std::unique_ptr<ByteSink> openForWriting(const std::string& name) override {
        // Nobody else may open it while we write. The open fails on a file
        // this process is reading before anything is changed; only a file with
        // content is emptied, which also lets a device stand in for the file.
        const HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (!admitted(file, Access::Write)) return nullptr;
        LARGE_INTEGER size{};
        if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && !SetEndOfFile(file)) {
            CloseHandle(file);
            return nullptr;
        }
        return std::make_unique<FileSink>(file);
    }

    bool outputIsConsole() override {
        return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR;
    }

    void readConsoleLine() override {
        std::uint8_t line[256];
        DWORD got = 0;
        ReadFile(GetStdHandle(STD_INPUT_HANDLE), line, sizeof line, &got, nullptr);
    }

private:
    // Closes an opened handle again when a standard stream holds its file.
    bool admitted(HANDLE file, Access access) {
        if (file == INVALID_HANDLE_VALUE) return false;
        FileIdentity identity;
        if (GetFileType(file) != FILE_TYPE_DISK || !identityOf(file, identity) ||
            standardFiles_.permits(identity, access))
            return true;
        CloseHandle(file);
        return false;
    }

    SharingRegistry standardFiles_;
};

}  // namespace

std::unique_ptr<System> makeSystem() { return std::make_unique<WindowsSystem>(); }

}  // namespace glyphound
