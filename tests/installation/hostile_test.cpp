// The differential table: installers rewritten after `build` as a hostile
// user would (make_hostile.pl: every class of name, record slots, stub bytes,
// header fields that contradict the table), each already judged by `stubkit
// test`, run here through the real installer to its last box. `test` says OK
// exactly when the installer ends in "Installation Complete." with every
// listed file byte for byte where its name resolves; the one allowance is a
// record or stub that `test` refuses because `build` never writes it (a
// climbing link, a patched program) while the installer still completes.
//
// The rows of code page 932 run, as a suite of their own, with the Japanese
// system code page (STUBKIT_HOSTILE_CODEPAGE=932); every other row with 1252.
//
// Rows of the Windows-only hazards (a stream, a superscript port, a short-name
// alias) show here only that both refuse them: Wine has none of those
// hazards, so what the installer would do without the refusal is seen on
// Windows alone.
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "installation_helpers.h"

namespace {

using namespace installation;

const std::string kTitle = "E2E Damage";
const std::string kHostile = kInstallers + "hostile\\";

struct HostileRow {
    std::string name;
    bool testPassed = false;
    bool recordRefused = false;   // `test` refused the record or the stub, not the payload
};

// The fixed rows of this run's code page; under STUBKIT_STRESS=1 the random ones too.
std::vector<HostileRow> ManifestRows()
{
    const char* stress = std::getenv("STUBKIT_STRESS");
    const char* codepage = std::getenv("STUBKIT_HOSTILE_CODEPAGE");
    const std::string runCodepage = codepage ? codepage : "1252";
    std::ifstream manifest(kHostile + "manifest.txt");
    std::vector<HostileRow> rows;
    for (std::string line; std::getline(manifest, line);) {
        std::istringstream fields(line);
        HostileRow row;
        std::string code, refused, rowCodepage;
        std::getline(fields, row.name, '\t');
        std::getline(fields, code, '\t');
        std::getline(fields, refused, '\t');
        std::getline(fields, rowCodepage, '\t');
        row.testPassed = code == "0";
        row.recordRefused = refused == "record";
        if (rowCodepage == runCodepage && (row.name.rfind("random_", 0) != 0 || (stress && std::string(stress) == "1")))
            rows.push_back(row);
    }
    return rows;
}

// The names of the installer's table, read at the damage installer's stub
// size; its records keep their order, so record i holds the product's file i.
std::vector<std::string> TableNames(const std::string& bytes, size_t stubSize)
{
    std::vector<std::string> names;
    if (bytes.size() < stubSize + 12)
        return names;
    const uint32_t count = U32(bytes, stubSize);
    for (size_t at = stubSize + 12; names.size() < count && at + 33 <= bytes.size();) {
        const size_t length = static_cast<unsigned char>(bytes[at + 32]);
        names.push_back(bytes.substr(at + 33, length));
        at += 33 + length;
    }
    return names;
}

const InstallerLayout& Original()
{
    static const InstallerLayout original = ReadLayout(kInstallers + "damage-setup.exe", kTitle);
    return original;
}

// Every listed file holds its product file's bytes where its name resolves;
// a record a row adds behind the product's is an empty file.
bool EveryFileWhole(const std::string& installer, const std::string& installDir)
{
    const InstallerLayout& original = Original();
    const std::vector<std::string> names = TableNames(ReadBytes(installer), original.stubSize);
    if (names.size() < original.files.size())
        return false;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string expected =
            i < original.files.size() ? ReadBytes(kInstallers + "damage\\" + original.files[i].name) : std::string();
        if (!Exists(installDir + names[i]) || ReadBytes(installDir + names[i]) != expected) {
            std::printf("[ not whole ] %s\n", names[i].c_str());
            return false;
        }
    }
    return true;
}

