// The runtime's parsed argument vector, for programs started without the C
// runtime's start-up code. Argument 0 is the program path exactly as the
// command line wrote it, which may be relative or lack ".exe".
#ifndef STUBKIT_ARGUMENT_VECTOR_H
#define STUBKIT_ARGUMENT_VECTOR_H

void GetArgumentVector(int* count, char*** vector);

// The same arguments as the command line wrote them, before the code page
// could change any character.
void GetWideArgumentVector(int* count, wchar_t*** vector);

#endif
