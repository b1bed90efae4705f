// Real installers, made by the packer, run under Wine on damaged files, at the
// limits of their buffers and against targets that refuse them. One table: a
// row makes the installer file and the install folder, runs the installer to
// its last box, and judges the ending, the exit code and what was left: never
// "Installation Complete." unless the product's exact content is in place,
// and the data file always lists exactly the payload files on disk.
//
// STUBKIT_STRESS=1 (`make stress`) adds the sweeps: a cut at every 97th byte
// and a flip of every byte of the header and the stream.
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "installation_helpers.h"

namespace {

using namespace installation;

const std::string kCorrupted = "Error: This is a corrupted installation file.";
const std::string kCannotCreateUninstaller = "Error: Cannot create uninstall program.";
const std::string kCannotCreateLog = "Error: Cannot create uninstall data file.";
const std::string kDamageTitle = "E2E Damage";
const std::string kScratch = "C:\\e2e run\\damage installers\\";

bool Stress()
{
    const char* value = std::getenv("STUBKIT_STRESS");
    return value && std::string(value) == "1";
}

enum class Ending {
    Complete,       // "Installation Complete.", exit 0, the product's exact content
    Refused,        // the incomplete-file message (or `message`) before anything is written, exit 0
    Damaged,        // incomplete (exit 0) or corrupted (exit 1); complete only with the exact product
    CannotCreate,   // "Cannot create file:" and the path (cut to fit), exit 1
    NoUninstaller,  // the uninstall program or its data file cannot be created, exit 0
    TooLong,        // "Cannot create file:" and the first path that does not fit, before anything is written, exit 1
};

struct Case {
    std::string installer;   // the file to run
    std::string installDir;  // ends in a backslash; made afresh, then `prepare` runs
    Ending ending;
    std::string message;     // the exact last box, where the ending fixes one
    std::string title = kDamageTitle;
    std::string product = kInstallers + "damage\\";
    std::string kept;        // something that was in the folder before and must stay as it was
    std::function<void(const std::string& installDir)> prepare = nullptr;
    bool holdKept = false;   // the test holds `kept` open without sharing while the installer runs
    bool mayNotStart = false;   // a cut program the system may refuse to start
    DWORD installMs = driver::kDefaultTimeoutMs;   // how long the installation may take
    bool probeAlive = false;   // the setup window must answer a message within 1 s throughout
};

struct Row {
    std::string name;
    std::function<Case()> make;
};

const InstallerLayout& DamageLayout()
{
    static const InstallerLayout layout = ReadLayout(kInstallers + "damage-setup.exe", kDamageTitle);
    return layout;
}

std::string WriteInstaller(const std::string& name, const std::string& bytes)
{
    WriteBytes(kScratch + name + ".exe", bytes);
    return kScratch + name + ".exe";
}

// A cut before the stream is refused before anything is decoded; a cut inside
// the stream damages what is decoded.
Case Cut(const std::string& name, size_t keep)
{
    const InstallerLayout& layout = DamageLayout();
    Case c{WriteInstaller(name, layout.bytes.substr(0, keep)), FreshFolder(name),
           keep < layout.streamStart ? Ending::Refused : Ending::Damaged};
    c.mayNotStart = keep < layout.stubSize;
    return c;
}

Case Flip(const std::string& name, size_t at)
{
    std::string bytes = DamageLayout().bytes;
    bytes[at] = static_cast<char>(bytes[at] ^ (1 << (at % 8)));
    return {WriteInstaller(name, bytes), FreshFolder(name), Ending::Damaged};
}

void SetU32(std::string* bytes, size_t at, uint32_t value) { std::memcpy(&(*bytes)[at], &value, 4); }

// The installer of the fixture's `file`, its StubSize text or a header field changed.
Case Patched(const std::string& name, const std::string& file, const std::string& title, Ending ending,
             const std::function<void(const InstallerLayout&, std::string*)>& patch)
{
    const InstallerLayout layout = ReadLayout(kInstallers + file, title);
    std::string bytes = layout.bytes;
    patch(layout, &bytes);
    Case c{WriteInstaller(name, bytes), FreshFolder(name), ending};
    c.title = title;
    c.product = kInstallers + file.substr(0, file.find("-setup")) + "\\";
    if (file == "big-stub-setup.exe")
        c.product = kProduct;
    return c;
}

Case Unchanged(const std::string& name, const std::string& file, const std::string& title)
{
    return Patched(name, file, title, Ending::Complete, [](const InstallerLayout&, std::string*) {});
}

// A folder `length` characters long, ending in a backslash, under the scratch folder.
std::string FolderOfLength(const std::string& name, size_t length)
{
    std::string folder = FreshFolder(name);
    while (folder.size() < length) {
        const size_t piece = std::min<size_t>(100, length - folder.size() - 1);
        folder += std::string(std::max<size_t>(piece, 1), 'd') + "\\";
    }
    EXPECT_EQ(folder.size(), length);
    return folder;
}

size_t LongestName()
{
    size_t longest = 0;
    for (const PackedFile& file : DamageLayout().files)
        longest = std::max(longest, file.name.size());
    return longest;
}

std::string CannotCreate(const std::string& path)
{
    return ("Error: Cannot create file:\n    " + path).substr(0, 259);
}

// The first packed file, in table order, whose path under `installDir` takes
// more than 259 characters or whose folder more than 247; "" when all fit.
std::string FirstPathThatDoesNotFit(const std::string& installDir)
{
    for (const PackedFile& file : DamageLayout().files) {
        const size_t folder = file.name.rfind('\\');
        if (installDir.size() + file.name.size() > 259 ||
            (folder != std::string::npos && installDir.size() + folder > 247))
            return installDir + file.name;
    }
    return "";
}

// The damage installer into a folder that already holds `kept`, made by
// `prepare`. `failing` names the file that cannot be created, or is the
// whole message of an ending without the uninstaller.
Case Target(const std::string& name, Ending ending, const std::string& failing,
            const std::function<void(const std::string&)>& prepare, const std::string& kept)
{
    Case c{kInstallers + "damage-setup.exe", FreshFolder(name), ending, failing};
    if (ending == Ending::CannotCreate)
        c.message = CannotCreate(c.installDir + failing);
    c.prepare = prepare;
    c.kept = c.installDir + kept;
    return c;
}

std::string FirstFile() { return DamageLayout().files.front().name; }

std::string FirstInFolder()
{
    for (const PackedFile& file : DamageLayout().files)
        if (file.name.find('\\') != std::string::npos)
            return file.name;
    return "";
}

void PutFolder(const std::string& path) { WriteBytes(path + "\\inside.txt", "was here"); }

Row CutRow(const std::string& name, size_t at) { return {name, [name, at] { return Cut(name, at); }}; }
Row FlipRow(const std::string& name, size_t at) { return {name, [name, at] { return Flip(name, at); }}; }

std::vector<Row> BoundaryRows()
{
    const InstallerLayout& l = DamageLayout();
    std::vector<Row> rows = {{"UnconfiguredStub", [] {
        Case c{WriteInstaller("UnconfiguredStub", ReadBytes(kInstallers + "..\\..\\..\\installer\\setup-stub.exe")),
               FreshFolder("UnconfiguredStub"), Ending::Refused, "Error: Unconfigured installation file."};
        c.title = "$$Title";
        return c;
    }}};
    const std::pair<const char*, size_t> cuts[] = {
        {"CutInsideTheStub", l.stubSize - 100}, {"CutAtTheStubsEnd", l.stubSize}, {"CutInsideTheHeader", l.stubSize + 11},
        {"CutAfterTheHeader", l.tableStart}, {"CutInsideTheTable", l.streamStart - 1},
        {"CutAtTheStreamsStart", l.streamStart}, {"CutInsideTheStream", (l.streamStart + l.bytes.size()) / 2},
        {"CutOneByteShort", l.bytes.size() - 1}};
    // The low bytes of file_count, total_size and table_size, and the stream's ends.
    const std::pair<const char*, size_t> flips[] = {
        {"FlipInFileCount", l.stubSize}, {"FlipInTotalSize", l.stubSize + 4}, {"FlipInTableSize", l.stubSize + 8},
        {"FlipInTheStreamsFirstByte", l.streamStart}, {"FlipInTheStreamsLastByte", l.bytes.size() - 1}};
    for (const auto& [name, at] : cuts)
        rows.push_back(CutRow(name, at));
    for (const auto& [name, at] : flips)
        rows.push_back(FlipRow(name, at));
    return rows;
}

// Points drawn once from a fixed seed, so every run tries the same ones.
std::vector<Row> RandomRows(int cuts, int flips)
{
    const InstallerLayout& l = DamageLayout();
    std::mt19937 random(16);
    if (l.streamStart >= l.bytes.size())
        return {};   // no installer: the rows that need none still run
    std::vector<Row> rows;
    // Inside the stub every cut is a program the system refuses (the sweep
    // covers those): the random cuts fall into the payload.
    for (int i = 0; i < cuts; ++i) {
        const size_t at = l.stubSize + random() % (l.bytes.size() - l.stubSize);
        rows.push_back(CutRow("CutAt" + std::to_string(at), at));
    }
    for (int i = 0; i < flips; ++i) {
        const size_t at = l.streamStart + random() % (l.bytes.size() - l.streamStart);
        rows.push_back(FlipRow("FlipAt" + std::to_string(at), at));
    }
    return rows;
}

std::vector<Row> SweepRows()
{
    const InstallerLayout& l = DamageLayout();
    std::vector<Row> rows;
    if (l.streamStart >= l.bytes.size())
        return rows;
    for (size_t at = 97; at < l.bytes.size(); at += 97)
        rows.push_back(CutRow("SweepCutAt" + std::to_string(at), at));
    for (size_t at = l.stubSize; at < l.bytes.size(); at = at + 1 == l.tableStart ? l.streamStart : at + 1)
        rows.push_back(FlipRow("SweepFlipAt" + std::to_string(at), at));
    return rows;
}

std::vector<Row> LimitRows()
{
    return {
        {"TableOf100000FilesAndTheLargestSizeInstalls", [] {
             // Its names take 135 characters: the folder must be short.
             Case c = Unchanged("TableOf100000FilesAndTheLargestSizeInstalls", "table-setup.exe", "E2E Table");
             c.installDir = FreshFolder("table");
             c.installMs = 400000;
             c.probeAlive = true;
             return c;
         }},
        {"TableOneBytePastTheLargestIsRefused", [] {
             return Patched("TableOneBytePastTheLargestIsRefused", "table-setup.exe", "E2E Table", Ending::Refused,
                            [](const InstallerLayout& l, std::string* bytes) { SetU32(bytes, l.stubSize + 8, 16777217); });
         }},
        {"StubOfTheLargestSizeInstalls", [] { return Unchanged("StubOfTheLargestSizeInstalls", "big-stub-setup.exe", "E2E Big Stub"); }},
        {"StubOneBytePastTheLargestIsRefused", [] {
             return Patched("StubOneBytePastTheLargestIsRefused", "big-stub-setup.exe", "E2E Big Stub", Ending::Refused,
                            [](const InstallerLayout& l, std::string* bytes) {
                                ASSERT_EQ(bytes->substr(l.titleSlot - 32, 9), std::string("16777216") + '\0');
                                // A stub really one byte longer, with a sound payload behind
                                // it: only the limit can refuse it.
                                (*bytes)[l.titleSlot - 32 + 7] = '7';
                                bytes->insert(l.stubSize, 1, '\0');
                            });
         }},
    };
}

std::vector<Row> TargetRows()
{
    return {
        {"ReadOnlyFileIsKept", [] {
             return Target("ReadOnlyFileIsKept", Ending::CannotCreate, FirstFile(), [](const std::string& dir) {
                 WriteBytes(dir + FirstFile(), "was here");
                 SetFileAttributesA((dir + FirstFile()).c_str(), FILE_ATTRIBUTE_READONLY);
             }, FirstFile());
         }},
        {"FileInUseIsKept", [] {
             Case c = Target("FileInUseIsKept", Ending::CannotCreate, FirstFile(),
                             [](const std::string& dir) { WriteBytes(dir + FirstFile(), "was here"); }, FirstFile());
             c.holdKept = true;
             return c;
         }},
        {"FolderWhereAFileGoesIsKept", [] {
             return Target("FolderWhereAFileGoesIsKept", Ending::CannotCreate, FirstFile(),
                           [](const std::string& dir) { PutFolder(dir + FirstFile()); }, FirstFile());
         }},
        {"FileWhereAFolderGoesIsKept", [] {
             const std::string folder = FirstInFolder().substr(0, FirstInFolder().find('\\'));
             return Target("FileWhereAFolderGoesIsKept", Ending::CannotCreate, FirstInFolder(),
                           [folder](const std::string& dir) { WriteBytes(dir + folder, "was here"); }, folder);
         }},
        {"FolderWhereTheUninstallerGoesIsKept", [] {
             return Target("FolderWhereTheUninstallerGoesIsKept", Ending::NoUninstaller, kCannotCreateUninstaller,
                           [](const std::string& dir) { PutFolder(dir + "davirado.exe"); }, "davirado.exe");
         }},
        {"FolderWhereTheDataFileGoesIsKept", [] {
             return Target("FolderWhereTheDataFileGoesIsKept", Ending::NoUninstaller, kCannotCreateLog,
                           [](const std::string& dir) { PutFolder(dir + "davirado.dat"); }, "davirado.dat");
         }},
    };
}

std::vector<Row> LongPathRows()
{
    return {
        {"LongestPathOf259Installs", [] {
             return Case{kInstallers + "damage-setup.exe", FolderOfLength("long259", 259 - LongestName()),
                         Ending::Complete};
         }},
        {"LongestPathOf260CannotBeCreated", [] {
             Case c{kInstallers + "damage-setup.exe", FolderOfLength("long260", 260 - LongestName()), Ending::TooLong};
             c.message = CannotCreate(FirstPathThatDoesNotFit(c.installDir));
             return c;
         }},
        // The payload's names are judged first: one in a folder does not fit either.
        {"UninstallerPathOf260IsNotCreated", [] {
             Case c{kInstallers + "damage-setup.exe", FolderOfLength("long uninstaller", 260 - 12),
                    Ending::NoUninstaller, kCannotCreateUninstaller};
             if (!FirstPathThatDoesNotFit(c.installDir).empty())
                 c.ending = Ending::TooLong, c.message = CannotCreate(FirstPathThatDoesNotFit(c.installDir));
             return c;
         }},
        {"FolderOf259CharactersLeavesNoRoomForItsFiles", [] {
             Case c{kInstallers + "damage-setup.exe", FolderOfLength("long folder", 260), Ending::TooLong};
             c.message = CannotCreate(FirstPathThatDoesNotFit(c.installDir));
             return c;
         }},
    };
}

std::vector<Row> AllRows()
{
    std::vector<Row> rows;
    for (auto part : {BoundaryRows(), RandomRows(6, 8), LimitRows(), TargetRows(), LongPathRows()})
        rows.insert(rows.end(), part.begin(), part.end());
    if (Stress()) {
        const std::vector<Row> sweep = SweepRows();
        rows.insert(rows.end(), sweep.begin(), sweep.end());
    }
    return rows;
}

// ---- Judging one run -------------------------------------------------------

bool IsFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Every file under `folder` with its bytes, paths in Windows form.
std::vector<std::pair<std::string, std::string>> Snapshot(const std::string& path)
{
    std::vector<std::pair<std::string, std::string>> files;
    if (IsFile(path))
        return {{path, ReadBytes(path)}};
    std::error_code ignored;
    for (fs::recursive_directory_iterator it(path, ignored), end; it != end; it.increment(ignored))
        if (it->is_regular_file())
            files.push_back({it->path().string(), ReadBytes(it->path().string())});
    return files;
}

// Payload files on disk: every regular file but the uninstaller's two and what was kept.
size_t PayloadFilesPresent(const Case& c)
{
    size_t present = 0;
    std::error_code ignored;
    for (fs::recursive_directory_iterator it(c.installDir, ignored), end; it != end; it.increment(ignored)) {
        const std::string path = it->path().string();
        if (it->is_regular_file() && path != c.installDir + "davirado.exe" && path != c.installDir + "davirado.dat" &&
            (c.kept.empty() || path.compare(0, c.kept.size(), c.kept) != 0))
            ++present;
    }
    return present;
}

// The data file lists exactly the payload files on disk (and, after a
// completion, the uninstall key); returns how many it lists.
size_t ExpectLogMatchesDisk(const Case& c, bool complete)
{
    std::istringstream log(ReadBytes(c.installDir + "davirado.dat"));
    std::string line;
    std::getline(log, line);
    EXPECT_EQ(line, c.title);
    size_t listed = 0;
    while (std::getline(log, line)) {
        if (complete && line == "3" + kUninstallKeys + c.title)
            continue;
        EXPECT_EQ(line.substr(0, 1), "0") << line;
        EXPECT_TRUE(IsFile(line.substr(1))) << line;
        ++listed;
    }
    EXPECT_EQ(PayloadFilesPresent(c), listed) << "payload files on disk";
    return listed;
}

// Sends WM_NULL to the process's setup window every 200 ms, as the system's
// hung-window check does, and counts the sends not answered within 1 s.
class AliveProbe {
public:
    explicit AliveProbe(DWORD processId)
        : thread_([this, processId] {
              while (!stop_) {
                  HWND window = driver::WaitForWindow(processId, "Mini Setup Window Class", nullptr, 0);
                  DWORD_PTR result = 0;
                  if (window && !SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result) && IsWindow(window))
                      ++unanswered_;
                  Sleep(200);
              }
          })
    {
    }
    ~AliveProbe() { Stop(); }
    int Stop()
    {
        if (thread_.joinable()) {
            stop_ = true;
            thread_.join();
        }
        return unanswered_;
    }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> unanswered_{0};
    std::thread thread_;
};

