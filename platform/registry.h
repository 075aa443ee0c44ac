#pragma once
// The registry store: values under a root code and a path "key\path\valueName", kept in one
// .reg text file per root key under $XDG_CONFIG_HOME/lumora/registry/.
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumora::platform {

// Root codes: 1 HKEY_CLASSES_ROOT, 2 HKEY_CURRENT_CONFIG, 3 HKEY_CURRENT_USER,
// 4 HKEY_LOCAL_MACHINE, 5 HKEY_USERS; any other code means HKEY_CURRENT_USER.
inline constexpr int kLocalMachine = 4;

// REG_SZ as stored, REG_EXPAND_SZ with %NAME% expanded; anything else (missing key or value,
// another type, unreadable store) gives `defaultText`.
std::string readText(int root, std::string_view path, std::string_view defaultText = {});
// REG_DWORD only; anything else gives `defaultValue`.
std::int32_t readNumber(int root, std::string_view path, std::int32_t defaultValue = 0);

// Stores REG_DWORD: 32-bit as is, 64-bit keeps its low 32 bits, a double is truncated toward
// zero and then keeps its low 32 bits. Creates the key when missing. False when not stored.
bool writeNumber(int root, std::string_view path, std::int32_t value);
bool writeNumber(int root, std::string_view path, std::int64_t value);
bool writeNumber(int root, std::string_view path, double value);
bool writeNumber(int root, std::string_view path, bool value) = delete;

namespace detail {
// The DWORD a double is stored as, for every store: not-a-number and infinities have no
// integer to truncate to (nothing is stored, the old value stays); finite values beyond 64
// bits still keep the low 32 bits of their integer part.
inline std::optional<std::uint32_t> dwordOfNumber(double value) {
    if (!std::isfinite(value))
        return std::nullopt;
    constexpr double kTwo32 = 4294967296.0;
    double low = std::fmod(std::trunc(value), kTwo32);
    if (low < 0)
        low += kTwo32;
    return static_cast<std::uint32_t>(low);
}
}  // namespace detail
// Stores REG_SZ.
bool writeText(int root, std::string_view path, std::string_view text);

// The folder that holds the store's files; empty when no configuration folder is known.
std::string storeFolder();

}  // namespace lumora::platform
