// stubkit extract: writes an installer's files into a folder with their
// times, refusing first what `test` refuses before decoding.
#include <iostream>
#include <memory>

#include "stubkit/commands/command_line.h"
#include "stubkit/commands/commands.h"
#include "stubkit/commands/installer_checks.h"
#include "stubkit/commands/operations.h"
#include "stubkit/container/install_names.h"
#include "stubkit/container/printable_text.h"
#include "stubkit/files/extract_folder.h"
#include "stubkit/files/file_io.h"
#include "stubkit/files/name_pattern.h"
#include "stubkit/files/progress.h"
#include "stubkit/pack/text_rules.h"

namespace stubkit {
namespace fs = std::filesystem;

ExtractPath SafeExtractPath(const std::string& utf8_name, const fs::path& folder)
{
    ExtractPath result;
    if (const std::optional<NameRefusal> refusal = InstallerNameRefusal(utf8_name, nullptr)) {
        result.refusal = refusal->reason;
        return result;
    }
    result.path = folder;
    for (const std::string& part : SplitBackslash(utf8_name)) {
        if (part.empty() || part == ".") {
            result.refusal = part.empty() ? "empty folder name" : "'.' component";
            return result;
        }
        result.components.push_back(part);
        result.path /= fs::u8path(part);
    }
    return result;
}

namespace {

// A file's name as the installer's table spells it.
std::string TableName(const RelativePath& components)
{
    std::string name;
    for (const std::string& part : components)
        name += (name.empty() ? "" : "\\") + part;
    return name;
}

class FolderOutput : public FileOutput {
public:
    // Only the `selected` files are written; the others are decoded and
    // checked all the same.
    FolderOutput(const fs::path& folder, std::vector<RelativePath> files, std::vector<bool> selected, bool overwrite,
                 const fs::path& input, std::function<void(const std::string&)> written)
        : folder_(folder), files_(std::move(files)), selected_(std::move(selected)), overwrite_(overwrite),
          written_callback_(std::move(written))
    {
        folder_.KeepInput(input);
    }

    void Open(std::size_t index, const FileRecord&) override
    {
        writing_ = selected_[index];
        if (writing_)
            folder_.Create(files_[index], overwrite_);
    }

    void Write(const std::uint8_t* bytes, std::size_t size) override
    {
        if (writing_)
            folder_.Write(bytes, size);
    }

    void Close(std::size_t index, const FileRecord& record) override
    {
        if (!writing_)
            return;
        folder_.Finish({record.creation_time, record.access_time, record.write_time});
        ++written_;
        if (written_callback_)
            written_callback_(TableName(files_[index]));
    }

    // A file that failed its CRC is not left behind looking complete.
    void Abandon(std::size_t) override
    {
        if (writing_)
            removed_ = folder_.Discard();
    }

    // The first file that stands in the way, before anything is written.
    std::string Obstacle() const
    {
        for (std::size_t i = 0; i < files_.size(); ++i) {
            const std::string obstacle = selected_[i] ? folder_.Obstacle(files_[i], overwrite_) : std::string();
            if (!obstacle.empty())
                return obstacle;
        }
        return std::string();
    }