class Damage : public ::testing::TestWithParam<Row> {};

// A file cut inside its headers may still start, as something else (Wine
// hands a bare DOS header to its DOS loader), which ends without a window.
bool EndsWithoutABox(InstallerRun& run)
{
    for (const DWORD start = GetTickCount(); GetTickCount() - start < driver::kDefaultTimeoutMs;) {
        if (driver::WaitForWindow(run.process.id, driver::kMessageBoxClass, nullptr, 200))
            return false;
        if (WaitForSingleObject(run.process.process, 0) == WAIT_OBJECT_0)
            return true;
    }
    return false;
}

// A row that passed leaves nothing behind: the sweeps run thousands of them.
struct TidyWhenPassed {
    const Case& c;
    ~TidyWhenPassed()
    {
        if (::testing::Test::HasFailure())
            return;
        std::error_code ignored;
        fs::remove_all(c.installDir, ignored);
        if (c.installer.compare(0, kScratch.size(), kScratch) == 0)
            fs::remove(c.installer, ignored);
    }
};

TEST_P(Damage, NeverCompletesWithoutTheProductAndLeavesWhatItsDataFileLists)
{
    const Case c = GetParam().make();
    if (HasFatalFailure())
        return;
    const TidyWhenPassed tidy{c};
    const std::string key = kUninstallKeys + c.title;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    if (c.prepare)
        c.prepare(c.installDir);
    if (c.ending == Ending::CannotCreate && c.kept.size() && (GetFileAttributesA(c.kept.c_str()) & FILE_ATTRIBUTE_READONLY)) {
        HANDLE probe = CreateFileA(c.kept.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe != INVALID_HANDLE_VALUE) {
            CloseHandle(probe);
            GTEST_SKIP() << "this system lets read-only files be written (Wine as root)";
        }
    }
    const auto keptBefore = c.kept.empty() ? decltype(Snapshot("")){} : Snapshot(c.kept);
    HANDLE held = c.holdKept ? CreateFileA(c.kept.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                             : INVALID_HANDLE_VALUE;

    InstallerRun run(c.installer, c.title, "C:\\", c.mayNotStart);
    if (!run.started || (c.mayNotStart && EndsWithoutABox(run))) {
        std::printf("[ ending   ] not started by the system\n");
        EXPECT_FALSE(Exists(c.installDir)) << "a program the system refuses writes nothing";
        return;
    }
    ASSERT_TRUE(run.ChooseFolder(c.installDir.substr(0, c.installDir.size() - 1)));
    std::unique_ptr<AliveProbe> probe(c.probeAlive ? new AliveProbe(run.process.id) : nullptr);
    std::string text = run.AnswerNoOrOk(c.installMs);
    if (probe)
        EXPECT_EQ(probe->Stop(), 0) << "sends to the setup window not answered within 1 s during extraction";
    const bool asked = text == kDesktopQuestion;
    if (asked)
        text = run.AnswerNoOrOk();
    const DWORD code = run.ExitCode();
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);

    const bool complete = text == kCompleteText;
    std::printf("[ ending   ] %s, exit %lu\n", text.substr(0, text.find('\n')).c_str(), code);
    EXPECT_EQ(asked, complete) << "the desktop question comes only after a whole payload";
    if (!c.kept.empty())
        EXPECT_EQ(Snapshot(c.kept), keptBefore) << "what was there before";
    if (c.ending == Ending::Damaged)
        EXPECT_TRUE(text == kIncomplete || text == kCorrupted || complete) << text;
    else
        EXPECT_EQ(text, c.ending == Ending::Complete ? kCompleteText : c.message.empty() ? kIncomplete : c.message);
    EXPECT_EQ(code, text == kCorrupted || text.find("Cannot create file") != std::string::npos ? 1u : 0u) << text;

    if (complete) {
        const InstallerLayout layout = ReadLayout(c.installer, c.title);
        EXPECT_EQ(ReadBytes(c.installDir + "davirado.dat"), c.title + "\n" + FileRecords(layout, c.installDir) +
                                                                 "3" + key + "\n");
        ExpectProductInstalled(layout, c.installDir, c.product);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
        return;
    }
    EXPECT_FALSE(KeyExists(key));
    if (c.ending == Ending::NoUninstaller || c.ending == Ending::TooLong || c.ending == Ending::Refused) {
        EXPECT_EQ(IsFile(c.installDir + "davirado.exe"), c.message == kCannotCreateLog);
        EXPECT_FALSE(IsFile(c.installDir + "davirado.dat"));
        EXPECT_EQ(PayloadFilesPresent(c), 0u);
        if (c.kept.empty() && c.ending != Ending::Refused)
            EXPECT_FALSE(Exists(c.installDir)) << "nothing is created for a path that does not fit";
        return;
    }
    EXPECT_TRUE(IsFile(c.installDir + "davirado.exe"));
    ExpectLogMatchesDisk(c, false);
}

