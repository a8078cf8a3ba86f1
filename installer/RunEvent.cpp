#include "RunEvent.h"

#include "common/RuntimeError.h"
#include "shared/UniqueResource.h"

namespace RunEvent {

Api api = {::RegisterEventSourceW, ::ReportEventW, ::DeregisterEventSource};

namespace {

// The program's own events carry one number; the text says what happened.
constexpr DWORD kRunEventId = 1;

struct EventSourceTraits {
    static HANDLE invalid() noexcept { return nullptr; }
    static void close(HANDLE source) noexcept { api.DeregisterEventSource(source); }
};
using UniqueEventSource = UniqueResource<HANDLE, EventSourceTraits>;

}  // namespace

void ReportToEventLog(const std::wstring& text, bool failed) {
    const UniqueEventSource source(api.RegisterEventSourceW(nullptr, kProgramTitle));
    if (!source) return;
    const WORD type = failed ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE;
    LPCWSTR strings[] = {text.c_str()};
    api.ReportEventW(source.get(), type, 0, kRunEventId, nullptr, 1, 0, strings, nullptr);
}

}  // namespace RunEvent
