// The installation log kept in memory, the error box, and the text that
// describes a run-time error to the user.
#include "modInstallLog.h"

#include "MessageBoxes.h"
#include "RunRecords.h"
#include "shared/NumberText.h"
#include "common/RuntimeError.h"

#include <exception>
#include <new>

namespace modInstallLog {

Api api = {::GetLocalTime, ::GetDateFormatW, ::GetTimeFormatW};

std::wstring InstallLog;

namespace {

// Both formatters answer the size they need when given no buffer.
template <class Formatter>
std::wstring FormatWith(Formatter format) {
    const int needed = format(nullptr, 0);
    if (needed <= 0) return {};
    std::wstring text(static_cast<std::size_t>(needed), L'\0');
    const int written = format(&text[0], needed);
    text.resize(written > 0 ? static_cast<std::size_t>(written - 1) : 0);
    return text;
}

}  // namespace

std::wstring NowAsText() {
    SYSTEMTIME now;
    api.GetLocalTime(&now);
    const std::wstring date = FormatWith([&](wchar_t* buffer, int size) {
        return api.GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, buffer, size);
    });
    const std::wstring time = FormatWith([&](wchar_t* buffer, int size) {
        return api.GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &now, nullptr, buffer, size);
    });
    return date + L" " + time;
}

void AddToLog(const std::wstring& text) {
    const std::wstring entry = NowAsText() + L": " + text;
    InstallLog += entry + L"\r\n";
    RunRecords::WriteLog(entry);
}

void ShowError(const std::wstring& text) {
    AddToLog(text);
    MessageBoxes::ShowErrorBox(text);
}

HandledError CurrentError() {
    const std::exception_ptr current = std::current_exception();
    if (!current) return {kErrInvalidCall, kProgramTitle};
    try {
        std::rethrow_exception(current);
    } catch (const RuntimeError& error) {
        return {error.Number(), error.Source()};
    } catch (const std::bad_alloc&) {
        return {kErrOutOfMemory, kProgramTitle};
    } catch (...) {
        return {kErrInvalidCall, kProgramTitle};
    }
}

}  // namespace modInstallLog

std::wstring CommonCallbacks::GetErrorText() {
    const modInstallLog::HandledError error = modInstallLog::CurrentError();
    return L": " + StandardErrorMessage(error.number) + L" ($" + HexText(static_cast<unsigned long>(error.number)) + L"), Source " +
           error.source;
}

void CommonCallbacks::ReportDiagnostic(const std::wstring&, bool) {}
