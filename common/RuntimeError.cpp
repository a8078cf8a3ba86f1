#include "RuntimeError.h"

#include <utility>

RuntimeError::RuntimeError(long number, std::wstring source, std::wstring description)
    : number_(number), source_(std::move(source)), description_(std::move(description)) {}

std::wstring StandardErrorMessage(long number) {
    switch (number) {
    case kErrInvalidCall: return L"Invalid procedure call or argument";
    case kErrOutOfMemory: return L"Out of memory";
    case kErrDllLoad: return L"Error in loading DLL";
    case kErrFileNotFound: return L"File not found";
    case kErrPermissionDenied: return L"Permission denied";
    case kErrPathFileAccess: return L"Path/File access error";
    case kErrPathNotFound: return L"Path not found";
    case kErrDllEntryNotFound: return L"Specified DLL function not found";
    case kErrCantOpenClipboard: return L"Can't open Clipboard";
    default: return L"Application-defined or object-defined error";
    }
}

void RaiseError(long number) { throw RuntimeError(number, kProgramTitle, StandardErrorMessage(number)); }
