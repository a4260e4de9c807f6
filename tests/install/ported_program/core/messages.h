#pragma once
// The program's own message table, named like the library's header and first
// on the include path. Its names clash with the library's at global scope: a
// library header that picked up this file, or a library that put its names
// in the global namespace, does not compile with it.
#include <string>

enum class Msg { Greeting, Farewell };

inline std::string FormatMsg(Msg id) { return id == Msg::Greeting ? "hello" : "goodbye"; }
