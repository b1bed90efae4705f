#include "stubkit/pack/pack_order.h"

#include <algorithm>
#include <array>
#include <map>
#include <numeric>
#include <thread>
#include <unordered_map>

#include "payload/crc32.h"
#include "stubkit/crc/fast_crc32.h"
#include "stubkit/encoder/encoder.h"
#include "stubkit/encoder/level_settings.h"
#include "stubkit/platform/platform.h"

namespace stubkit {
namespace {

// One-permutation min-hash: each shingle's hash falls into one of the bins by
// its top bits and lowers that bin's minimum. Two files' share of equal bins
// estimates the share of shingles they have in common.
constexpr std::size_t kBins = 64;
constexpr std::size_t kBandBins = 2;   // bins per band: files equal in a whole band are candidates
constexpr std::uint32_t kEmptyBin = 0xFFFFFFFFu;
// Below this share a file is not taken as alike: name order goes on.
constexpr double kAlike = 0.25;
// Bucket members looked at per band, so that a bucket of thousands of
// alike small files costs no more than a few of them.
constexpr std::size_t kCandidatesPerBucket = 64;
// Another order must win the trial by this share to replace name order: the
// trial's coarse parse misjudges differences smaller than that (a product of
// a few MB whose orders differ by tenths of a percent at -9).
constexpr double kRequiredGain = 0.01;

struct Fingerprint {
    std::array<std::uint32_t, kBins> bins;
    std::uint32_t crc = 0;
};

Fingerprint FingerprintOf(const SourceFile& file, std::vector<std::uint8_t>& buffer)
{
    Fingerprint print;
    print.bins.fill(kEmptyBin);
    print.crc = CrcInitial;
    platform::SourceReader reader(file.path);
    std::uint64_t window = 0;
    std::uint64_t seen = 0;
    while (std::size_t got = reader.Read(buffer.data(), buffer.size())) {
        print.crc = UpdateCrcFast(print.crc, buffer.data(), got);
        for (std::size_t i = 0; i < got; ++i) {
            window = (window << 8) | buffer[i];
            if (++seen < 8)
                continue;
            const std::uint64_t hash = (window ^ (window >> 29)) * 0xBF58476D1CE4E5B9ull;
            std::uint32_t& bin = print.bins[hash >> 58];
            bin = std::min(bin, static_cast<std::uint32_t>(hash >> 20));
        }
    }
    return print;
}

double Likeness(const Fingerprint& a, const Fingerprint& b)
{
    std::size_t used = 0, equal = 0;
    for (std::size_t i = 0; i < kBins; ++i) {
        if (a.bins[i] == kEmptyBin && b.bins[i] == kEmptyBin)
            continue;
        ++used;
        equal += a.bins[i] == b.bins[i] ? 1 : 0;
    }
    return used == 0 ? 0.0 : static_cast<double>(equal) / static_cast<double>(used);
}

std::uint64_t BandKey(const Fingerprint& print, std::size_t band)
{
    std::uint64_t key = band;
    for (std::size_t i = band * kBandBins; i < (band + 1) * kBandBins; ++i)
        key = (key ^ print.bins[i]) * 0x100000001B3ull;
    return key;
}

// The name without its folders (table names separate them with '\\').
std::string BaseName(const std::string& name)
{
    return name.substr(name.rfind('\\') + 1);
}

// The same catalogue in another language, the same module in another
// folder: only a hint of where to look; whether a candidate is alike is
// judged by its content.
std::uint64_t BaseNameKey(const std::string& name)
{
    std::uint64_t key = 0xCBF29CE484222325ull;   // FNV-1a: the same buckets on every host
    for (const char c : BaseName(name))
        key = (key ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
    return key;
}

class Chain {
public:
    Chain(const std::vector<SourceFile>& files, const std::vector<Fingerprint>& prints,
          const std::vector<std::size_t>& members)
        : prints_(prints), members_(members), placed_(members.size(), false)
    {
        for (std::size_t m = 0; m < members_.size(); ++m)
            name_keys_.push_back(BaseNameKey(files[members_[m]].name));
        for (std::size_t band = 0; band < kBands; ++band) {
            auto& buckets = bands_[band];
            for (std::size_t m = 0; m < members_.size(); ++m) {
                if (band == kNameBand)
                    buckets[name_keys_[m]].push_back(m);
                else if (prints_[members_[m]].bins[band * kBandBins] != kEmptyBin)
                    buckets[BandKey(prints_[members_[m]], band)].push_back(m);
            }
        }
    }

    // Member positions in the chain's order: the groups of alike files, each
    // where its first file by name stands, and each group as a chain.
    std::vector<std::size_t> Order()
    {
        Group();
        std::vector<std::vector<std::size_t>> groups(members_.size());
        for (std::size_t m = 0; m < members_.size(); ++m)
            groups[Root(m)].push_back(m);
        std::vector<std::size_t> order;
        for (std::size_t root = 0; root < members_.size(); ++root) {
            const std::vector<std::size_t>& group = groups[root];
            std::size_t next_by_name = 0;
            while (next_by_name < group.size()) {
                if (placed_[group[next_by_name]]) {
                    ++next_by_name;
                    continue;
                }
                for (std::size_t current = group[next_by_name]; current != kNone;
                     current = MostAlike(current, [this, root](std::size_t m) { return !placed_[m] && Root(m) == root; })) {
                    placed_[current] = true;
                    order.push_back(current);
                }
            }
        }
        return order;
    }

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    static constexpr std::size_t kNameBand = kBins / kBandBins;
    static constexpr std::size_t kBands = kNameBand + 1;

    // Each file joins the group of the file most like it; a group's root is
    // its first member by name, so the groups come out the same every time.
    void Group()
    {
        root_.resize(members_.size());
        for (std::size_t m = 0; m < members_.size(); ++m)
            root_[m] = m;
        for (std::size_t m = 0; m < members_.size(); ++m) {
            const std::size_t best = MostAlike(m, [m](std::size_t other) { return other != m; });
            if (best == kNone)
                continue;
            const std::size_t a = Root(m), b = Root(best);
            root_[std::max(a, b)] = std::min(a, b);
        }
    }

    std::size_t Root(std::size_t m)
    {
        while (root_[m] != m)
            m = root_[m] = root_[root_[m]];
        return m;
    }

    // The member most like `current` among those `eligible`, the earlier by
    // name on a tie; kNone when none is alike enough.
    template <typename Eligible>
    std::size_t MostAlike(std::size_t current, const Eligible& eligible)
    {
        const Fingerprint& print = prints_[members_[current]];
        std::size_t best = kNone;
        double best_likeness = kAlike;
        for (std::size_t band = 0; band < kBands; ++band) {
            auto bucket = bands_[band].find(band == kNameBand ? name_keys_[current] : BandKey(print, band));
            if (bucket == bands_[band].end())
                continue;
            std::vector<std::size_t>& candidates = bucket->second;
            candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                            [this](std::size_t m) { return placed_[m]; }),
                             candidates.end());
            std::size_t looked = 0;
            for (std::size_t c = 0; c < candidates.size() && looked < kCandidatesPerBucket; ++c) {
                const std::size_t candidate = candidates[c];
                if (!eligible(candidate))
                    continue;
                ++looked;
                const double likeness = Likeness(print, prints_[members_[candidate]]);
                if (likeness > best_likeness || (likeness == best_likeness && best != kNone && candidate < best)) {
                    best = candidate;
                    best_likeness = likeness;
                }
            }
        }
        return best;
    }

