#include "app/signing_key.h"

#include <windows.h>

#include <cstring>

namespace qv {

std::optional<P256PublicKey> LoadUpgradeSigningKey() {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, L"UPGRADEKEY", reinterpret_cast<LPCWSTR>(RT_RCDATA));
    if (!found) return std::nullopt;
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    P256PublicKey key{};
    if (!bytes || SizeofResource(module, found) != key.size()) return std::nullopt;
    std::memcpy(key.data(), bytes, key.size());
    return key;
}

}  // namespace qv
