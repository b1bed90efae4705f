// Text composition into fixed buffers. Every helper takes the buffer's full
// capacity in bytes (terminating NUL included), never writes past it, always
// leaves a NUL-terminated text, and reports whether the whole result fit.
// Portable: used by the Windows programs and by host tests alike.
#ifndef STUBKIT_BOUNDED_TEXT_H
#define STUBKIT_BOUNDED_TEXT_H

unsigned TextLength(const char* text);

// Copies `source` into `buffer`. Returns false, with the text cut to fit,
// when it did not fit.
bool TextCopy(char* buffer, unsigned capacity, const char* source);

// Appends `source` to the text already in `buffer`; false (cut to fit) when
// the result did not fit.
bool TextAppend(char* buffer, unsigned capacity, const char* source);

// Copies at most `count` bytes of `source` (stopping early at a NUL); false
// when they did not fit.
bool TextCopyCount(char* buffer, unsigned capacity, const char* source, unsigned count);

// True when both texts hold the same bytes.
bool TextEquals(const char* first, const char* second);

// True when `text` ends with `suffix`, ASCII letters compared without case.
bool TextEndsWithIgnoringCase(const char* text, const char* suffix);

#endif
