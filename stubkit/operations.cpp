#include "stubkit/operations.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include <toml++/toml.h>

#include "stubkit/container/install_names.h"
#include "stubkit/container/printable_text.h"
#include "stubkit/container/record_rules.h"
#include "stubkit/container/stub_identity.h"
#include "stubkit/embedded_stub.h"
#include "stubkit/extract_folder.h"
#include "stubkit/file_identity.h"
#include "stubkit/file_times.h"
#include "stubkit/name_pattern.h"
#include "stubkit/pack_plan.h"
#include "stubkit/product_config.h"
#include "stubkit/progress.h"
#include "stubkit/source_files.h"

namespace stubkit {
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> ReadWholeFile(const fs::path& path)
{
    const std::string problem = NonRegularFileProblem(path);
    if (!problem.empty())
        throw std::runtime_error("stub: " + problem);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open stub " + Quoted(path) + ": " + std::strerror(errno));
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::path DefaultOutput(const fs::path& config)
{
    return fs::u8path(config.stem().u8string() + "-setup.exe");
}

std::vector<std::uint8_t> LoadStub(const BuildOptions& options, std::string& origin)
{
    if (!options.stub.empty()) {
        origin = Quoted(options.stub);
        return ReadWholeFile(options.stub);
    }
    origin = "(built in)";
    return std::vector<std::uint8_t>(kEmbeddedStub, kEmbeddedStub + kEmbeddedStubSize);
}

// SOURCE_DATE_EPOCH, as reproducible-build tooling sets it: no recorded time
// may be later.
std::optional<std::uint64_t> LatestTime(std::vector<std::string>& problems)
{
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr || *text == '\0')
        return std::nullopt;
    const std::string value = text;
    if (value.size() > 12 || value.find_first_not_of("0123456789") != std::string::npos) {
        problems.push_back("SOURCE_DATE_EPOCH: " + Quoted(value) + " is not a number of seconds since 1970");
        return std::nullopt;
    }
    return FiletimeFromUnix(std::stoll(value), 0);
}

// Where `path` really leads: through links, and for a file yet to be made
// through the links of its folder.
fs::path RealPath(const fs::path& path)
{
    std::error_code error;
    const fs::path real = platform::RealPath(path, error);
    if (!error)
        return real;
    const fs::path absolute = fs::absolute(path).lexically_normal();
    const fs::path parent = platform::RealPath(absolute.parent_path(), error);
    return error ? absolute : parent / absolute.filename();
}

// The installer is written last, over whatever is at `output`: it must not be
// one of the build's own inputs, nor land in the folder being packed.
void CheckOutput(const fs::path& output, const BuildOptions& options, const ProductConfig& config,
                 const std::vector<SourceFile>& files, std::vector<std::string>& problems)
{
    const fs::path real = RealPath(output);
    const std::string named = "output " + Quoted(output);
    const fs::path inside = real.lexically_relative(RealPath(config.source));
    if (!inside.empty() && *inside.begin() != "..")
        problems.push_back(named + " lies inside the product folder " + Quoted(config.source));
    std::vector<fs::path> inputs = {options.config};
    if (!options.stub.empty())
        inputs.push_back(options.stub);
    for (const SourceFile& file : files)
        inputs.push_back(file.path);
    const std::string problem = OutputProblem(output, inputs);
    if (!problem.empty())
        problems.push_back(problem);
}

}  // namespace

