#include "common/argument_vector.h"

// msvcrt's own parser, the one its start-up code uses to build argv.
struct RuntimeStartupInfo { int newmode; };
extern "C" int __cdecl __getmainargs(int* count, char*** vector, char*** environment,
                                     int expandWildcards, RuntimeStartupInfo* startup);

void GetArgumentVector(int* count, char*** vector)
{
    char** environment = 0;
    RuntimeStartupInfo startup = { 0 };
    *count = 0;
    *vector = 0;
    __getmainargs(count, vector, &environment, 0, &startup);
}
