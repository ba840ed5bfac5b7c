// Page 0 of a Jet 4 database: the signature, the engine version and the area masked with a
// fixed RC4 keystream (code page, page-encoding key, password, sort order, creation date).
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "drivers/access/Bytes.h"

namespace quillon::drivers::access {

// The header of a new, unencrypted database without a password, created at `creationDate`
// (a Jet date value).
Page BuildHeaderPage(double creationDate);

// Why `firstPage` (at most a page of the file's start) and `fileSize` do not describe a Jet 4
// database this driver can write to, as a clause for a user ("it is not an Access database",
// Jet 3, ACE, encrypted or password-protected); an empty string when they do.
std::wstring HeaderPageProblem(std::span<const std::uint8_t> firstPage, std::uint64_t fileSize);

// XORs the masked area of a header page with the RC4 keystream (masks and unmasks alike).
void ToggleHeaderMask(Page& page);

}  // namespace quillon::drivers::access
