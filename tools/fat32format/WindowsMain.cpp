// The formatter as the Windows console program the main program carries. It only passes system
// calls through; every decision is in the portable formatter.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "VolumeFormat.h"

namespace {

using namespace qel::fat32;

constexpr DWORD kLargestWrite = 4u << 20;

std::string describeError(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = "error " + std::to_string(code);
    if (length != 0 && text != nullptr) {
        std::string described(text, length);
        while (!described.empty() && (described.back() == '\n' || described.back() == '\r' ||
                                      described.back() == ' ' || described.back() == '.'))
            described.pop_back();
        message += " (" + described + ")";
    }
    if (text != nullptr) LocalFree(text);
    return message;
}

// Memory on page boundaries: volume handles do uncached I/O, which wants buffers aligned to the
// sector size, and a page is a multiple of every sector size.
class PageAlignedBuffer {
public:
    explicit PageAlignedBuffer(std::size_t size)
        : data_(static_cast<std::uint8_t*>(
              VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) {}
    PageAlignedBuffer(const PageAlignedBuffer&) = delete;
    PageAlignedBuffer& operator=(const PageAlignedBuffer&) = delete;
    ~PageAlignedBuffer() {
        if (data_ != nullptr) VirtualFree(data_, 0, MEM_RELEASE);
    }
    bool valid() const { return data_ != nullptr; }
    std::uint8_t* data() { return data_; }

private:
    std::uint8_t* data_;
};

class Win32Volume : public Volume {
public:
    explicit Win32Volume(HANDLE handle) : handle_(handle) {}
    Win32Volume(const Win32Volume&) = delete;
    Win32Volume& operator=(const Win32Volume&) = delete;
    ~Win32Volume() override { CloseHandle(handle_); }

    bool control(std::uint32_t code, std::span<const std::uint8_t> input,
                 std::span<std::uint8_t> output, std::uint32_t& returned) override {
        DWORD count = 0;
        const BOOL ok = DeviceIoControl(
            handle_, code, input.empty() ? nullptr : const_cast<std::uint8_t*>(input.data()),
            static_cast<DWORD>(input.size()), output.empty() ? nullptr : output.data(),
            static_cast<DWORD>(output.size()), &count, nullptr);
        returned = count;
        return remember(ok);
    }

    std::optional<std::uint64_t> fileLength() override {
        LARGE_INTEGER size{};
        if (!remember(GetFileSizeEx(handle_, &size))) return std::nullopt;
        return static_cast<std::uint64_t>(size.QuadPart);
    }

    // Every write carries its position in an OVERLAPPED, like pwrite: a disk driver's handle
    // need not keep a file pointer (Wine's have none), and for a synchronous handle both ways
    // are the same on Windows.
    bool writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
        if (!staging_.valid()) {
            lastError_ = ERROR_NOT_ENOUGH_MEMORY;
            return false;
        }
        while (!data.empty()) {
            const DWORD length =
                static_cast<DWORD>(std::min<std::size_t>(data.size(), kLargestWrite));
            std::memcpy(staging_.data(), data.data(), length);
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            DWORD written = 0;
            if (!remember(WriteFile(handle_, staging_.data(), length, &written, &at))) return false;
            if (written != length) {
                lastError_ = ERROR_WRITE_FAULT;
                return false;
            }
            data = data.subspan(written);
            offset += written;
        }
        return true;
    }

    bool flush() override { return remember(FlushFileBuffers(handle_)); }

    std::string lastError() override { return describeError(lastError_); }

private:
    bool remember(BOOL ok) {
        if (!ok) lastError_ = GetLastError();
        return ok != FALSE;
    }

    HANDLE handle_;
    DWORD lastError_ = ERROR_SUCCESS;
    PageAlignedBuffer staging_{kLargestWrite};
};

class Win32System : public VolumeSystem {
public:
    std::unique_ptr<Volume> open(const qel::Text& path, std::string& reason) override {
        const HANDLE handle =
            CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()),
                        GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            reason = describeError(GetLastError());
            return nullptr;
        }
        return std::make_unique<Win32Volume>(handle);
    }
    void pause(std::uint32_t milliseconds) override { Sleep(milliseconds); }
    ClockReading clock() override { return readClock(std::chrono::system_clock::now()); }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<qel::Text> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    Win32System system;
    const Outcome outcome = formatFromArguments(system, arguments);
    std::fprintf(outcome.exitCode == kFormatted ? stdout : stderr, "%s\n", outcome.line.c_str());
    return outcome.exitCode;
}
