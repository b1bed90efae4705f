/* The example product's one program: greets whoever starts it. */
#include <stdio.h>

int main(int argc, char** argv)
{
    printf("Hello from %s\n", argc > 0 ? argv[0] : "stubkit-hello");
    return 0;
}
