// A stand-in run-after program: sleeps for the milliseconds of its first
// argument, then writes "<own file name>.ran" holding its command line into
// its current folder, so a test sees when, from where and how it was started.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    Sleep(argc > 1 ? static_cast<DWORD>(std::atoi(argv[1])) : 0);
    char own[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, own, MAX_PATH);
    std::string name(own);
    name = name.substr(name.find_last_of('\\') + 1) + ".ran";
    if (FILE* marker = std::fopen(name.c_str(), "wb")) {
        std::fputs(GetCommandLineA(), marker);
        std::fclose(marker);
    }
    return 0;
}