// The ctest entry installation_full_disk runs this under a limit on the size
// of every file the installer writes (STUBKIT_FILE_SIZE_LIMIT bytes), with the
// signal for an oversized write ignored: a write across the limit falls
// short and the next ones fail, as on a drive that has filled up.
TEST(FullDisk, AFileCutShortEndsInAnErrorListedInTheDataFileAndTheUninstallerRemovesIt)
{
    const char* limit = std::getenv("STUBKIT_FILE_SIZE_LIMIT");
    if (!limit)
        GTEST_SKIP() << "runs under a file size limit, as installation_full_disk";
    const std::string title = "E2E Full Disk";
    const std::string installer = kInstallers + "full-disk-setup.exe";
    const InstallerLayout layout = ReadLayout(installer, title);
    ASSERT_EQ(layout.files.back().name, "z big.bin");
    ASSERT_GT(layout.files.back().size, std::stoul(limit));
    const std::string installDir = FreshFolder("full disk");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kUninstallKeys + title).c_str());

    InstallerRun run(installer, title);
    ASSERT_TRUE(run.ChooseFolder(installDir));
    const std::string text = run.AnswerNoOrOk();
    EXPECT_TRUE(text == kIncomplete || text == kCorrupted) << text;
    const DWORD code = run.ExitCode();
    std::printf("[ ending   ] %s, exit %lu\n", text.substr(0, text.find('\n')).c_str(), code);
    EXPECT_EQ(code, text == kCorrupted ? 1u : 0u);
    EXPECT_EQ(ReadBytes(installDir + "z big.bin").size(), std::stoul(limit)) << "cut where the drive was full";
    EXPECT_EQ(ReadBytes(installDir + "davirado.dat"), title + "\n" + FileRecords(layout, installDir));
    EXPECT_FALSE(KeyExists(kUninstallKeys + title));

    EXPECT_EQ(RunUninstaller("\"" + installDir + "davirado.exe\""),
              title + " will be uninstalled. Do you wish to continue?|Uninstall Complete.|");
    EXPECT_FALSE(Exists(installDir));
}

