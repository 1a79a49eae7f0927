// What each platform's file layer gives the shared one (files.cpp): a
// listing's current entry, whether there is one, and its erase.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"

namespace platform {

bool has_entry(const ListingState& listing);
// 0, or the I/O error number of the failed erase.
std::uint16_t erase_entry(const ListingState& listing, const std::string& name);

}  // namespace platform
