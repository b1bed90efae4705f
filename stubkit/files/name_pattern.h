// The patterns `extract` takes for the files to write, as archive tools take
// them for member names: '*' any run of characters ('/' included), '?' one
// character, "[a-z]" / "[!x]" one byte of a set or outside it; anything else
// stands for itself. A pattern naming a folder takes everything in it.
#ifndef STUBKIT_NAME_PATTERN_H
#define STUBKIT_NAME_PATTERN_H

#include <string>

namespace stubkit {

// Whether 'A' and 'a' are one letter, as in Windows names (ASCII letters;
// other letters are compared as they stand).
enum class LetterCase { counts, ignored };

// True when `pattern` matches the whole UTF-8 `name`.
bool WildcardMatch(const std::string& pattern, const std::string& name, LetterCase letter_case = LetterCase::counts);

// '/' between folders whichever separator was typed, no "./" in front and no
// '/' behind.
std::string SlashName(std::string name);

// True when `pattern` matches the file `name` or one of its folders; both
// already through SlashName.
bool PatternTakes(const std::string& pattern, const std::string& name, LetterCase letter_case = LetterCase::counts);

}  // namespace stubkit

#endif
