#pragma once

// The headers of a PE image (an .exe or a .dll): its base, size of image,
// link time stamp and sections, which is all a routine file is checked
// against. Portable code on plain bytes, so that the same description comes
// from the running executable's headers in memory and from a file on disk.

#include "plugin/RoutineFile.h"

#include <cstddef>
#include <string>

// The headers must lie in the first this many bytes of the file.
constexpr size_t kPeHeaderBytes = 64 * 1024;

// Describes the image whose headers are the size bytes at bytes, as loaded
// at the base it was linked for: a PE32 image when addressBits is 32, a PE32+
// one when it is 64 (at most kAddressBits). Every offset and count is checked
// against size before it is used. Answers the empty text, or why the bytes
// are not such headers (one line). cut says that the bytes are the start of
// a larger file, for that message.
std::string DescribePeHeaders(const unsigned char* bytes, size_t size, bool cut, int addressBits,
                              ExecutableImage& image);
