// Apart from the narrow vector, so that a program that does not use the wide
// one does not import its parser.
#include "common/argument_vector.h"

// msvcrt's own parser for wide text; its last argument has the narrow
// parser's start-up record layout.
struct RuntimeStartupInfo { int newmode; };
extern "C" int __cdecl __wgetmainargs(int* count, wchar_t*** vector, wchar_t*** environment,
                                      int expandWildcards, RuntimeStartupInfo* startup);

void GetWideArgumentVector(int* count, wchar_t*** vector)
{
    wchar_t** environment = 0;
    RuntimeStartupInfo startup = { 0 };
    *count = 0;
    *vector = 0;
    __wgetmainargs(count, vector, &environment, 0, &startup);
}
