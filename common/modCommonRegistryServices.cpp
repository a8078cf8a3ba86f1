// String values in the registry for the installation marker. Texts cross to
// the ANSI registry functions in the ANSI code page; every key is closed in
// the call that opened it.
#include "modCommonRegistryServices.h"

#include "AnsiText.h"
#include "shared/UniqueResource.h"

#include <utility>

namespace modCommonRegistryServices {

Api api = {
    ::RegOpenKeyExA,
    ::RegQueryValueExA,
#ifdef _WIN64
    ::RegCreateKeyExA,
#else
    ::RegCreateKeyA,
#endif
    ::RegSetValueExA,
    ::RegDeleteValueA,
    ::RegCloseKey,
};

REGSAM RegAccessMask = 0;
HKEY RegRootKey = nullptr;
std::wstring RegKeyPath;

namespace {

constexpr DWORD kReadBufferSize = 1024;

// The registry view every key is opened in: a 32-bit process gets the 32-bit
// one without asking; a 64-bit build asks for it, to share the 32-bit program's values.
#ifdef _WIN64
constexpr REGSAM kRegistryView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kRegistryView = 0;
#endif

struct KeyTraits {
    static HKEY invalid() noexcept { return nullptr; }
    static void close(HKEY key) noexcept { api.RegCloseKey(key); }
};
using UniqueKey = UniqueResource<HKEY, KeyTraits>;

// Puts the caller's root key and key path in place for one call and brings the
// previous ones back however the call ends, exceptions included.
class RegContext {
public:
    RegContext(HKEY rootKey, std::wstring keyPath)
        : savedRoot_(std::exchange(RegRootKey, rootKey)), savedPath_(std::exchange(RegKeyPath, std::move(keyPath))) {}
    ~RegContext() {
        RegRootKey = savedRoot_;
        RegKeyPath.swap(savedPath_);
    }
    RegContext(const RegContext&) = delete;
    RegContext& operator=(const RegContext&) = delete;

private:
    HKEY savedRoot_;
    std::wstring savedPath_;
};

// The backslash goes in even when RegKeyPath is empty; nothing is trimmed.
std::wstring CurrentPath(const std::wstring& subKey) {
    return subKey.empty() ? RegKeyPath : RegKeyPath + L"\\" + subKey;
}

UniqueKey OpenKey(HKEY rootKey, const std::wstring& path) {
    UniqueKey key;
    if (api.RegOpenKeyExA(rootKey, ToAnsi(path).c_str(), 0, RegAccessMask | kRegistryView, key.put()) !=
        ERROR_SUCCESS)
        key.release();  // a failed open leaves no handle to close
    return key;
}

// Creates the key if it is missing, else opens it, with the rights RegCreateKeyA asks for.
UniqueKey CreateKey(HKEY rootKey, const std::wstring& path) {
    UniqueKey key;
#ifdef _WIN64
    const LONG result = api.RegCreateKeyExA(rootKey, ToAnsi(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                            MAXIMUM_ALLOWED | kRegistryView, nullptr, key.put(), nullptr);
#else
    const LONG result = api.RegCreateKeyA(rootKey, ToAnsi(path).c_str(), key.put());
#endif
    if (result != ERROR_SUCCESS) key.release();
    return key;
}

}  // namespace

void SetRegDefaults() {
    RegAccessMask = KEY_ALL_ACCESS;
    RegRootKey = HKEY_LOCAL_MACHINE;
}

void DeleteRegValue(std::wstring subKey, std::wstring valueName) {
    const UniqueKey key = OpenKey(RegRootKey, CurrentPath(subKey));
    if (!key) return;
    api.RegDeleteValueA(key.get(), ToAnsi(valueName).c_str());
}

bool QueryRegString(HKEY& rootKey, std::wstring keyPath, std::wstring valueName, std::wstring& value) {
    const UniqueKey key = OpenKey(rootKey, keyPath);
    if (!key) return false;
    char buffer[kReadBufferSize] = {};
    DWORD length = kReadBufferSize;
    DWORD type = REG_SZ;
    if (api.RegQueryValueExA(key.get(), ToAnsi(valueName).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                             &length) != ERROR_SUCCESS)
        return false;
    if (length > kReadBufferSize) return false;  // never trust a length beyond the buffer
    if (length > 0 && buffer[length - 1] == '\0') --length;
    value = FromAnsi(buffer, length);
    return true;
}

std::wstring GetRegString(HKEY rootKey, std::wstring keyPath, std::wstring subKey, std::wstring valueName,
                          std::wstring& defaultValue) {
    const RegContext context(rootKey, std::move(keyPath));
    std::wstring text;
    if (QueryRegString(RegRootKey, CurrentPath(subKey), std::move(valueName), text)) return text;
    return defaultValue;
}

void SetRegString(HKEY rootKey, std::wstring keyPath, std::wstring subKey, std::wstring valueName,
                  std::wstring value) {
    const RegContext context(rootKey, std::move(keyPath));
    if (value.empty()) {
        DeleteRegValue(std::move(subKey), std::move(valueName));
        return;
    }
    const UniqueKey key = CreateKey(RegRootKey, CurrentPath(subKey));
    if (!key) return;
    const std::string data = ToAnsi(value);  // c_str() supplies the one final NUL
    api.RegSetValueExA(key.get(), ToAnsi(valueName).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1));
}

}  // namespace modCommonRegistryServices
