// The system of a Windows console process. Standard streams are read and
// written as raw handles, so no C runtime text mode (such as its end of input
// at byte 0x1A) applies. The sharing rules are the operating system's share
// modes, plus a check against the files behind the standard handles, which
// the shell may have opened with more lenient sharing.
#include <windows.h>

#include <shellapi.h>

#include <cstring>

#include "platform/sharing.hpp"
#include "platform/system.hpp"

namespace glyphound {
namespace {

std::wstring wide(const std::string& utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), length);
    return text;
}

std::string utf8(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return {};
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), length, nullptr, nullptr);
    bytes.pop_back();
    return bytes;
}

// The system's message for an error, without its closing period and line end.
std::string describe(DWORD error) {
    wchar_t* message = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::string text = message ? utf8(message) : "Error " + std::to_string(error);
    LocalFree(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.' || text.back() == ' '))
        text.pop_back();
    return text;
}

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
        if (!ended) failure_ = describe(error);
        return {0, !ended};
    }
    bool skip(std::uint64_t count) override {
        LARGE_INTEGER distance;
        distance.QuadPart = static_cast<LONGLONG>(count);
        const bool sought = GetFileType(handle_) == FILE_TYPE_DISK && count <= 0x7FFFFFFFFFFFFFFFull &&
                            SetFilePointerEx(handle_, distance, nullptr, FILE_CURRENT);
        return sought || ByteSource::skip(count);
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
            const bool written = WriteFile(handle_, data, chunk, &put, nullptr) != 0;
            if (!written || put == 0) {
                // A write that succeeds without taking a byte leaves no room.
                const DWORD error = written ? ERROR_DISK_FULL : GetLastError();
                failure_ = describe(error);
                readerGone_ = error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
                return false;
            }
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
    ~FileSource() override {
        if (view_) UnmapViewOfFile(view_);
        if (mapping_) CloseHandle(mapping_);
        CloseHandle(handle_);
    }
    std::optional<std::string_view> mapped() override {
        LARGE_INTEGER size;
        if (GetFileType(handle_) != FILE_TYPE_DISK || !GetFileSizeEx(handle_, &size) || size.QuadPart < 0 ||
            static_cast<std::uint64_t>(size.QuadPart) > SIZE_MAX)
            return std::nullopt;
        if (size.QuadPart == 0) return std::string_view();
        if (!view_) {
            mapping_ = CreateFileMappingW(handle_, nullptr, PAGE_READONLY, 0, 0, nullptr);
            view_ = mapping_ ? MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0) : nullptr;
            if (!view_) {
                if (mapping_) CloseHandle(mapping_);
                mapping_ = nullptr;
                return std::nullopt;
            }
            viewSize_ = static_cast<std::size_t>(size.QuadPart);
        }
        return std::string_view(static_cast<const char*>(view_), viewSize_);
    }

private:
    HANDLE mapping_ = nullptr;
    void* view_ = nullptr;
    std::size_t viewSize_ = 0;
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

