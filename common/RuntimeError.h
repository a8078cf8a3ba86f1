// Run-time errors: an exception with a number, a source and a description.
// They travel up to the one handler in the registration procedure, which
// describes them with the standard message kept for their number.
#pragma once

#include <exception>
#include <string>

// The program's title: the caption of its boxes and the source of its errors.
inline constexpr wchar_t kProgramTitle[] = L"TarvexActiveXInstaller";

// Numbers of the run-time errors the program raises or recognises.
enum RuntimeErrorNumber : long {
    kErrInvalidCall = 5,
    kErrOutOfMemory = 7,
    kErrDllLoad = 48,
    kErrFileNotFound = 53,
    kErrPermissionDenied = 70,
    kErrPathFileAccess = 75,
    kErrPathNotFound = 76,
    kErrDllEntryNotFound = 453,
    kErrCantOpenClipboard = 521,
};

class RuntimeError : public std::exception {
public:
    RuntimeError(long number, std::wstring source, std::wstring description);

    long Number() const noexcept { return number_; }
    const std::wstring& Source() const noexcept { return source_; }
    const std::wstring& Description() const noexcept { return description_; }
    const char* what() const noexcept override { return "run-time error"; }

private:
    long number_;
    std::wstring source_;
    std::wstring description_;
};

// The standard message for an error number; unknown numbers get the generic one.
std::wstring StandardErrorMessage(long number);

// Raises error `number` from this program, described by its standard message.
[[noreturn]] void RaiseError(long number);