    std::size_t Written() const { return written_; }
    // The file removed after a failure (its CRC, or one cut short), if any.
    std::string Removed() { return removed_.empty() ? folder_.Discard() : removed_; }

private:
    ExtractFolder folder_;
    std::vector<RelativePath> files_;
    std::vector<bool> selected_;
    bool overwrite_;
    bool writing_ = false;
    std::size_t written_ = 0;
    std::string removed_;
    std::function<void(const std::string&)> written_callback_;
};

std::vector<RelativePath> ExtractFiles(const InstallerImage& image, const fs::path& folder, const Codepage& codepage)
{
    std::vector<RelativePath> files;
    for (const FileRecord& record : image.records) {
        const std::string name = codepage.ToUtf8(record.name);
        ExtractPath target = SafeExtractPath(name, folder);
        if (!target.refusal.empty())
            throw FormatError(Quoted(image.path) + ": refusing to extract " + Quoted(name) + ": " +
                              Printable(target.refusal));
        files.push_back(std::move(target.components));
    }
    return files;
}

// Which files the patterns take (all when there are none); a pattern that
// takes nothing is a mistake worth stopping for, as archive tools do.
std::vector<bool> SelectFiles(const InstallerImage& image, const Codepage& codepage,
                              const std::vector<std::string>& patterns, bool case_sensitive)
{
    std::vector<bool> selected(image.records.size(), patterns.empty());
    const LetterCase letter_case = case_sensitive ? LetterCase::counts : LetterCase::ignored;
    for (const std::string& typed : patterns) {
        const std::string pattern = SlashName(typed);
        bool taken = false;
        for (std::size_t i = 0; i < image.records.size(); ++i) {
            if (PatternTakes(pattern, SlashName(codepage.ToUtf8(image.records[i].name)), letter_case))
                selected[i] = taken = true;
        }
        if (!taken)
            throw std::runtime_error(Quoted(typed) + " matches no file in " + Quoted(image.path) +
                                     "; nothing was extracted");
    }
    return selected;
}

}  // namespace

std::size_t ExtractInstaller(const fs::path& path, const fs::path& folder, const Codepage& codepage, bool overwrite,
                             const ExtractChoices& choices)
{
    const InstallerImage image = ReadInstallerImage(path);
    std::string problem = RecordOrStubProblem(image, codepage, choices.stub);
    if (problem.empty())
        problem = TableNameProblem(image, codepage, std::nullopt);
    if (!problem.empty())
        throw FormatError(Quoted(path) + ": " + problem);
    const std::string inconsistency = HeaderInconsistency(image);
    if (!inconsistency.empty())
        throw FormatError(Quoted(path) + ": " + inconsistency);
    std::vector<bool> selected = SelectFiles(image, codepage, choices.patterns, choices.case_sensitive);
    std::vector<RelativePath> files = ExtractFiles(image, folder, codepage);
    FolderOutput output(folder, std::move(files), std::move(selected), overwrite, path, choices.written);
    const std::string obstacle = output.Obstacle();
    if (!obstacle.empty())
        throw std::runtime_error(obstacle + "; nothing was extracted");
    ProgressBar bar("extracting", image.header.total_size, choices.progress);
    const PayloadVerdict verdict = RunPayload(image, &output, codepage.LeadBytes(), [&bar](std::uint64_t done) { bar.Update(done); });
    bar.Finish();
    if (!verdict.success) {
        const std::string removed = output.Removed();
        throw FormatError(Quoted(path) + ": " + VerdictMessage(image, verdict, codepage) +
                          (removed.empty() ? std::string() : "; the damaged " + Quoted(removed) + " was removed"));
    }
    return output.Written();
}

namespace {

struct ExtractOptions {
    InstallerInputOptions input;
    fs::path folder;
    bool overwrite = false;
    ExtractChoices choices;
};

void RunExtract(ExtractOptions options)
{
    const Verbosity& verbosity = options.input.verbosity;
    options.choices.progress = ProgressStyleFor(verbosity.quiet);
    options.choices.stub = options.input.stub;
    if (verbosity.verbose)
        options.choices.written = [](const std::string& name) { std::cout << Printable(name) << "\n"; };
    const std::size_t files = ExtractInstaller(options.input.setup, options.folder, Codepage(options.input.codepage),
                                               options.overwrite, options.choices);
    if (!verbosity.quiet)
        std::cout << Printable(options.input.setup.u8string()) << ": extracted " << Counted(files, "file") << " into "
                  << Printable(options.folder.u8string()) << "\n";
}

}  // namespace

void AddExtractCommand(CLI::App& app)
{
    auto options = std::make_shared<ExtractOptions>();
    CLI::App* command = app.add_subcommand("extract", "Unpack an installer's files into a folder");
    command->footer("Files get their modification and access times from the installer (Linux cannot\n"
                    "set a creation time). What `test` refuses before decoding (an unknown stub, a\n"
                    "record build never writes, names the installer refuses or that land on one file)\n"
                    "and existing files (unless --overwrite) are refused before anything is written;\n"
                    "nothing is written through a symbolic link. A damaged payload stops extraction\n"
                    "at the damaged file, which is removed, with a non-zero exit status.\n"
                    "Names and patterns pick files as archive tools do: '*' matches any run of\n"
                    "characters ('/' too), '?' one character, [a-z] one of a set, [!a] or [^a] one outside\n"
                    "it; '/' and '\\' are alike, letter case is ignored as Windows ignores it (ASCII\n"
                    "letters; --case-sensitive makes it count), and a folder's name takes everything in\n"
                    "it. A name or pattern that matches no file stops the command before anything is\n"
                    "written.");
    AddInstallerInputOptions(*command, options->input, "Installer to unpack", false);
    AddPathOption(*command, "DIR", options->folder, "Folder to write into (created if missing)")
        ->required()
        ->check(CLI::Validator(
            [](std::string& folder) {
                return folder == kStandardStreamName ? "'-': extract writes files into a folder; name one" : "";
            },
            "", "NotStandardOutput"));
    command->add_option("NAME-OR-PATTERN", options->choices.patterns, "Files to extract (default: all)")->type_name("");
    command->add_flag("--overwrite", options->overwrite, "Replace files that already exist in DIR");
    command->add_flag("--case-sensitive", options->choices.case_sensitive,
                      "Let letter case count when names and patterns are compared");
    AddVerbosityFlags(*command, options->input.verbosity, "Print nothing on success, and no progress",
                      "Also print each file's name as it is written");
    command->callback([options] { RunExtract(*options); });
}

}  // namespace stubkit