BuildOutcome BuildInstaller(const BuildOptions& options, const WarningSink& warn)
{
    const ProductConfig config = LoadProductConfig(options.config);
    const Codepage codepage(options.codepage);
    std::vector<std::string> problems;
    ScanRules rules;
    rules.follow_outside_links = options.follow_symlinks;
    rules.latest_time = LatestTime(problems);
    SourceScan scan = CollectSourceFiles(config.source, rules);
    problems.insert(problems.end(), scan.problems.begin(), scan.problems.end());
    std::string stub_origin;
    const Stub stub = CheckStub(LoadStub(options, stub_origin), stub_origin, problems);
    BuildOutcome outcome;
    outcome.output = options.output.empty() ? DefaultOutput(options.config) : options.output;
    CheckOutput(outcome.output, options, config, scan.files, problems);
    const PackPlan plan = PlanPackage(config, std::move(scan.files), codepage, problems);
    // The record as `test` will judge it: whatever the plan let through
    // still has to keep the record's rules.
    if (problems.empty())
        for (const std::string& problem : RecordProblems(ReadConfigRecord(PatchStub(stub, plan.texts), stub.record_offset),
                                                         plan.records))
            problems.push_back("configuration record: " + codepage.ToUtf8(problem));
    CheckSigningOptions(options.signing, problems);
    if (!problems.empty())
        throw ValidationError(problems, plan.config_problems);

    for (const std::string& entry : scan.skipped)
        warn("skipped " + entry);
    for (const std::string& folder : scan.empty_folders)
        warn("empty folder " + Quoted(folder) + " left out: the installer creates a folder only for the files in it");
    if (plan.files.empty())
        warn("source folder " + Quoted(config.source) + " holds no files");
    for (const std::string& warning : plan.warnings)
        warn(warning);

    outcome.file_count = plan.files.size();
    outcome.total_size = plan.total_size;
    ProgressBar bar("packing", plan.total_size, options.progress);
    outcome.pack = WriteInstaller(plan, stub, outcome.output, options.level, options.threads,
                                  [&bar](std::uint64_t done) { bar.Update(done); });
    bar.Finish();
    if (options.signing.Requested()) {
        SignInstaller(outcome.output, options.signing);
        outcome.signed_installer = true;
        outcome.pack.installer_size = fs::file_size(outcome.output);
    }
    return outcome;
}

// ---- list ----------------------------------------------------------------

