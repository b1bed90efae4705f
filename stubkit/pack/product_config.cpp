#include "stubkit/pack/product_config.h"

#include <algorithm>
#include <cerrno>
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

class ConfigReader {
public:
    explicit ConfigReader(const std::filesystem::path& path) : path_(path) {}

    [[noreturn]] void Fail(const toml::source_region& where, const std::string& message) const
    {
        std::ostringstream text;
        text << path_.string();
        if (where.begin.line > 0)
            text << ":" << where.begin.line;
        text << ": " << message;
        throw ConfigError(Printable(text.str()));
    }

    template <std::size_t N>
    void RejectUnknownKeys(const toml::table& table, const char* const (&known)[N],
                           const std::string& context) const
    {
        for (auto&& [key, node] : table) {
            if (std::find(std::begin(known), std::end(known), key.str()) == std::end(known))
                Fail(key.source(), "unknown key " + Quoted(std::string(key.str())) + context);
        }
    }

    std::optional<std::string> OptionalString(const toml::table& table, const std::string& key,
                                              const std::string& context) const
    {
        const toml::node* node = table.get(key);
        if (!node)
            return std::nullopt;
        if (!node->is_string())
            Fail(node->source(), "'" + context + key + "' must be a text in quotes");
        return node->value<std::string>();
    }

    std::string RequiredString(const toml::table& table, const std::string& key,
                               const std::string& context) const
    {
        std::optional<std::string> value = OptionalString(table, key, context);
        if (!value)
            Fail(table.source(), "'" + context + key + "' is missing");
        return *value;
    }

    std::vector<ShortcutConfig> Shortcuts(const toml::table& root, const std::string& key) const
    {
        std::vector<ShortcutConfig> rows;
        const toml::node* node = root.get(key);
        if (!node)
            return rows;
        const toml::array* array = node->as_array();
        if (array && array->empty())
            return rows;
        if (!array || !array->is_array_of_tables())
            Fail(node->source(), "'" + key + "' must be a list of [[" + key + "]] tables");
        for (std::size_t i = 0; i < array->size(); ++i) {
            const toml::table& row = *array->get(i)->as_table();
            const std::string context = key + "[" + std::to_string(i) + "].";
            RejectUnknownKeys(row, kShortcutKeys, " in [[" + key + "]] row " + std::to_string(i));
            ShortcutConfig shortcut;
            shortcut.link = RequiredString(row, "link", context);
            shortcut.target = RequiredString(row, "target", context);
            std::replace(shortcut.target.begin(), shortcut.target.end(), '/', '\\');
            shortcut.line = static_cast<int>(row.source().begin.line);
            rows.push_back(shortcut);
        }
        return rows;
    }

    ProductConfig Read(const toml::table& root) const
    {
        RejectUnknownKeys(root, kTopLevelKeys, "");
        ProductConfig config;
        config.config_path = path_;
        config.title = RequiredString(root, "title", "");
        const std::string source = RequiredString(root, "source", "");
        if (source.empty())
            Fail(root.get("source")->source(), "'source' is empty; it names the product folder");
        if (std::any_of(source.begin(), source.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
            Fail(root.get("source")->source(), "'source' contains a control character");
        config.source = path_.parent_path() / std::filesystem::u8path(source);
        const std::optional<std::string> default_folder = OptionalString(root, "default_folder", "");
        const std::optional<std::string> program_group = OptionalString(root, "program_group", "");
        config.default_folder = default_folder.value_or(config.title);
        config.program_group = program_group.value_or(config.title);
        config.default_folder_from_title = !default_folder;
        config.program_group_from_title = !program_group;
        config.run_after_install = OptionalString(root, "run_after_install", "").value_or("");
        config.start_menu = Shortcuts(root, "start_menu");
        config.desktop = Shortcuts(root, "desktop");
        return config;
    }

private:
    std::filesystem::path path_;
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

}  // namespace

ProductConfig ParseProductConfig(std::string_view text, const std::filesystem::path& config_path)
{
    const ConfigReader reader(config_path);
    toml::table root;
    try {
        root = toml::parse(text, config_path.string());
    } catch (const toml::parse_error& error) {
        std::string description(error.description());
        if (description.find("cannot redefine existing") != std::string::npos)
            description = Quoted(DefinitionOnLine(text, error.source().begin.line)) + " is defined twice";
        reader.Fail(error.source(), description);
    }
    return reader.Read(root);
}

ProductConfig LoadProductConfig(const std::filesystem::path& config_path)
{
    const std::string problem = NonRegularFileProblem(config_path);
    if (!problem.empty())
        throw ConfigError("config file: " + problem);
    std::ifstream in(config_path, std::ios::binary);
    if (!in)
        throw ConfigError("cannot open config file " + Quoted(config_path) + ": " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    return ParseProductConfig(text.str(), config_path);
}

}  // namespace stubkit