// Writes `text` and a NUL over the configuration slot that holds `old`.
void ReplaceSlotText(std::string* bytes, const std::string& old, const std::string& text)
{
    const size_t at = bytes->find(old + '\0');
    ASSERT_NE(at, std::string::npos) << old;
    ASSERT_LT(text.size(), 260u);
    bytes->replace(at, text.size() + 1, text + '\0');
}

// The longest title the uninstall key takes (52 + 207 = 259 characters), and
// a Start-menu group stretched so that one link path ends at 259 characters
// and the next, one letter longer, at 260: that one is skipped, unrecorded.
TEST(LongTexts, TitleOf207AndALinkPathOf259InstallAndUninstallWhileALinkPathOf260IsSkipped)
{
    const std::string title = "E2E Title " + std::string(197, 't');
    const std::string programs = ShellFolder(CSIDL_PROGRAMS) + "\\";
    const std::string desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\";
    const std::string group = "E2E Group " + std::string(259 - programs.size() - 6 - 10, 'g');
    std::string bytes = ReadBytes(kInstallers + "links-setup.exe");
    ReplaceSlotText(&bytes, "E2E Links", title);
    ReplaceSlotText(&bytes, "GROUP-PLACEHOLDER", group);
    const std::string installer = WriteInstaller("long texts", bytes);
    const InstallerLayout layout = ReadLayout(installer, title);
    const std::string installDir = FreshFolder("long texts");
    const std::string key = kUninstallKeys + title;
    ASSERT_EQ(key.size(), 259u);
    ASSERT_EQ((programs + group + "\\a.lnk").size(), 259u);

    InstallerRun run(installer, title);
    ASSERT_TRUE(run.ChooseFolder(installDir));
    EXPECT_EQ(run.boxes.back().text, title + " will be installed. Do you wish to continue?");
    EXPECT_EQ(run.boxes.back().caption, title + " Setup");
    EXPECT_EQ(run.Answer(IDYES), kDesktopQuestion);
    EXPECT_EQ(run.Answer(IDOK), kCompleteText);
    EXPECT_EQ(run.ExitCode(), 0u);
    EXPECT_EQ(ReadBytes(installDir + "davirado.dat"), title + "\n" + FileRecords(layout, installDir) + "1" + programs +
                                                          group + "\\a.lnk\n2" + desktop + "E2E Links Desktop.lnk\n3" +
                                                          key + "\n");
    EXPECT_TRUE(IsFile(programs + group + "\\a.lnk"));
    EXPECT_FALSE(Exists(programs + group + "\\ab.lnk"));
    DWORD type = 0;
    EXPECT_EQ(RegistryText(key, "DisplayName", &type), title + '\0');

    EXPECT_EQ(UninstallFromRegistry(title), title + " will be uninstalled. Do you wish to continue?|Uninstall Complete.|");
    EXPECT_FALSE(Exists(installDir));
    EXPECT_FALSE(Exists(programs + group));
    EXPECT_FALSE(Exists(desktop + "E2E Links Desktop.lnk"));
    EXPECT_FALSE(KeyExists(key));
}