// Written under a temporary name, then moved over the target in one step.
// The target stays open without sharing until then, so nothing, this run
// included, can read it while its replacement is being written.
class ReplacementSink : public HandleSink {
public:
    ReplacementSink(HANDLE handle, std::wstring temporary, std::wstring target, HANDLE targetHold)
        : HandleSink(handle), temporary_(std::move(temporary)), target_(std::move(target)), targetHold_(targetHold) {}
    ~ReplacementSink() override {
        releaseTarget();
        if (handle_ == INVALID_HANDLE_VALUE) return;
        CloseHandle(handle_);
        DeleteFileW(temporary_.c_str());
    }
    bool close() override {
        if (handle_ == INVALID_HANDLE_VALUE) return failure_.empty();
        // A replacement that lost a write is never put in place.
        const bool written = failure_.empty() && FlushFileBuffers(handle_) != 0;
        if (!written && failure_.empty()) failure_ = describe(GetLastError());
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        releaseTarget();
        const bool moved = written && MoveFileExW(temporary_.c_str(), target_.c_str(),
                                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        if (written && !moved) failure_ = describe(GetLastError());
        if (!moved) DeleteFileW(temporary_.c_str());
        return moved;
    }

private:
    void releaseTarget() {
        if (targetHold_ != INVALID_HANDLE_VALUE) CloseHandle(targetHold_);
        targetHold_ = INVALID_HANDLE_VALUE;
    }

    std::wstring temporary_, target_;
    HANDLE targetHold_;
};

std::wstring folderOf(const std::wstring& path) {
    const auto slash = path.find_last_of(L"\\/:");
    if (slash == std::wstring::npos) return L"";
    return path.substr(0, slash + 1);
}

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
        // The program writes UTF-8, kana included; the console shows it as
        // such while the program runs, then gets its own code page back.
        SetConsoleOutputCP(CP_UTF8);
    }
    ~WindowsSystem() override { SetConsoleOutputCP(consoleCodePage_); }

    std::unique_ptr<ByteSource> standardInput() override {
        return std::make_unique<HandleSource>(GetStdHandle(STD_INPUT_HANDLE));
    }
    std::unique_ptr<ByteSink> standardOutput() override {
        return std::make_unique<HandleSink>(GetStdHandle(STD_OUTPUT_HANDLE));
    }
    std::unique_ptr<ByteSink> standardError() override {
        return std::make_unique<HandleSink>(GetStdHandle(STD_ERROR_HANDLE));
    }

    OpenedFile openStandardInput() override {
        OpenedFile opened;
        const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        FileIdentity identity;
        if (!usable(input))
            opened.failure = describe(ERROR_INVALID_HANDLE);
        else if (GetFileType(input) == FILE_TYPE_DISK && identityOf(input, identity) &&
                 !standardFiles_.permits(identity, Access::Read))
            opened.failure = kSameFile;
        else
            opened.source = standardInput();
        return opened;
    }

    std::string standardOutputFailure() override {
        return usable(GetStdHandle(STD_OUTPUT_HANDLE)) ? "" : describe(ERROR_INVALID_HANDLE);
    }

    // A FIFO has no counterpart here, so there is no writer to wait for.
    OpenedFile openForReading(const std::string& name, Waiting) override {
        // Others may only read while we read; a directory can't be opened this way.
        OpenedFile opened;
        const HANDLE file = CreateFileW(wide(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        const DWORD error = GetLastError();
        if (!admitted(file, Access::Read, opened.failure)) {
            const DWORD attributes = GetFileAttributesW(wide(name).c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) opened.failure = kIsDirectory;
            if (error == ERROR_SHARING_VIOLATION && writtenHere(name)) opened.failure = kSameFile;
            return opened;
        }
        opened.rereadable = GetFileType(file) == FILE_TYPE_DISK;
        LARGE_INTEGER size{};
        if (opened.rereadable && GetFileSizeEx(file, &size)) opened.size = size.QuadPart;
        opened.source = std::make_unique<FileSource>(file);
        return opened;
    }

    std::unique_ptr<ByteSink> openForWriting(const std::string& name) override {
        // Nobody else may open it while we write. The open fails on a file
        // this process is reading before anything is changed; only a file with
        // content is emptied, which also lets a device stand in for the file.
        const HANDLE file = CreateFileW(wide(name).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        std::string failure;
        if (!admitted(file, Access::Write, failure)) return nullptr;
        noteWriting(file);
        LARGE_INTEGER size{};
        if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && !SetEndOfFile(file)) {
            CloseHandle(file);
            return nullptr;
        }
        return std::make_unique<FileSink>(file);
    }

    Replacement createReplacement(const std::string& target) override {
        const std::wstring targetName = wide(target);
        HANDLE hold = CreateFileW(targetName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        std::string failure;
        const bool exists = hold != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_NOT_FOUND;
        if (exists && !admitted(hold, Access::Write, failure)) return {nullptr, failure};
        if (exists) noteWriting(hold);
        // A device keeps its name: it is written in place.
        if (exists && GetFileType(hold) != FILE_TYPE_DISK) return {std::make_unique<FileSink>(hold), ""};
        for (unsigned attempt = 0;; ++attempt) {
            const std::wstring temporary = folderOf(targetName) + L"glyphound-" +
                                           std::to_wstring(GetCurrentProcessId()) + L"-" +
                                           std::to_wstring(GetTickCount() + attempt) + L".tmp";
            const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                noteWriting(file);
                return {std::make_unique<ReplacementSink>(file, temporary, targetName, hold), ""};
            }
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS || attempt > 100) {
                if (hold != INVALID_HANDLE_VALUE) CloseHandle(hold);
                return {nullptr, describe(error)};
            }
        }
    }

    std::vector<std::string> arguments(int, const char* const*) override {
        int count = 0;
        wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
        std::vector<std::string> result;
        for (int i = 0; words && i < count; ++i) result.push_back(utf8(words[i]));
        LocalFree(words);
        return result;
    }

    std::optional<FileIdentity> identify(const std::string& name) override {
        // No access asked, so no share mode can refuse it, and a directory opens too.
        const HANDLE file = CreateFileW(wide(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE) return std::nullopt;
        FileIdentity identity;
        const bool known = identityOf(file, identity);
        CloseHandle(file);
        return known ? std::optional(identity) : std::nullopt;
    }

    bool errorIsConsole() override {
        return GetFileType(GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_CHAR;
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
    // The share modes refuse a file this run writes to every reader, this run
    // included; such a refusal is told apart from one that another program
    // causes, so that it reads the same as on other systems.
    void noteWriting(HANDLE file) {
        FileIdentity identity;
        if (identityOf(file, identity)) writtenHere_.hold(identity, Access::Write);
    }
    bool writtenHere(const std::string& name) {
        const std::optional<FileIdentity> identity = identify(name);
        return identity && !writtenHere_.permits(*identity, Access::Read);
    }

    // A stream the program was started without has no handle at all.
    static bool usable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

    // Closes an opened handle again when a standard stream holds its file.
    bool admitted(HANDLE file, Access access, std::string& failure) {
        if (file == INVALID_HANDLE_VALUE) {
            failure = describe(GetLastError());
            return false;
        }
        FileIdentity identity;
        if (GetFileType(file) != FILE_TYPE_DISK || !identityOf(file, identity) ||
            standardFiles_.permits(identity, access))
            return true;
        CloseHandle(file);
        failure = kSameFile;
        return false;
    }

    SharingRegistry standardFiles_;
    SharingRegistry writtenHere_;  // never released: a file written once counts for the whole run
    const UINT consoleCodePage_ = GetConsoleOutputCP();
};

}  // namespace

std::unique_ptr<System> makeSystem() { return std::make_unique<WindowsSystem>(); }

}  // namespace glyphound