    const std::vector<Fingerprint>& prints_;
    const std::vector<std::size_t>& members_;
    std::vector<bool> placed_;
    std::vector<std::size_t> root_;
    std::vector<std::uint64_t> name_keys_;
    std::array<std::unordered_map<std::uint64_t, std::vector<std::size_t>>, kBands> bands_;
};

// The members (positions in `firsts`) with files of one name in different
// folders together (a catalogue in every language, a module in two
// folders), each name where its first file stands by name.
std::vector<std::size_t> ByBaseName(const std::vector<SourceFile>& files, const std::vector<std::size_t>& firsts)
{
    std::vector<std::size_t> members(firsts.size());
    std::iota(members.begin(), members.end(), 0);
    std::unordered_map<std::string, std::size_t> first_of_name;
    std::vector<std::size_t> rank(firsts.size());
    for (std::size_t m = 0; m < firsts.size(); ++m)
        rank[m] = first_of_name.emplace(BaseName(files[firsts[m]].name), m).first->second;
    std::stable_sort(members.begin(), members.end(), [&rank](std::size_t a, std::size_t b) { return rank[a] < rank[b]; });
    return members;
}

// The members with the files of each extension together (sources, then
// their compiled forms; pages, then images), in name order within it.
std::vector<std::size_t> ByExtension(const std::vector<SourceFile>& files, const std::vector<std::size_t>& firsts)
{
    std::vector<std::string> extensions;
    for (const std::size_t first : firsts) {
        const std::string base = BaseName(files[first].name);
        const std::size_t dot = base.rfind('.');
        extensions.push_back(dot == std::string::npos ? std::string() : base.substr(dot + 1));
    }
    std::vector<std::size_t> members(firsts.size());
    std::iota(members.begin(), members.end(), 0);
    std::stable_sort(members.begin(), members.end(),
                     [&extensions](std::size_t a, std::size_t b) { return extensions[a] < extensions[b]; });
    return members;
}

// The stream size of the files in `order` under a greedy parse with the
// shallowest search: it sees the matches between files (the difference the
// order makes) at several times the speed of the fastest level.
std::uint64_t TrialSize(const std::vector<SourceFile>& files, const std::vector<std::size_t>& order)
{
    std::vector<std::uint8_t> buffer(1 << 20);
    LevelSettings trial = SettingsForLevel(kFastestLevel);
    trial.search_depth = 1;
    trial.nice_length = 16;
    trial.hash_bits = 20;
    std::uint64_t size = 0;
    StreamEncoder encoder(trial, [&size](const std::uint8_t*, std::size_t bytes) { size += bytes; });
    for (const std::size_t index : order) {
        platform::SourceReader reader(files[index].path);
        while (std::size_t got = reader.Read(buffer.data(), buffer.size()))
            encoder.Write(buffer.data(), got);
    }
    encoder.Finish();
    return size;
}

}  // namespace

