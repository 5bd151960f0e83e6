#pragma once

#include <random>
#include <string>

namespace stbup {

// Junk a correct tool ignores: unknown commands, "BAD CRC :" with another
// argument, lower-case forms of real commands, and lines of random bytes. Never
// a command the tool acts on, never "REQUEST_V"/"REQUEST_L" inside (the tool
// takes any command containing those as a loader announcement), never a bare
// "ack", and always ended by a line feed so nothing glues onto the next line.
std::string NoiseLine(std::mt19937& random);

}  // namespace stbup
