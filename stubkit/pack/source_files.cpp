#include "stubkit/pack/source_files.h"

#include <algorithm>
#include <stdexcept>

#include "stubkit/container/printable_text.h"
#include "stubkit/platform/platform.h"

namespace stubkit {
namespace fs = std::filesystem;

namespace {

[[noreturn]] void FailOn(const fs::path& path, const std::error_code& error)
{
    throw std::runtime_error("cannot read " + Quoted(path) + ": " + error.message());
}

using platform::FileKind;

const char* SpecialKind(FileKind kind)
{
    switch (kind) {
    case FileKind::fifo: return "a FIFO";
    case FileKind::socket: return "a socket";
    case FileKind::device: return "a device";
    default: return "not a regular file";
    }
}

// The kind of what stands at `path`; throws when it cannot be examined.
FileKind KindOf(const fs::path& path, bool follow_links)
{
    const platform::FileFacts facts = platform::ExamineFile(path, follow_links);
    if (!facts.error.empty())
        throw std::runtime_error("cannot read " + Quoted(path) + ": " + facts.error);
    return facts.kind;
}

bool IsInside(const fs::path& path, const fs::path& folder)
{
    const fs::path relative = path.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != "..";
}

class Scanner {
public:
    Scanner(const fs::path& root, const ScanRules& rules) : root_(root), rules_(rules)
    {
        std::error_code error;
        if (platform::ExamineFile(root, true).kind != FileKind::folder)
            throw std::runtime_error("source folder " + Quoted(root) + " does not exist or is not a folder");
        real_root_ = platform::RealPath(root, error);
        if (error)
            FailOn(root, error);
    }

    void Folder(const fs::path& folder, const std::string& name)
    {
        const std::size_t files_before = scan.files.size();
        const std::size_t empty_before = scan.empty_folders.size();
        std::error_code error;
        const std::vector<fs::path> entries = platform::ListFolder(folder, error);
        if (error)
            FailOn(folder, error);
        for (const fs::path& entry : entries)
            Entry(folder / entry, (name.empty() ? "" : name + "\\") + entry.u8string());
        // The installer makes a folder only on the way to a file in it.
        if (!name.empty() && scan.files.size() == files_before && scan.empty_folders.size() == empty_before)
            scan.empty_folders.push_back(name);
    }

    SourceScan scan;

private:
    void Entry(const fs::path& path, const std::string& name)
    {
        std::error_code error;
        const FileKind own = KindOf(path, false);
        // On Windows a backslash separates folders: "a\b" would become b in a.
        if (path.filename().u8string().find('\\') != std::string::npos) {
            scan.problems.push_back("file " + Quoted(name) +
                                    ": the name holds a backslash, which Windows takes as a folder separator");
            return;
        }
        if (own == FileKind::folder)
            return Folder(path, name);
        if (own == FileKind::regular)
            return File(path, name);
        if (own != FileKind::link)
            return Skip(name, SpecialKind(own));
        const platform::FileFacts target = platform::ExamineFile(path, true);
        if (target.kind == FileKind::missing)
            return Skip(name, "a dangling symbolic link");
        if (target.kind == FileKind::folder)
            return Skip(name, "a link to a folder, not followed");
        if (target.kind != FileKind::regular)
            return Skip(name, std::string("a link to ") + SpecialKind(target.kind));
        const fs::path real = platform::RealPath(path, error);
        if (error)
            FailOn(path, error);
        if (!IsInside(real, real_root_) && !rules_.follow_outside_links) {
            scan.problems.push_back("file " + Quoted(name) + ": a symbolic link to " + Quoted(real) +
                                    ", outside the product folder; --follow-symlinks packs such files");
            return;
        }
        File(path, name);
    }

    void Skip(const std::string& name, const std::string& why) { scan.skipped.push_back(Quoted(name) + " (" + why + ")"); }

    void File(const fs::path& path, const std::string& name)
    {
        SourceFile file;
        file.path = path;
        file.name = name;
        file.size = platform::ExamineFile(path, true).size;
        file.times = ReadFileTimes(path);
        file.times.access = file.times.write;
        if (rules_.latest_time) {
            for (std::uint64_t* time : {&file.times.creation, &file.times.access, &file.times.write})
                *time = std::min(*time, *rules_.latest_time);
        }
        scan.files.push_back(std::move(file));
    }

    fs::path root_;
    fs::path real_root_;
    const ScanRules& rules_;
};

}  // namespace

SourceScan CollectSourceFiles(const fs::path& folder, const ScanRules& rules)
{
    Scanner scanner(folder, rules);
    scanner.Folder(folder, "");
    SourceScan scan = std::move(scanner.scan);
    std::sort(scan.files.begin(), scan.files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });
    std::sort(scan.skipped.begin(), scan.skipped.end());
    std::sort(scan.empty_folders.begin(), scan.empty_folders.end());
    return scan;
}

}  // namespace stubkit
