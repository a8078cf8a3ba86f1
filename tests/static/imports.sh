# shellcheck shell=bash
# Which imports the program's EXE and the package's own DLL may have:
# Windows' own DLLs, and of their functions none that Windows XP lacks.
# Sourced by check-exe.sh, check-package.sh and the bench.

# Windows' own DLLs, present on every Windows the program runs on (XP and
# later). A compiler's C or C++ runtime (libstdc++, libgcc, libwinpthread,
# vcruntime, msvcp, ucrtbase and its api-ms-win-crt sets) is not one: the EXE
# must carry its runtime inside.
SYSTEM_DLLS="advapi32 comctl32 comdlg32 crypt32 gdi32 imm32 iphlpapi kernel32 msvcrt netapi32
ntdll ole32 oleaut32 psapi rpcrt4 secur32 setupapi shell32 shlwapi user32 userenv uxtheme
version winhttp wininet winmm winspool.drv ws2_32 wsock32"

# The DLLs that Windows takes from its system folder alone, whatever lies
# beside the EXE: KnownDLLs on Windows 7 to 11, and on XP those its list names
# (all but msvcrt) or that the listed ones load (msvcrt). An elevated program
# that imports any other may run a DLL planted in its folder.
KNOWN_DLLS="advapi32 kernel32 msvcrt ole32 shell32 user32"

# Functions that 32-bit Windows XP SP3 lacks; its loader refuses to start an
# EXE that imports any of them. A trailing * stands for any ending.
XP_LACKS=(
    # Vista's tick count; the posix thread runtime (winpthreads) brings it along
    GetTickCount64
    # Vista's synchronisation: condition variables, slim reader/writer locks,
    # one-time initialisation, fiber-local storage
    InitializeConditionVariable SleepConditionVariable* WakeConditionVariable WakeAllConditionVariable
    InitializeSRWLock AcquireSRWLock* ReleaseSRWLock* TryAcquireSRWLock*
    InitOnce* Fls*
    # the ...Ex creators of kernel objects
    CreateEventEx* CreateMutexEx* CreateSemaphoreEx* CreateWaitableTimerEx* InitializeCriticalSectionEx
    # Windows 8's precise clock
    GetSystemTimePreciseAsFileTime
    # Vista's questions about processes and open files
    QueryFullProcessImageName* GetFinalPathNameByHandle* GetFileInformationByHandleEx SetFileInformationByHandle
    # the locale functions that take locale names instead of LCIDs
    GetLocaleInfoEx LCIDToLocaleName LocaleNameToLCID GetUserDefaultLocaleName GetSystemDefaultLocaleName
    GetDateFormatEx GetTimeFormatEx GetNumberFormatEx GetCurrencyFormatEx CompareStringEx LCMapStringEx
    EnumSystemLocalesEx IsValidLocaleName ResolveLocaleName GetCalendarInfoEx FindNLSStringEx
    # Vista's thread pools
    *Threadpool* *ThreadpoolCallback*
    # file-system redirection of WOW64: absent on 32-bit XP
    Wow64DisableWow64FsRedirection Wow64RevertWow64FsRedirection Wow64EnableWow64FsRedirection
    # Vista's registry helpers
    RegGetValue* RegDeleteKeyEx* RegDeleteTree* RegSetKeyValue* RegCopyTree* RegLoadMUIString*
    # Vista's shell: known folders and task dialogs
    SHGetKnownFolderPath SHGetKnownFolderIDList SHCreateItemInKnownFolder TaskDialog*
    # Vista's DPI awareness
    SetProcessDPIAware
)

# in_dll_list LIST NAME: NAME is one of LIST, in any case, ".dll" optional.
in_dll_list() {
    local name=${2,,}
    [[ $name == *.dll ]] && name=${name%.dll}
    [[ -n $name && " ${1//$'\n'/ } " == *" $name "* ]]
}
is_system_dll() { in_dll_list "$SYSTEM_DLLS" "$1"; }
is_known_dll() { in_dll_list "$KNOWN_DLLS" "$1"; }

# check_imports NAME...: prints each import that is not a system DLL; false if any.
check_imports() {
    local name bad=0
    for name in "$@"; do
        is_system_dll "$name" || { echo "FAIL: imports $name, which is not a Windows system DLL"; bad=1; }
    done
    return $bad
}

# xp_lacks FUNCTION: the function is one that Windows XP SP3 lacks.
xp_lacks() {
    local pattern
    for pattern in "${XP_LACKS[@]}"; do
        # shellcheck disable=SC2053 # the pattern is meant as a glob
        [[ $1 == $pattern ]] && return 0
    done
    return 1
}

# imports_of OBJDUMP FILE: "DLL FUNCTION" for every imported function (FUNCTION "#N" for an ordinal).
imports_of() {
    "$1" -p "$2" | awk '
        /^[ \t]*DLL Name: / { dll = $3; next }
        dll != "" && /^[ \t]*[0-9a-f]+[ \t]+[0-9]+[ \t]+[^ \t]+/ { print dll, $3; next }
        dll != "" && /^[ \t]*[0-9a-f]+[ \t]+<none>[ \t]+[0-9a-f]+/ { print dll, "#" $3; next }
        /^[ \t]*$/ { dll = "" }'
}

# xp_offenders IMPORTS: the "DLL!FUNCTION" of each import ("DLL FUNCTION" lines) that Windows XP SP3 lacks.
xp_offenders() {
    local dll fn
    while read -r dll fn; do
        [ -z "$fn" ] || ! xp_lacks "$fn" || printf '%s!%s ' "$dll" "$fn"
    done <<< "$1"
}
