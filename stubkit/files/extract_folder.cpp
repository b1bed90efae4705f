#include "stubkit/files/extract_folder.h"

#include <stdexcept>

#include "stubkit/container/printable_text.h"

namespace stubkit {
namespace fs = std::filesystem;
using platform::FileKind;

ExtractFolder::ExtractFolder(const fs::path& folder) : folder_(folder)
{
    if (folder.empty())
        throw std::runtime_error("the folder to extract into is empty; name one, e.g. '.'");
    std::error_code error;
    platform::CreateFolders(folder, error);
    if (error)
        throw std::runtime_error("cannot create the folder " + Quoted(folder) + ": " + error.message());
    anchored_ = std::make_unique<platform::AnchoredFolder>(folder);
    if (!anchored_->IsOpen())
        throw std::runtime_error("cannot open the folder " + Quoted(folder) + ": " + anchored_->Reason());
}

fs::path ExtractFolder::PathOf(const RelativePath& file) const
{
    fs::path path = folder_;
    for (const std::string& part : file)
        path /= fs::u8path(part);
    return path;
}

void ExtractFolder::Check(const std::optional<platform::FolderFailure>& failure, const RelativePath& file) const
{
    if (failure) {
        const RelativePath reached(file.begin(), file.begin() + static_cast<long>(failure->components));
        throw std::runtime_error(std::string(failure->what) + " " + Quoted(PathOf(reached)) + ": " + failure->reason);
    }
}

void ExtractFolder::KeepInput(const fs::path& input)
{
    input_ = input;
}

std::string ExtractFolder::Obstacle(const RelativePath& file, bool overwrite) const
{
    RelativePath walked;
    for (std::size_t i = 0; i < file.size(); ++i) {
        walked.push_back(file[i]);
        const FileKind kind = anchored_->KindAt(walked);
        if (kind == FileKind::missing)
            return std::string();   // missing from here on: created fresh
        const bool last = i + 1 == file.size();
        if (kind == FileKind::link)
            return Quoted(PathOf(walked)) + " is a symbolic link; extract never writes through one";
        if (!last && kind != FileKind::folder)
            return Quoted(PathOf(walked)) + " exists and is not a folder";
        if (last && kind == FileKind::folder)
            return Quoted(PathOf(walked)) + " is a folder";
        if (last && kind != FileKind::regular)
            return Quoted(PathOf(walked)) + " exists and is not a regular file";
        if (last && !input_.empty() && platform::SameFile(PathOf(walked), input_))
            return Quoted(PathOf(walked)) + " is the installer being extracted (or a hard link to it)";
        if (last && !overwrite)
            return Quoted(PathOf(walked)) + " already exists; --overwrite replaces existing files";
    }
    return std::string();
}

void ExtractFolder::Create(const RelativePath& file, bool overwrite)
{
    open_file_ = file;
    Check(anchored_->Create(file, overwrite), file);
}

void ExtractFolder::Write(const std::uint8_t* bytes, std::size_t size)
{
    Check(anchored_->Write(bytes, size), open_file_);
}

void ExtractFolder::Finish(const FileTimes& times)
{
    Check(anchored_->Finish(times), open_file_);
}

std::string ExtractFolder::Discard()
{
    return anchored_->Discard() ? PathOf(open_file_).u8string() : std::string();
}

}  // namespace stubkit