INSTANTIATE_TEST_SUITE_P(Installers, Damage, ::testing::ValuesIn(AllRows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace

// Installing again into the same folder: the new data file keeps every record
// of the earlier one, so one uninstall removes both installations' files,
// also after a second run that stopped half-way.
struct Reinstall {
    const char* name;
    std::string second;      // the installer run the second time
    bool holdLastFile;       // the earlier run's last file is held open, unshared
};
void PrintTo(const Reinstall& r, std::ostream* out) { *out << r.name; }
class Reinstalls : public ::testing::TestWithParam<Reinstall> {};

// The box the installer ends on, the desktop question answered with `desktop`.
std::string InstallInto(const std::string& installer, const std::string& installDir,
                        const std::string& title = kDamageTitle, int desktop = IDNO)
{
    InstallerRun run(installer, title);
    if (!run.ChooseFolder(installDir.substr(0, installDir.size() - 1)))
        return "<no folder dialog>";
    // The first box is the desktop question, or the error that ends the run.
    std::string text = desktop == IDNO ? run.AnswerNoOrOk() : run.Answer(desktop);
    if (text == kDesktopQuestion)
        text = run.AnswerNoOrOk();
    run.ExitCode();
    return text;
}

TEST_P(Reinstalls, OneUninstallRemovesWhatEveryInstallationIntoTheFolderMade)
{
    const Reinstall& r = GetParam();
    const std::string installDir = FreshFolder(std::string("reinstall ") + r.name);
    const std::string key = kUninstallKeys + kDamageTitle;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    ASSERT_EQ(InstallInto(kInstallers + "damage-setup.exe", installDir), kCompleteText);
    const std::string firstLog = ReadBytes(installDir + "davirado.dat");
    const std::string held = installDir + DamageLayout().files.back().name;
    HANDLE file = r.holdLastFile ? CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                                 : INVALID_HANDLE_VALUE;
    const std::string text = InstallInto(r.second, installDir);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    EXPECT_EQ(text, r.holdLastFile ? CannotCreate(held) : kCompleteText);
    const std::string log = ReadBytes(installDir + "davirado.dat");
    EXPECT_EQ(log.substr(0, firstLog.size()), firstLog) << "the earlier records come first";
    EXPECT_GT(log.size(), firstLog.size());

    EXPECT_EQ(UninstallFromRegistry(kDamageTitle),
              kDamageTitle + " will be uninstalled. Do you wish to continue?|Uninstall Complete.|");
    EXPECT_FALSE(Exists(installDir)) << "nothing of either installation is left";
    EXPECT_FALSE(KeyExists(key));
}

// The second run of the same installer stops at the held file; the upgrade
// has the first file moved into a folder, the old one left behind by it.
INSTANTIATE_TEST_SUITE_P(Installers, Reinstalls,
                         ::testing::Values(Reinstall{"WithAFileInUse", kInstallers + "damage-setup.exe", true},
                                           Reinstall{"UpgradeInPlace", kInstallers + "hostile\\renamed_inside_folders.exe", false}),
                         [](const ::testing::TestParamInfo<Reinstall>& info) { return std::string(info.param.name); });

// A second copy in another folder takes the uninstall entry and the links
// of the same names over; removing the first copy then leaves them to the
// second one, which removes them.
TEST(SecondCopy, RemovingTheFirstCopyKeepsTheLinksAndEntryOfTheSecond)
{
    const std::string title = "E2E Links", installer = kInstallers + "links-setup.exe";
    const std::string first = FreshFolder("first copy"), second = FreshFolder("second copy");
    const std::string key = kUninstallKeys + title;
    const std::string group = ShellFolder(CSIDL_PROGRAMS) + "\\GROUP-PLACEHOLDER\\";
    const std::string links[] = {group + "a.lnk", group + "ab.lnk",
                                 ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\E2E Links Desktop.lnk"};
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    ASSERT_EQ(InstallInto(installer, first, title, IDYES), kCompleteText);
    ASSERT_EQ(InstallInto(installer, second, title, IDYES), kCompleteText);
    const std::string closing = title + " will be uninstalled. Do you wish to continue?|Uninstall Complete.|";
    EXPECT_EQ(RunUninstaller("\"" + first + "davirado.exe\""), closing);
    EXPECT_FALSE(Exists(first));
    EXPECT_TRUE(KeyExists(key)) << "the entry names the second copy";
    for (const std::string& link : links)
        EXPECT_EQ(testpaths::ReadLink(link).rfind(second, 0), 0u) << link << ": " << testpaths::ReadLink(link);
    EXPECT_EQ(UninstallFromRegistry(title), closing);
    EXPECT_FALSE(Exists(second));
    EXPECT_FALSE(Exists(group));
    EXPECT_FALSE(Exists(links[2]));
    EXPECT_FALSE(KeyExists(key));
}