namespace {

struct ConfigView {
    std::vector<std::pair<std::string, std::string>> fields;
    std::vector<std::pair<std::string, std::string>> start_menu;
    std::vector<std::pair<std::string, std::string>> desktop;
};

// A text slot as the installer reads it; one without a NUL in its 260 text
// bytes is shown by its first 259, as the setup window would show a title.
std::string TextAsShown(const char* slot)
{
    return SlotTextAsRead(slot).value_or(std::string(slot, ConfigTextCapacity - 1));
}

std::vector<std::pair<std::string, std::string>> ShortcutRowsAsRead(const ShortcutEntry* table,
                                                                    const Codepage& codepage)
{
    std::vector<std::pair<std::string, std::string>> rows;
    const int count = CountShortcutRows(table);
    for (int i = 0; i < count; ++i)
        rows.emplace_back(codepage.ToUtf8(TextAsShown(table[i].LinkName)),
                          codepage.ToUtf8(TextAsShown(table[i].TargetFile)));
    return rows;
}

ConfigView ViewConfig(const InstallerImage& image, const Codepage& codepage)
{
    const InstallerConfig& config = image.config;
    ConfigView view;
    view.fields = {{"StubSize", codepage.ToUtf8(StubSizeTextAsRead(config))},
                   {"Title", codepage.ToUtf8(TextAsShown(config.Title))},
                   {"DefaultFolder", codepage.ToUtf8(TextAsShown(config.DefaultFolder))},
                   {"ProgramGroup", codepage.ToUtf8(TextAsShown(config.ProgramGroup))},
                   {"RunAfterInstall", codepage.ToUtf8(TextAsShown(config.RunAfterInstall))}};
    view.start_menu = ShortcutRowsAsRead(config.StartMenuShortcuts, codepage);
    view.desktop = ShortcutRowsAsRead(config.DesktopShortcuts, codepage);
    return view;
}

std::string Hex32(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

std::string SecondsOnly(std::uint64_t filetime)
{
    // "YYYY-MM-DD hh:mm:ss.fffffff UTC", where a year after 9999 has more digits.
    const std::string full = FormatFiletime(filetime);
    return full.substr(0, full.find('.'));
}

toml::array ShortcutsAsArray(const std::vector<std::pair<std::string, std::string>>& rows)
{
    toml::array array;
    for (const auto& [link, target] : rows)
        array.push_back(toml::table{{"LinkName", link}, {"TargetFile", target}});
    return array;
}

// The stream runs to the end of the file, or to the signature behind it.
std::uint64_t StreamSize(const InstallerImage& image, const SignatureReport& signature)
{
    const bool signature_behind = signature.present && signature.table_offset >= image.stream_offset &&
                                  signature.table_offset <= image.file_size;
    return (signature_behind ? signature.table_offset : image.file_size) - image.stream_offset;
}

toml::table SignatureAsTable(const SignatureReport& signature)
{
    if (!signature.present)
        return toml::table{{"signed", false}};
    return toml::table{{"signed", true}, {"signer", signature.signer}, {"verified", signature.verified},
                       {"problem", signature.problem}, {"size", static_cast<std::int64_t>(signature.table_size)}};
}

// Whose program stands in front of the payload, in words.
std::string StubOrigin(const InstallerImage& image)
{
    const std::string difference = StubDifference(image, kEmbeddedStub, kEmbeddedStubSize);
    return difference.empty() ? "the stub of this stubkit" : "unknown: " + difference;
}

std::string DescribeAsJson(const InstallerImage& image, const Codepage& codepage, const ConfigView& view,
                           const SignatureReport& signature)
{
    toml::table config;
    for (const auto& [name, value] : view.fields)
        config.insert(name, value);
    config.insert("StartMenuShortcuts", ShortcutsAsArray(view.start_menu));
    config.insert("DesktopShortcuts", ShortcutsAsArray(view.desktop));
    toml::array files;
    for (const FileRecord& record : image.records) {
        files.push_back(toml::table{
            {"name", codepage.ToUtf8(record.name)},
            {"size", static_cast<std::int64_t>(record.file_size)},
            {"crc_value", Hex32(record.crc_value)},
            {"creation_time", FormatFiletime(record.creation_time)},
            {"access_time", FormatFiletime(record.access_time)},
            {"write_time", FormatFiletime(record.write_time)},
            {"creation_filetime", static_cast<std::int64_t>(record.creation_time)},
            {"access_filetime", static_cast<std::int64_t>(record.access_time)},
            {"write_filetime", static_cast<std::int64_t>(record.write_time)}});
    }
    toml::table root{
        {"installer", image.path.string()},
        {"installer_size", static_cast<std::int64_t>(image.file_size)},
        {"config", std::move(config)},
        {"file_count", static_cast<std::int64_t>(image.header.file_count)},
        {"total_size", static_cast<std::int64_t>(image.header.total_size)},
        {"table_size", static_cast<std::int64_t>(image.header.table_size)},
        {"header_problem", HeaderInconsistency(image)},
        {"stream_size", static_cast<std::int64_t>(StreamSize(image, signature))},
        {"stub", StubOrigin(image)},
        {"signature", SignatureAsTable(signature)},
        {"files", std::move(files)}};
    std::ostringstream out;
    out << toml::json_formatter{root} << "\n";
    return out.str();
}

void PrintShortcuts(std::ostringstream& out, const char* label,
                    const std::vector<std::pair<std::string, std::string>>& rows)
{
    char line[64];
    std::snprintf(line, sizeof line, "%-17s", label);
    if (rows.empty())
        out << line << "(none)\n";
    for (std::size_t i = 0; i < rows.size(); ++i)
        out << (i == 0 ? std::string(line) : std::string(17, ' ')) << Quoted(rows[i].first) << " -> "
            << Quoted(rows[i].second) << "\n";
}

std::string DescribeAsText(const InstallerImage& image, const Codepage& codepage, const ConfigView& view,
                           const SignatureReport& signature)
{
    std::ostringstream out;
    out << Printable(image.path.string()) << ": " << image.file_size << " bytes\n";
    for (const auto& [name, value] : view.fields) {
        char label[32];
        std::snprintf(label, sizeof label, "%-17s", name.c_str());
        out << label << Quoted(value) << "\n";
    }
    PrintShortcuts(out, "StartMenu", view.start_menu);
    PrintShortcuts(out, "Desktop", view.desktop);
    out << "Payload          " << image.header.file_count << " files, " << image.header.total_size
        << " bytes; table " << image.header.table_size << " bytes; stream " << StreamSize(image, signature)
        << " bytes\n";
    out << "Stub             " << StubOrigin(image) << "\n";
    // A header whose count or sizes the table contradicts: the installer
    // would stop part-way, so it is shown where the header is.
    if (const std::string problem = HeaderInconsistency(image); !problem.empty())
        out << "                 ! " << problem << "\n";
    out << "Signature        " << DescribeSignature(signature) << "\n\n";
    char line[200];
    std::snprintf(line, sizeof line, "%12s  %-8s  %-19s  %-19s  %-19s  %s\n", "Size", "CRC",
                  "Created (UTC)", "Accessed (UTC)", "Written (UTC)", "Name");
    out << line;
    for (const FileRecord& record : image.records) {
        std::snprintf(line, sizeof line, "%12u  %-8s  %-19s  %-19s  %-19s  ", record.file_size,
                      Hex32(record.crc_value).c_str(), SecondsOnly(record.creation_time).c_str(),
                      SecondsOnly(record.access_time).c_str(), SecondsOnly(record.write_time).c_str());
        out << line << Printable(codepage.ToUtf8(record.name)) << "\n";
    }
    return out.str();
}

}  // namespace

std::string DescribeInstaller(const InstallerImage& image, const Codepage& codepage, bool json,
                              const SignatureReport& signature)
{
    const ConfigView view = ViewConfig(image, codepage);
    return json ? DescribeAsJson(image, codepage, view, signature) : DescribeAsText(image, codepage, view, signature);
}

// ---- test ----------------------------------------------------------------

namespace {

std::string FileNamed(const Codepage& codepage, const FileRecord& record)
{
    return "file " + Quoted(codepage.ToUtf8(record.name));
}

std::string VerdictMessage(const InstallerImage& image, const PayloadVerdict& verdict, const Codepage& codepage)
{
    if (verdict.refused_name)
        return FileNamed(codepage, image.records[*verdict.refused_name]) + " has a name the installer refuses: " +
               Printable(codepage.ToUtf8(InstallerNameRefusal(image.records[*verdict.refused_name].name)->reason)) +
               ": it would stop with \"" + kCorruptedFileMessage + "\" before extracting anything";
    if (verdict.damaged_file)
        return FileNamed(codepage, image.records[*verdict.damaged_file]) +
               " fails its CRC check: the installer would stop with \"" + kCorruptedFileMessage + "\"";
    if (!verdict.success)
        return std::to_string(verdict.bytes_remaining) + " of " + std::to_string(image.header.total_size) +
               " payload bytes never reached a file: the installer would stop with \"" + kIncompleteFileMessage + "\"";
    std::string message = std::to_string(image.header.file_count) + " files, " +
                          std::to_string(image.header.total_size) + " bytes: all CRCs match";
    const std::size_t unreached = image.records.size() - verdict.files_reached;
    if (unreached > 0)
        message += " (" + std::to_string(unreached) + " empty file(s) after the stream's last byte)";
    return message;
}

// The name as Windows compares it. The names the installer accepts hold no
// '/', no "." or ".." and no trailing dot or blank, so only letter case is
// left to fold.
std::string WindowsFileKey(const std::string& utf8_name)
{
    return FoldCaseUtf8(utf8_name);
}

// The first name in the table that the installer refuses, or that lands on
// the same file (or folder) as an earlier one; empty when there is none.
std::string TableNameProblem(const InstallerImage& image, const Codepage& codepage)
{
    for (const FileRecord& record : image.records) {
        const std::optional<NameRefusal> refusal = InstallerNameRefusal(record.name);
        if (refusal)
            return FileNamed(codepage, record) + " has a name the installer refuses: " +
                   Printable(codepage.ToUtf8(refusal->reason)) +
                   (refusal->installer_message
                        ? std::string(": the installer would stop with \"") + refusal->installer_message + "\""
                        : std::string());
    }
    std::map<std::string, const FileRecord*> files;
    std::map<std::string, const FileRecord*> folders;
    for (const FileRecord& record : image.records) {
        const std::string key = WindowsFileKey(codepage.ToUtf8(record.name));
        const auto [earlier, inserted] = files.emplace(key, &record);
        if (!inserted)
            return FileNamed(codepage, record) + " and " + FileNamed(codepage, *earlier->second) +
                   " are one file on Windows (names equal but for letter case): the second would replace the first";
        for (std::size_t cut = key.rfind('\\'); cut != std::string::npos && cut > 0; cut = key.rfind('\\', cut - 1))
            folders.emplace(key.substr(0, cut), &record);
    }
    for (const auto& [key, record] : files) {
        const auto folder = folders.find(key);
        if (folder != folders.end())
            return FileNamed(codepage, *record) + " is also the folder of " + FileNamed(codepage, *folder->second) +
                   ": the installer would stop with \"" + kCannotCreateMessage + "\"";
    }
    return std::string();
}

// What makes the installer other than the one `build` makes from `stub`: a
// program it does not know, or a record `build` would never write.
std::string RecordOrStubProblem(const InstallerImage& image, const Codepage& codepage, const fs::path& stub)
{
    const std::vector<std::uint8_t> known = stub.empty() ? std::vector<std::uint8_t>(kEmbeddedStub, kEmbeddedStub + kEmbeddedStubSize)
                                                         : ReadWholeFile(stub);
    const std::string difference = StubDifference(image, known.data(), known.size());
    if (!difference.empty())
        return "the program in front of the payload is not " +
               (stub.empty() ? std::string("the stub of this stubkit") : "the stub " + Quoted(stub)) + " (" +
               difference + "), so nothing can be promised about what it does" +
               (stub.empty() ? "; name the stub it was built with as --stub FILE" : "");
    const std::vector<std::string> problems = RecordProblems(image.config, image.records);
    if (!problems.empty())
        return "configuration record: " + Printable(codepage.ToUtf8(problems.front())) +
               (problems.size() > 1 ? " (and " + std::to_string(problems.size() - 1) + " more)" : "");
    return std::string();
}

// Each file's state after a run; without a run (a name problem found first)
// every file is unchecked.
std::string FileState(std::size_t index, const PayloadVerdict& verdict)
{
    if (verdict.success)
        return "ok";
    const std::optional<std::size_t> fault = verdict.damaged_file ? verdict.damaged_file : verdict.refused_name;
    if (fault)
        return index < *fault ? "ok" : index > *fault ? "unchecked" : verdict.damaged_file ? "damaged" : "refused";
    // A file cut short fails its CRC, so here every file reached is whole:
    // the stream held too few bytes for the rest, or more than the files.
    return index < verdict.files_reached ? "ok" : "missing";
}

std::vector<FileVerdict> FileVerdicts(const InstallerImage& image, const Codepage& codepage,
                                      const std::optional<PayloadVerdict>& verdict)
{
    std::vector<FileVerdict> files;
    for (std::size_t i = 0; i < image.records.size(); ++i)
        files.push_back({codepage.ToUtf8(image.records[i].name), image.records[i].file_size,
                         verdict ? FileState(i, *verdict) : "unchecked"});
    return files;
}

}  // namespace

std::string TestOutcomeAsJson(const fs::path& path, const TestOutcome& outcome, const SignatureReport& signature,
                              const std::string& signature_refusal)
{
    toml::array files;
    for (const FileVerdict& file : outcome.files)
        files.push_back(toml::table{{"name", file.name}, {"size", static_cast<std::int64_t>(file.size)},
                                    {"state", file.state}});
    toml::table root{{"installer", path.string()},
                     {"passed", outcome.passed && signature_refusal.empty()},
                     {"message", outcome.message},
                     {"signature", SignatureAsTable(signature)},
                     {"signature_refusal", signature_refusal},
                     {"files", std::move(files)}};
    std::ostringstream out;
    out << toml::json_formatter{root} << "\n";
    return out.str();
}

TestOutcome TestInstaller(const fs::path& path, const Codepage& codepage, ProgressStyle progress, const fs::path& stub)
{
    const InstallerImage image = ReadInstallerImage(path);
    TestOutcome outcome;
    outcome.message = RecordOrStubProblem(image, codepage, stub);
    if (outcome.message.empty())
        outcome.message = TableNameProblem(image, codepage);
    if (!outcome.message.empty()) {
        outcome.files = FileVerdicts(image, codepage, std::nullopt);
        return outcome;
    }
    ProgressBar bar("testing", image.header.total_size, progress);
    outcome.verdict = RunPayload(image, nullptr, [&bar](std::uint64_t done) { bar.Update(done); });
    bar.Finish();
    outcome.message = VerdictMessage(image, outcome.verdict, codepage);
    outcome.passed = outcome.verdict.success;
    outcome.files = FileVerdicts(image, codepage, outcome.verdict);
    if (outcome.passed) {
        const std::string inconsistency = HeaderInconsistency(image);
        if (!inconsistency.empty()) {
            outcome.passed = false;
            outcome.message = inconsistency + "; the installer would not install the whole product";
        }
    }
    return outcome;
}

// ---- extract -------------------------------------------------------------

ExtractPath SafeExtractPath(const std::string& utf8_name, const fs::path& folder)
{
    ExtractPath result;
    if (const std::optional<NameRefusal> refusal = InstallerNameRefusal(utf8_name)) {
        result.refusal = refusal->reason;
        return result;
    }
    result.path = folder;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = utf8_name.find('\\', start);
        const std::string part = utf8_name.substr(start, end - start);
        if (part.empty() || part == ".") {
            result.refusal = part.empty() ? "empty folder name" : "'.' component";
            return result;
        }
        result.components.push_back(part);
        result.path /= fs::u8path(part);
        if (end == std::string::npos)
            return result;
        start = end + 1;
    }
}

