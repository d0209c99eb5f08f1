// The publisher's public key that the program was built with: resource
// UPGRADEKEY (RCDATA), the 64 bytes X || Y of a P-256 point, made at build
// time from the PEM file that QUOTIVA_SIGNING_KEY names.
#pragma once

#include <optional>

#include "app/manifest_verify.h"

namespace qv {

// The key from the program's own resources; nothing when the resource is
// missing or not 64 bytes long (then no signed upgrade can verify).
std::optional<P256PublicKey> LoadUpgradeSigningKey();

}  // namespace qv
