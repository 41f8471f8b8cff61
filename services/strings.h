// Numbered user-visible texts, in the active language or else the built-in
// English.
#pragma once

#include <cstdint>
#include <string>

std::string GetString(uint32_t number);