std::string PackOrderProblem(const std::string& text)
{
    return text == "name" || text == "content" ? std::string() : "'" + text + "' is not an order; use content or name";
}

PackOrder ParsePackOrder(const std::string& text)
{
    return text == "name" ? PackOrder::name : text == "content" ? PackOrder::content : PackOrder::by_level;
}

bool OrdersByContent(PackOrder order, int level)
{
    return order == PackOrder::content || (order == PackOrder::by_level && level >= kContentOrderLevel);
}

std::vector<std::size_t> ContentOrder(const std::vector<SourceFile>& files, int threads, OrderChoice& choice)
{
    std::vector<std::size_t> name_order(files.size());
    std::iota(name_order.begin(), name_order.end(), 0);
    std::vector<std::uint8_t> buffer(1 << 20);
    std::vector<Fingerprint> prints(files.size());
    std::vector<std::size_t> order, firsts;   // empty files first; then the first copy of each content
    std::map<std::pair<std::uint64_t, std::uint32_t>, std::vector<std::size_t>> copies;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i].size == 0) {
            order.push_back(i);
            continue;
        }
        prints[i] = FingerprintOf(files[i], buffer);
        std::vector<std::size_t>& same = copies[{files[i].size, prints[i].crc}];
        // Equal size, CRC and sketch: the same bytes for any purpose of ordering.
        const bool copy = !same.empty() && prints[same.front()].bins == prints[i].bins;
        same.push_back(i);
        if (!copy)
            firsts.push_back(i);
        else
            ++choice.duplicates;
    }
    const std::vector<std::size_t> empty_files = order;
    // Each first copy with its copies behind it, the firsts in `members` order.
    auto with_copies = [&](const std::vector<std::size_t>& members) {
        std::vector<std::size_t> result = empty_files;
        for (const std::size_t member : members) {
            const std::size_t first = firsts[member];
            result.push_back(first);
            for (const std::size_t copy : copies[{files[first].size, prints[first].crc}])
                if (copy != first && prints[copy].bins == prints[first].bins)
                    result.push_back(copy);
        }
        return result;
    };
    Chain chain(files, prints, firsts);
    std::vector<std::vector<std::size_t>> orders = {name_order, with_copies(chain.Order()),
                                                    with_copies(ByBaseName(files, firsts)),
                                                    with_copies(ByExtension(files, firsts))};
    for (std::size_t k = orders.size(); k-- > 1;)   // the same order twice is tried once
        if (std::find(orders.begin(), orders.begin() + static_cast<std::ptrdiff_t>(k), orders[k]) != orders.begin() + static_cast<std::ptrdiff_t>(k))
            orders.erase(orders.begin() + static_cast<std::ptrdiff_t>(k));
    if (orders.size() == 1)
        return name_order;
    // The trials are independent encodes: run side by side, their sizes are
    // the same for any thread count.
    std::vector<std::uint64_t> sizes(orders.size());
    for (std::size_t first = 0; first < orders.size(); first += static_cast<std::size_t>(threads)) {
        std::vector<std::thread> running;
        for (std::size_t k = first; k < orders.size() && k < first + static_cast<std::size_t>(threads); ++k)
            running.emplace_back([&, k] { sizes[k] = TrialSize(files, orders[k]); });
        for (std::thread& thread : running)
            thread.join();
    }
    choice.trial_name = sizes[0];
    std::size_t best = 0;
    for (std::size_t k = 1; k < orders.size(); ++k)
        if (static_cast<double>(sizes[k]) < static_cast<double>(sizes[best]) * (1.0 - kRequiredGain))
            best = k;
    choice.trial_content = sizes[best];
    choice.content_order = best != 0;
    return orders[best];
}

}  // namespace stubkit
