#pragma once

#include <string>

// The NMDC answer to a hub's lock: each byte XORed with its neighbour (the
// first with the last two and 5), nibbles swapped, and the bytes 0, 5, 36,
// 96, 124 and 126 written as "/%DCNnnn%/". A lock shorter than two bytes has
// no key: the result is empty.
std::string lockToKey(const std::string& lock);
