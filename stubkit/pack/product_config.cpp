#include "stubkit/pack/product_config.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include <toml++/toml.h>

#include "stubkit/container/installer_file.h"
#include "stubkit/container/printable_text.h"

namespace stubkit {
namespace {

const char* const kTopLevelKeys[] = {"title",   "source",     "default_folder", "program_group",
                                     "run_after_install", "start_menu", "desktop"};
const char* const kShortcutKeys[] = {"link", "target"};

// Edits that turn one key into the other, for "did you mean".
std::size_t EditDistance(const std::string& a, const std::string& b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

template <std::size_t N>
std::string Suggestion(const std::string& key, const char* const (&known)[N])
{
    const char* best = nullptr;
    std::size_t best_distance = 3;   // more edits than this is another word
    for (const char* candidate : known) {
        const std::size_t distance = EditDistance(key, candidate);
        if (distance < best_distance && distance < std::string(candidate).size()) {
            best = candidate;
            best_distance = distance;
        }
    }
    return best ? " (did you mean " + Quoted(std::string(best)) + "?)" : std::string();
}

class ConfigReader {
public:
    ConfigReader(const std::filesystem::path& path, const ConfigVariables& variables,
                 std::vector<std::string>& problems)
        : path_(path), variables_(variables), problems_(problems)
    {
    }

    void Problem(const toml::source_region& where, const std::string& field, const std::string& message,
                 ProductConfig* config = nullptr) const
    {
        if (config && !field.empty())
            config->faulty_fields.insert(field);
        std::ostringstream text;
        text << path_.u8string();
        if (where.begin.line > 0)
            text << ":" << where.begin.line;
        text << ": " << (field.empty() ? "" : field + ": ") << message;
        problems_.push_back(Printable(text.str()));
    }

    template <std::size_t N>
    void RejectUnknownKeys(const toml::table& table, const char* const (&known)[N], const std::string& context) const
    {
        for (auto&& [key, node] : table) {
            const std::string name(key.str());
            if (std::find(std::begin(known), std::end(known), name) == std::end(known))
                Problem(key.source(), "", "unknown key " + Quoted(name) + context + Suggestion(name, known));
        }
    }

    std::optional<std::string> OptionalString(const toml::table& table, const std::string& key,
                                              const std::string& context, ProductConfig& config) const
    {
        const toml::node* node = table.get(key);
        if (!node)
            return std::nullopt;
        config.lines[context + key] = static_cast<int>(node->source().begin.line);
        if (!node->is_string()) {
            Problem(node->source(), context + key, "must be a text in quotes", &config);
            return std::string();
        }
        return Expanded(*node->value<std::string>(), node->source(), context + key, config);
    }

    std::string RequiredString(const toml::table& table, const std::string& key, const std::string& context,
                               const toml::source_region& where, ProductConfig& config) const
    {
        std::optional<std::string> value = OptionalString(table, key, context, config);
        if (!value)
            Problem(where, context + key, "missing; " + std::string(key == "title" ? "every installer needs a title"
                                                                 : key == "source" ? "it names the product folder"
                                                                                   : "every row needs one"),
                    &config);
        return value.value_or("");
    }

    std::vector<ShortcutConfig> Shortcuts(const toml::table& root, const std::string& key, ProductConfig& config) const
    {
        std::vector<ShortcutConfig> rows;
        const toml::node* node = root.get(key);
        if (!node)
            return rows;
        const toml::array* array = node->as_array();
        if (array && array->empty())
            return rows;
        if (!array || !array->is_array_of_tables()) {
            Problem(node->source(), key, "must be a list of [[" + key + "]] tables");
            return rows;
        }
        for (std::size_t i = 0; i < array->size(); ++i) {
            const toml::table& row = *array->get(i)->as_table();
            const std::string context = key + "[" + std::to_string(i) + "].";
            RejectUnknownKeys(row, kShortcutKeys, " in [[" + key + "]] row " + std::to_string(i));
            ShortcutConfig shortcut;
            shortcut.line = static_cast<int>(row.source().begin.line);
            config.lines.emplace(key, shortcut.line);
            config.lines[key + "[" + std::to_string(i) + "]"] = shortcut.line;
            shortcut.link = RequiredString(row, "link", context, row.source(), config);
            shortcut.target = RequiredString(row, "target", context, row.source(), config);
            std::replace(shortcut.target.begin(), shortcut.target.end(), '/', '\\');
            rows.push_back(shortcut);
        }
        return rows;
    }

    ProductConfig Read(const toml::table& root) const
    {
        RejectUnknownKeys(root, kTopLevelKeys, "");
        ProductConfig config;
        config.config_path = path_;
        // A missing key has no line of its own: the file is named alone.
        const toml::source_region nowhere{};
        config.title = RequiredString(root, "title", "", nowhere, config);
        const std::size_t before_source = problems_.size();
        const std::string source = RequiredString(root, "source", "", nowhere, config);
        const toml::node* source_node = root.get("source");
        if (source_node && source.empty() && problems_.size() == before_source)
            Problem(source_node->source(), "source", "empty; it names the product folder");
        if (std::any_of(source.begin(), source.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
            Problem(source_node->source(), "source", "contains a control character");
        config.complete = problems_.size() == before_source;
        config.source = path_.parent_path() / std::filesystem::u8path(source);
        const std::optional<std::string> default_folder = OptionalString(root, "default_folder", "", config);
        const std::optional<std::string> program_group = OptionalString(root, "program_group", "", config);
        config.default_folder = default_folder.value_or(config.title);
        config.program_group = program_group.value_or(config.title);
        config.default_folder_from_title = !default_folder;
        config.program_group_from_title = !program_group;
        config.run_after_install = OptionalString(root, "run_after_install", "", config).value_or("");
        config.start_menu = Shortcuts(root, "start_menu", config);
        config.desktop = Shortcuts(root, "desktop", config);
        return config;
    }

private:
    // ${NAME} replaced by its value, "$$" by '$'; any other '$' stands.
    std::string Expanded(const std::string& text, const toml::source_region& where, const std::string& field,
                         ProductConfig& config) const
    {
        std::string out;
        for (std::size_t at = 0; at < text.size(); ++at) {
            if (text[at] != '$' || at + 1 >= text.size() || (text[at + 1] != '$' && text[at + 1] != '{')) {
                out += text[at];
                continue;
            }
            if (text[at + 1] == '$') {
                out += '$';
                ++at;
                continue;
            }
            const std::size_t close = text.find('}', at + 2);
            if (close == std::string::npos) {
                Problem(where, field, "'${' without its '}'; write '$$' for a '$'", &config);
                return out;
            }
            const std::string name = text.substr(at + 2, close - at - 2);
            if (const std::optional<std::string> value = Variable(name)) {
                out += *value;
            } else {
                Problem(where, field,
                        "undefined variable " + Quoted(name) + "; give it with -D " + name + "=VALUE or in the environment",
                        &config);
            }
            at = close;
        }
        return out;
    }

    std::optional<std::string> Variable(const std::string& name) const
    {
        if (const auto given = variables_.find(name); given != variables_.end())
            return given->second;
        if (name.empty())
            return std::nullopt;
        if (const char* value = std::getenv(name.c_str()))
            return std::string(value);
        return std::nullopt;
    }

    std::filesystem::path path_;
    const ConfigVariables& variables_;
    std::vector<std::string>& problems_;
};

// What a line defines: its [table] header or the key before its '='. The
// parser's own text garbles quoted keys when it reports one given twice.
std::string DefinitionOnLine(std::string_view text, std::size_t line)
{
    for (std::size_t at = 1; at < line && !text.empty(); ++at)
        text.remove_prefix(std::min(text.size(), text.find('\n') + 1));
    std::string definition(text.substr(0, text.find('\n')));
    if (definition.find_first_not_of(" \t") != std::string::npos && definition[definition.find_first_not_of(" \t")] != '[')
        definition = definition.substr(0, definition.find('='));
    const std::size_t first = definition.find_first_not_of(" \t");
    if (first == std::string::npos)
        return definition;
    return definition.substr(first, definition.find_last_not_of(" \t\r") + 1 - first);
}

// The field a plan problem is about: the text before its first ':' or " (".
std::string ProblemField(const std::string& problem)
{
    return problem.substr(0, std::min(problem.find(": "), problem.find(" (")));
}

}  // namespace

ProductConfig ParseProductConfig(std::string_view text, const std::filesystem::path& config_path,
                                 const ConfigVariables& variables, std::vector<std::string>& problems)
{
    const ConfigReader reader(config_path, variables, problems);
    toml::table root;
    try {
        root = toml::parse(text, config_path.u8string());
    } catch (const toml::parse_error& error) {
        std::string description(error.description());
        if (description.find("cannot redefine existing") != std::string::npos)
            description = Quoted(DefinitionOnLine(text, error.source().begin.line)) + " is defined twice";
        reader.Problem(error.source(), "", description);
        ProductConfig config;
        config.config_path = config_path;
        return config;
    }
    return reader.Read(root);
}

ProductConfig LoadProductConfig(const std::filesystem::path& config_path, const ConfigVariables& variables,
                                std::vector<std::string>& problems)
{
    const std::string problem = NonRegularFileProblem(config_path);
    if (!problem.empty())
        throw ConfigError("config file: " + problem);
    std::ifstream in(config_path, std::ios::binary);
    if (!in)
        throw ConfigError("cannot open config file " + Quoted(config_path) + ": " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    return ParseProductConfig(text.str(), config_path, variables, problems);
}

std::string LocatedProblem(const ProductConfig& config, const std::string& problem)
{
    const std::string field = ProblemField(problem);
    const bool from_title = (field == "default_folder" && config.default_folder_from_title) ||
                            (field == "program_group" && config.program_group_from_title);
    if (config.faulty_fields.count(field) || (from_title && config.faulty_fields.count("title")))
        return std::string();
    auto line = config.lines.find(field);
    // A field left out takes the title's value; its faults are the title's line.
    if (line == config.lines.end() && (field == "default_folder" || field == "program_group"))
        line = config.lines.find("title");
    if (line == config.lines.end() && field.rfind("run_after_install", 0) == 0)
        line = config.lines.find("run_after_install");
    if (line == config.lines.end())
        return problem;
    return config.config_path.u8string() + ":" + std::to_string(line->second) + ": " + problem;
}

bool IsConfigProblem(const ProductConfig& config, const std::string& problem)
{
    return problem.rfind(Printable(config.config_path.u8string() + ":"), 0) == 0;
}

std::string VariableDefinitionProblem(const std::string& definition)
{
    const std::size_t equals = definition.find('=');
    if (equals == std::string::npos || equals == 0)
        return Quoted(definition) + " is not NAME=VALUE";
    return std::string();
}

}  // namespace stubkit
