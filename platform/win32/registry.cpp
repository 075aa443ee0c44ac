#include "platform/registry.h"

#include <cmath>
#include <mutex>
#include <set>
#include <vector>

#include "platform/win32/wide.h"

// The real registry. The settings' key is written for HKEY_LOCAL_MACHINE, which a program run
// by an ordinary user may not change (and 64-bit Windows would not even show it the 32-bit
// view's key): it lives under HKEY_CURRENT_USER instead, and HKEY_LOCAL_MACHINE's key is read
// once, when the user has no key yet, so that an administrator's defaults carry over.

namespace lumora::platform {

namespace {

HKEY rootKey(int root) {
    switch (root) {
        case 1:
            return HKEY_CLASSES_ROOT;
        case 2:
            return HKEY_CURRENT_CONFIG;
        case 5:
            return HKEY_USERS;
        default:
            // HKEY_LOCAL_MACHINE (4) included, as said above.
            return HKEY_CURRENT_USER;
    }
}

struct Address {
    std::wstring key;
    std::wstring value;
};

Address address(std::string_view path) {
    const std::wstring wide = win32::toWide(path);
    const std::size_t slash = wide.rfind(L'\\');
    if (slash == std::wstring::npos)
        return {L"", wide};
    return {wide.substr(0, slash), wide.substr(slash + 1)};
}

// Copies the values of HKEY_LOCAL_MACHINE's `key` into a new key of the user, once per key
// and process, when the user has no such key.
void carryOverMachineKey(const std::wstring& key) {
    static std::mutex mutex;
    static std::set<std::wstring> looked;
    std::lock_guard lock(mutex);
    if (key.empty() || !looked.insert(key).second)
        return;
    HKEY user = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &user) == ERROR_SUCCESS) {
        RegCloseKey(user);
        return;
    }
    HKEY machine = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &machine) != ERROR_SUCCESS)
        return;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &user,
                        nullptr) == ERROR_SUCCESS) {
        std::vector<wchar_t> name(16384);
        std::vector<BYTE> data(64 * 1024);
        for (DWORD i = 0;; ++i) {
            DWORD nameLength = static_cast<DWORD>(name.size());
            DWORD dataSize = static_cast<DWORD>(data.size());
            DWORD type = 0;
            const LONG result = RegEnumValueW(machine, i, name.data(), &nameLength, nullptr, &type,
                                              data.data(), &dataSize);
            if (result == ERROR_NO_MORE_ITEMS)
                break;
            if (result != ERROR_SUCCESS)
                continue;  // a value too large for a setting
            RegSetValueExW(user, name.data(), 0, type, data.data(), dataSize);
        }
        RegCloseKey(user);
    }
    RegCloseKey(machine);
}

bool query(int root, std::string_view path, DWORD& type, std::vector<BYTE>& data) {
    const Address a = address(path);
    if (root == kLocalMachine)
        carryOverMachineKey(a.key);
    HKEY key = nullptr;
    if (RegOpenKeyExW(rootKey(root), a.key.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LONG result = RegQueryValueExW(key, a.value.c_str(), nullptr, &type, nullptr, &size);
    if (result == ERROR_SUCCESS) {
        data.resize(size);
        result = RegQueryValueExW(key, a.value.c_str(), nullptr, &type, data.data(), &size);
        data.resize(size);
    }
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool store(int root, std::string_view path, DWORD type, const BYTE* data, DWORD size) {
    const Address a = address(path);
    if (root == kLocalMachine)
        carryOverMachineKey(a.key);
    HKEY key = nullptr;
    if (RegCreateKeyExW(rootKey(root), a.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result = RegSetValueExW(key, a.value.c_str(), 0, type, data, size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool storeDword(int root, std::string_view path, std::uint32_t value) {
    const DWORD v = value;
    return store(root, path, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
}

std::wstring textOf(const std::vector<BYTE>& data) {
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

}  // namespace

std::string readText(int root, std::string_view path, std::string_view defaultText) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!query(root, path, type, data) || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::string(defaultText);
    std::wstring text = textOf(data);
    if (type == REG_EXPAND_SZ) {
        const DWORD n = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
        std::wstring expanded(n, L'\0');
        if (n > 0 && ExpandEnvironmentStringsW(text.c_str(), expanded.data(), n) == n) {
            expanded.resize(n - 1);
            text = expanded;
        }
    }
    return win32::toUtf8(text);
}

std::int32_t readNumber(int root, std::string_view path, std::int32_t defaultValue) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!query(root, path, type, data) || type != REG_DWORD || data.size() != 4)
        return defaultValue;
    return static_cast<std::int32_t>(data[0] | (data[1] << 8) | (data[2] << 16) |
                                     (static_cast<std::uint32_t>(data[3]) << 24));
}

bool writeNumber(int root, std::string_view path, std::int32_t value) {
    return storeDword(root, path, static_cast<std::uint32_t>(value));
}

bool writeNumber(int root, std::string_view path, std::int64_t value) {
    return storeDword(root, path, static_cast<std::uint32_t>(value));
}

bool writeNumber(int root, std::string_view path, double value) {
    const auto dword = detail::dwordOfNumber(value);
    return dword && storeDword(root, path, *dword);
}

bool writeText(int root, std::string_view path, std::string_view text) {
    const std::wstring wide = win32::toWide(text);
    return store(root, path, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                 static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

// No folder: the values are in the registry itself.
std::string storeFolder() {
    return {};
}

}  // namespace lumora::platform
