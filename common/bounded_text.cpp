#include "common/bounded_text.h"

unsigned TextLength(const char* text)
{
    unsigned length = 0;
    while (text[length] != '\0')
        ++length;
    return length;
}

static bool AppendCount(char* buffer, unsigned capacity, unsigned start,
                        const char* source, unsigned count)
{
    if (capacity == 0)
        return false;
    unsigned position = start;
    unsigned taken = 0;
    while (taken < count && source[taken] != '\0') {
        if (position + 1 >= capacity) {
            buffer[position] = '\0';
            return false;
        }
        buffer[position++] = source[taken++];
    }
    buffer[position] = '\0';
    return true;
}

bool TextCopy(char* buffer, unsigned capacity, const char* source)
{
    return AppendCount(buffer, capacity, 0, source, ~0u);
}

bool TextCopyCount(char* buffer, unsigned capacity, const char* source, unsigned count)
{
    return AppendCount(buffer, capacity, 0, source, count);
}

bool TextAppend(char* buffer, unsigned capacity, const char* source)
{
    unsigned start = 0;
    while (start < capacity && buffer[start] != '\0')
        ++start;
    if (start >= capacity)
        return false;  // no terminator inside the buffer: nothing can be appended safely
    return AppendCount(buffer, capacity, start, source, ~0u);
}

bool TextEquals(const char* first, const char* second)
{
    while (*first != '\0' && *first == *second) {
        ++first;
        ++second;
    }
    return *first == *second;
}

static char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool TextEndsWithIgnoringCase(const char* text, const char* suffix)
{
    unsigned textLength = TextLength(text);
    unsigned suffixLength = TextLength(suffix);
    if (suffixLength > textLength)
        return false;
    const char* tail = text + textLength - suffixLength;
    for (unsigned i = 0; i < suffixLength; ++i)
        if (LowerAscii(tail[i]) != LowerAscii(suffix[i]))
            return false;
    return true;
}