// A program that leaves "<its name>.ran" in its current folder, the
// installer's C:\, where a run-after command climbing out of InstallDir
// (C:\e2e run\<row>\) by two levels, or rooted in it, would find one.
const std::string kPlantedRunAfter = "planted-run-after.exe";
void PlantRunAfterPrograms(const std::string& installDir)
{
    fs::create_directories(installDir);
    for (const std::string& folder : {std::string("C:\\"), installDir})
        fs::copy_file(kProduct + "bin\\sleeper.exe", folder + kPlantedRunAfter, fs::copy_options::overwrite_existing);
    fs::remove("C:\\" + kPlantedRunAfter + ".ran");
}

// The folder as the system names it: letter case aside, as the installer
// would have created it from the ANSI name.
std::wstring SystemPath(const std::string& ansi)
{
    std::wstring wide(ansi.size() + 1, L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide.data(),
                                                        static_cast<int>(wide.size())) - 1));
    CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return wide;
}

// Files on disk that no record among the table's first file_count names:
// a record beyond the count is never written.
std::vector<std::wstring> UnlistedFiles(const std::string& installer, const std::string& installDir)
{
    std::set<std::wstring> listed;
    for (const std::string& name : TableNames(ReadBytes(installer), Original().stubSize))
        listed.insert(SystemPath(installDir + name));
    for (const char* own : {"davirado.exe", "davirado.dat", "planted-run-after.exe", "planted-run-after.exe.ran"})
        listed.insert(SystemPath(installDir + own));
    std::vector<std::wstring> unlisted;
    std::error_code ignored;
    for (fs::recursive_directory_iterator it(SystemPath(installDir), ignored), end; it != end; it.increment(ignored)) {
        std::wstring path = it->path().wstring();
        CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
        if (it->is_regular_file(ignored) && !listed.count(path))
            unlisted.push_back(path);
    }
    return unlisted;
}

class Hostile : public ::testing::TestWithParam<HostileRow> {};

TEST_P(Hostile, TestSaysOkExactlyWhenTheInstallerInstallsEveryFileWhole)
{
    const HostileRow& row = GetParam();
    const std::string installer = kHostile + row.name + ".exe";
    const std::string installDir = FreshFolder("hostile " + row.name);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kUninstallKeys + kTitle).c_str());
    const bool plants = row.name.rfind("run_after_", 0) == 0;
    if (plants)
        PlantRunAfterPrograms(installDir);

    std::string text = "<not started>";
    {
        InstallerRun run(installer, kTitle, "C:\\", true);
        if (run.started && run.ChooseFolder(installDir.substr(0, installDir.size() - 1))) {
            text = run.AnswerNoOrOk();
            if (text == kDesktopQuestion)
                text = run.AnswerNoOrOk();
            run.ExitCode();
        }
    }
    const bool whole = text == kCompleteText && EveryFileWhole(installer, installDir);
    std::printf("[ ending   ] %s; test %s\n", text.substr(0, text.find('\n')).c_str(), row.testPassed ? "OK" : "failed");
    if (row.testPassed)
        EXPECT_TRUE(whole) << "`test` said OK, the installer ended with: " << text;
    else
        EXPECT_TRUE(!whole || row.recordRefused) << "`test` refused what the installer installs whole";

    if (plants)
        EXPECT_FALSE(Exists("C:\\" + kPlantedRunAfter + ".ran")) << "the installer started a program outside InstallDir";
    EXPECT_TRUE(UnlistedFiles(installer, installDir).empty()) << "a file no record within file_count names";

    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kUninstallKeys + kTitle).c_str());
    std::error_code ignored;
    fs::remove_all(installDir, ignored);
    fs::remove_all(ShellFolder(CSIDL_PROGRAMS) + "\\" + kTitle, ignored);
    fs::remove(ShellFolder(CSIDL_PROGRAMS) + "\\StartUp\\evil.lnk", ignored);
    fs::remove("C:\\" + kPlantedRunAfter, ignored);
}

INSTANTIATE_TEST_SUITE_P(Installers, Hostile, ::testing::ValuesIn(ManifestRows()),
                         [](const ::testing::TestParamInfo<HostileRow>& info) { return info.param.name; });

}  // namespace
