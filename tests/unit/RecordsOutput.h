// Gives the program a standard output for its run records, as a starter with
// standard handles would, and keeps what it writes there; the records are
// off again when it goes.
#pragma once

#include "ApiOverride.h"
#include "installer/RunRecords.h"

#include <windows.h>

#include <string>
#include <vector>

class RecordsOutput {
public:
    // How the program was started: with standard handles or not, and what its output is.
    RecordsOutput(DWORD startupFlags = STARTF_USESTDHANDLES, DWORD fileType = FILE_TYPE_PIPE) {
        active() = this;
        flags_ = startupFlags;
        type_ = fileType;
        RunRecords::Open();
    }
    // Started without standard handles, the program writes no records.
    ~RecordsOutput() {
        flags_ = 0;
        RunRecords::Open();
        active() = nullptr;
    }
    RecordsOutput(const RecordsOutput&) = delete;
    RecordsOutput& operator=(const RecordsOutput&) = delete;

    std::string bytes;

    // The records as lines, each checked to end with CR LF.
    std::vector<std::string> Records() const {
        std::vector<std::string> records;
        for (std::size_t start = 0; start < bytes.size();) {
            const std::size_t end = bytes.find("\r\n", start);
            if (end == std::string::npos) return records;
            records.push_back(bytes.substr(start, end - start));
            start = end + 2;
        }
        return records;
    }

private:
    static RecordsOutput*& active() {
        static RecordsOutput* output = nullptr;
        return output;
    }
    static HANDLE Output() { return reinterpret_cast<HANDLE>(0x0DD); }
    static void WINAPI Startup(LPSTARTUPINFOW startup) {
        *startup = {};
        startup->cb = sizeof *startup;
        startup->dwFlags = active()->flags_;
    }
    static HANDLE WINAPI StdHandle(DWORD which) { return which == STD_OUTPUT_HANDLE ? Output() : nullptr; }
    static DWORD WINAPI FileType(HANDLE handle) { return handle == Output() ? active()->type_ : FILE_TYPE_UNKNOWN; }
    static BOOL WINAPI Write(HANDLE handle, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED) {
        if (handle != Output()) return FALSE;
        active()->bytes.append(static_cast<const char*>(data), size);
        *written = size;
        return TRUE;
    }

    DWORD flags_ = 0;
    DWORD type_ = 0;
    ApiOverride<decltype(RunRecords::api.GetStartupInfoW)> startup_{RunRecords::api.GetStartupInfoW, Startup};
    ApiOverride<decltype(RunRecords::api.GetStdHandle)> handle_{RunRecords::api.GetStdHandle, StdHandle};
    ApiOverride<decltype(RunRecords::api.GetFileType)> type__{RunRecords::api.GetFileType, FileType};
    ApiOverride<decltype(RunRecords::api.WriteFile)> write_{RunRecords::api.WriteFile, Write};
};
