#pragma once

// The lexical pieces of HP-GL text, shared with the older outline reader of the tools.

namespace ZRCut {
namespace Hpgl {

bool isLetter(char c);
bool isDigit(char c);
char upper(char c);
// Reads one number at p: an optional sign, digits, an optional fraction. Leaves p after it and
// returns false, with p unmoved, when no digit is there.
bool readNumber(const char*& p, const char* end, double* value);

} // namespace Hpgl
} // namespace ZRCut
