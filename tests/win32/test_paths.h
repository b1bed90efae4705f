// Where the Windows tests find the programs they drive: beside the test
// executable's build folder, as the build lays them out.
#ifndef STUBKIT_TEST_PATHS_H
#define STUBKIT_TEST_PATHS_H

#include <windows.h>

#include <string>

namespace testpaths {

// Folder of the running test executable, with a trailing backslash.
inline std::string OwnFolder()
{
    char path[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

// A file of the win32 build tree, given relative to it (e.g. "installer\\setup-stub.exe").
inline std::string BuildTreeFile(const std::string& relative)
{
    // Test executables live in <build>\tests\<suite>\.
    return OwnFolder() + "..\\..\\" + relative;
}

inline std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

}  // namespace testpaths

#endif
