// Running an installer made from extract-probe.exe and answering its boxes,
// in a scratch folder that is removed afterwards.
#ifndef STUBKIT_PROBE_RUN_H
#define STUBKIT_PROBE_RUN_H

#include <cstdint>
#include <string>
#include <vector>

#include "window_driver.h"

namespace proberun {

struct Outcome {
    bool ended = false;                  // false: killed at the deadline
    unsigned long exitCode = 0;
    std::vector<driver::SeenBox> boxes;  // every box, answered with OK, in order
};

// Starts `commandLine` and answers each of its message boxes with OK until
// it ends.
Outcome Run(const std::string& commandLine);

// A fresh folder under TEMP, removed with everything in it (read-only files
// too) when the object goes.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    // The folder's path, without a trailing backslash.
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

void RemoveTree(const std::string& path);

// Whether the system refuses to overwrite a read-only file. Under Wine run as
// root it does not: the Unix permission bits that carry the attribute do not
// bind root.
bool ReadOnlyFilesAreProtected();

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool ReadFileBytes(const std::string& path, std::string* contents);

}  // namespace proberun

#endif
