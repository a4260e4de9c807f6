#pragma once
// Whether the command has a file to work on.
#include <cstdint>
#include <string>

namespace bleedborder::tool {

// The last-write time, in local time, of the first entry matching name (a
// search pattern: * and ? match), packed as a date in the high 16 bits and a
// time in the low 16 bits; -1 when nothing matches, when the entry is a
// directory, or when the time lies outside the years 1980 to 2107.
std::int32_t FileStamp(const std::string& name);

// True when the first entry matching name exists and is not a directory,
// whatever its last-write time: a picture dated before 1980 (an archive, a
// reproducible build, time 0) is a picture all the same.
bool FileIsPresent(const std::string& name);

}  // namespace bleedborder::tool
