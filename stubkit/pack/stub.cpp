#include "stubkit/pack/stub.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "stubkit/container/printable_text.h"
#include "stubkit/container/record_rules.h"
#include "stubkit/container/installer_file.h"
#include "stubkit/pack/embedded_stub.h"

namespace stubkit {
namespace fs = std::filesystem;

std::vector<std::uint8_t> StubBytes(const fs::path& file)
{
    if (file.empty())
        return std::vector<std::uint8_t>(kEmbeddedStub, kEmbeddedStub + kEmbeddedStubSize);
    const std::string problem = NonRegularFileProblem(file);
    if (!problem.empty())
        throw std::runtime_error("stub: " + problem);
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open stub " + Quoted(file) + ": " + std::strerror(errno));
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Stub CheckStub(std::vector<std::uint8_t> bytes, const std::string& origin,
               std::vector<std::string>& problems)
{
    Stub stub;
    if (bytes.size() > kStubSizeLimit)
        problems.push_back("stub " + origin + ": " + std::to_string(bytes.size()) +
                           " bytes; the installer reads at most " + std::to_string(kStubSizeLimit));
    const std::optional<std::size_t> offset = FindConfigRecord(bytes);
    if (!offset) {
        problems.push_back("stub " + origin + ": no configuration record found; is it a stubkit stub?");
    } else {
        const InstallerConfig config = ReadConfigRecord(bytes, *offset);
        if (ConfiguredStubSize(&config) != 0)
            problems.push_back("stub " + origin + ": already configured (StubSize is " +
                               SlotText(config.StubSize) + "); use the unpatched stub");
        stub.record_offset = *offset;
    }
    stub.bytes = std::move(bytes);
    return stub;
}

namespace {

void PatchTable(ShortcutEntry* table, const std::vector<ShortcutRow>& rows)
{
    for (std::size_t i = 0; i < rows.size(); ++i) {
        WriteSlot(table[i].LinkName, rows[i].link);
        WriteSlot(table[i].TargetFile, rows[i].target);
    }
    // The installer reads rows until an empty LinkName, and the stub's marked
    // rows are not empty: end the table explicitly.
    const std::size_t next = rows.size();
    if (next < ShortcutRows && (table[next].LinkName[0] != '\0' || table[next].TargetFile[0] != '\0')) {
        WriteSlot(table[next].LinkName, std::string());
        WriteSlot(table[next].TargetFile, std::string());
    }
}

}  // namespace

std::vector<std::uint8_t> PatchStub(const Stub& stub, const ProductTexts& texts)
{
    std::vector<std::uint8_t> bytes = stub.bytes;
    InstallerConfig config = ReadConfigRecord(bytes, stub.record_offset);
    WriteSlot(config.StubSize, std::to_string(bytes.size()));
    WriteSlot(config.Title, texts.title);
    WriteSlot(config.DefaultFolder, texts.default_folder);
    WriteSlot(config.ProgramGroup, texts.program_group);
    WriteSlot(config.RunAfterInstall, texts.run_after_install);
    PatchTable(config.StartMenuShortcuts, texts.start_menu);
    PatchTable(config.DesktopShortcuts, texts.desktop);
    WriteConfigRecord(bytes, stub.record_offset, config);
    return bytes;
}

}  // namespace stubkit