namespace {

class FolderOutput : public FileOutput {
public:
    // Only the `selected` files are written; the others are decoded and
    // checked all the same.
    FolderOutput(const fs::path& folder, std::vector<RelativePath> files, std::vector<bool> selected, bool overwrite,
                 const fs::path& input)
        : folder_(folder), files_(std::move(files)), selected_(std::move(selected)), overwrite_(overwrite)
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

    void Close(std::size_t, const FileRecord& record) override
    {
        if (!writing_)
            return;
        folder_.Finish({record.creation_time, record.access_time, record.write_time});
        ++written_;
    }

    // A file that failed its CRC is not left behind looking complete.
    void Abandon(std::size_t) override
    {
        if (writing_)
            removed_ = folder_.Discard();
    }

    // Empty files after the stream's last byte are reached by the installer's
    // final sweep; extraction writes them too so the folder is complete.
    void CreateUnreachedEmptyFiles(const std::vector<FileRecord>& records, std::size_t reached)
    {
        for (std::size_t i = reached; i < records.size(); ++i) {
            if (records[i].file_size != 0)
                continue;
            Open(i, records[i]);
            Close(i, records[i]);
        }
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
                              const std::vector<std::string>& patterns)
{
    std::vector<bool> selected(image.records.size(), patterns.empty());
    for (const std::string& typed : patterns) {
        const std::string pattern = SlashName(typed);
        bool taken = false;
        for (std::size_t i = 0; i < image.records.size(); ++i) {
            if (PatternTakes(pattern, SlashName(codepage.ToUtf8(image.records[i].name))))
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
        problem = TableNameProblem(image, codepage);
    if (!problem.empty())
        throw FormatError(Quoted(path) + ": " + problem);
    const std::string inconsistency = HeaderInconsistency(image);
    if (!inconsistency.empty())
        throw FormatError(Quoted(path) + ": " + inconsistency);
    std::vector<bool> selected = SelectFiles(image, codepage, choices.patterns);
    std::vector<RelativePath> files = ExtractFiles(image, folder, codepage);
    FolderOutput output(folder, std::move(files), std::move(selected), overwrite, path);
    const std::string obstacle = output.Obstacle();
    if (!obstacle.empty())
        throw std::runtime_error(obstacle + "; nothing was extracted");
    ProgressBar bar("extracting", image.header.total_size, choices.progress);
    const PayloadVerdict verdict = RunPayload(image, &output, [&bar](std::uint64_t done) { bar.Update(done); });
    bar.Finish();
    if (!verdict.success) {
        const std::string removed = output.Removed();
        throw FormatError(Quoted(path) + ": " + VerdictMessage(image, verdict, codepage) +
                          (removed.empty() ? std::string() : "; the damaged " + Quoted(removed) + " was removed"));
    }
    output.CreateUnreachedEmptyFiles(image.records, verdict.files_reached);
    return output.Written();
}

}  // namespace stubkit
