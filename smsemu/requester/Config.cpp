#include "requester/Config.h"

#include "core/NameSpaces.h"
#include "requester/Tsa.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <strings.h>
#include <unistd.h>

#include <fmt/format.h>
#include <toml++/toml.h>

namespace smsemu {
namespace fs = std::filesystem;

const char *tsaTypeName(TsaKind kind)
{
    switch (kind) {
    case TsaKind::FileSystem:
        return "Linux File System";
    case TsaKind::Directory:
        return "Directory";
    case TsaKind::GroupWise:
        return "GroupWise System";
    }
    return "";
}

std::string localHostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

namespace {

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::vector<UINT32> types(std::initializer_list<UINT32> list)
{
    return std::vector<UINT32>(list);
}

// Reads one configuration file; each method checks one part of it.
class Reader {
public:
    explicit Reader(std::string file) : file_(std::move(file)), folder_(fs::path(file_).parent_path()) {}

    Config read()
    {
        config_.host = localHostName();
        std::string text;
        if (!load(text))
            return std::move(config_);
        toml::table root;
        try {
            root = toml::parse(text, file_);
        } catch (const toml::parse_error &e) {
            problem(e.source().begin.line, e.source().begin.column,
                    fmt::format("not valid TOML: {}; no TSA is listed", e.description()));
            return std::move(config_);
        }
        readHost(root);
        for (auto &&[key, node] : root)
            if (key.str() != "host" && key.str() != "tsa")
                problem(node.source().begin.line, fmt::format("unknown key \"{}\" is ignored", key.str()));
        if (const toml::node *tsas = root.get("tsa")) {
            const toml::array *array = tsas->as_array();
            if (array == nullptr) {
                problem(tsas->source().begin.line, "\"tsa\" must be an array of tables ([[tsa]]); no TSA is listed");
                return std::move(config_);
            }
            for (const toml::node &node : *array) {
                const toml::table *table = node.as_table();
                if (table == nullptr) {
                    problem(node.source().begin.line, "a [[tsa]] entry must be a table; it is not listed");
                    continue;
                }
                readTsa(*table);
            }
        }
        return std::move(config_);
    }

private:
    bool load(std::string &text)
    {
        std::ifstream in(file_, std::ios::binary);
        if (!in) {
            config_.problems.push_back(
                fmt::format("{}: cannot read the configuration: {}; no TSA is listed", file_, std::strerror(errno)));
            return false;
        }
        std::ostringstream content;
        content << in.rdbuf();
        text = content.str();
        return true;
    }

    void problem(unsigned line, std::string_view what)
    {
        config_.problems.push_back(fmt::format("{}:{}: {}", file_, line, what));
    }
    void problem(unsigned line, unsigned column, std::string_view what)
    {
        config_.problems.push_back(fmt::format("{}:{}:{}: {}", file_, line, column, what));
    }

    fs::path resolve(const std::string &path) const
    {
        fs::path p(path);
        return p.is_absolute() ? p : folder_ / p;
    }

    void readHost(const toml::table &root)
    {
        const toml::node *host = root.get("host");
        if (host == nullptr)
            return;
        const toml::table *table = host->as_table();
        if (table == nullptr) {
            problem(host->source().begin.line, "\"host\" must be a table ([host]); it is ignored");
            return;
        }
        for (auto &&[key, node] : *table) {
            if (key.str() != "name") {
                problem(node.source().begin.line, fmt::format("unknown key \"host.{}\" is ignored", key.str()));
                continue;
            }
            const std::string *name = node.as_string() != nullptr ? &node.as_string()->get() : nullptr;
            if (name == nullptr || name->empty()) {
                problem(node.source().begin.line, "host.name must be a non-empty string; this machine's name is used");
                continue;
            }
            config_.host = *name;
        }
    }

    // A string value of a table, if present; false (with a problem) when the
    // key holds something else.
    bool optionalString(const toml::table &table, std::string_view key, std::string &out, const std::string &what)
    {
        const toml::node *node = table.get(key);
        if (node == nullptr)
            return true;
        if (const auto *s = node->as_string()) {
            out = s->get();
            return true;
        }
        problem(node->source().begin.line, fmt::format("{}: \"{}\" must be a string; {}", what, key, notListed()));
        return false;
    }

    static const char *notListed() { return "this TSA is not listed"; }

    void readTsa(const toml::table &table)
    {
        unsigned line = table.source().begin.line;
        TsaConfig tsa;
        std::string type;
        std::string what = "[[tsa]]";
        if (!optionalString(table, "type", type, what))
            return;
        if (type == "Linux File System")
            tsa.kind = TsaKind::FileSystem;
        else if (type == "Directory")
            tsa.kind = TsaKind::Directory;
        else if (type == "GroupWise System")
            tsa.kind = TsaKind::GroupWise;
        else {
            problem(line, fmt::format("[[tsa]]: type \"{}\" is not \"Linux File System\", \"Directory\" or "
                                      "\"GroupWise System\"; {}",
                                      type, notListed()));
            return;
        }
        tsa.name = fmt::format("{}.{}", config_.host, type);
        tsa.targetService = config_.host;
        if (!optionalString(table, "name", tsa.name, what))
            return;
        what = fmt::format("TSA \"{}\"", tsa.name);
        if (!optionalString(table, "target_service", tsa.targetService, what))
            return;
        if (tsa.name.empty() || tsa.targetService.empty()) {
            problem(line, fmt::format("{}: name and target_service must not be empty; {}", what, notListed()));
            return;
        }
        for (const TsaConfig &other : config_.tsas)
            if (strcasecmp(other.name.c_str(), tsa.name.c_str()) == 0) {
                problem(line, fmt::format("{}: another TSA has this name; {}", what, notListed()));
                return;
            }

        static const std::set<std::string> common{"type", "name", "target_service", "utf8_names", "users"};
        static const std::set<std::string> fileSystem{"resource", "archive_flag", "archive_state"};
        static const std::set<std::string> directory{"root_form", "store"};
        // Over an LDAP server ("store" there is a problem of its own, below).
        static const std::set<std::string> server{"root_form", "store",        "ldap_uri",
                                                  "ldap_base", "ldap_timeout", "archive_state"};
        const std::set<std::string> &own = tsa.kind != TsaKind::Directory     ? fileSystem
                                           : table.get("ldap_uri") != nullptr ? server
                                                                              : directory;
        for (auto &&[key, node] : table)
            if (common.count(std::string(key.str())) == 0 && own.count(std::string(key.str())) == 0)
                problem(node.source().begin.line,
                        fmt::format("{}: unknown key \"{}\" for a {} TSA is ignored", what, key.str(), type));

        if (const toml::node *utf8 = table.get("utf8_names")) {
            if (const auto *b = utf8->as_boolean()) {
                tsa.utf8Names = b->get();
            } else {
                problem(utf8->source().begin.line,
                        fmt::format("{}: utf8_names must be true or false; {}", what, notListed()));
                return;
            }
        }
        if (!readUsers(table, tsa, what))
            return;

        if (tsa.kind != TsaKind::Directory && !readArchiveKeys(table, tsa, what))
            return;
        bool usable =
            tsa.kind == TsaKind::Directory ? readDirectory(table, tsa, what) : readResources(table, tsa, what);
        if (usable)
            config_.tsas.push_back(std::move(tsa));
    }

    bool readUsers(const toml::table &table, TsaConfig &tsa, const std::string &what)
    {
        const toml::node *users = table.get("users");
        if (users == nullptr)
            return true;
        const toml::table *map = users->as_table();
        if (map == nullptr) {
            problem(users->source().begin.line,
                    fmt::format("{}: users must be a table of user = \"password\"; {}", what, notListed()));
            return false;
        }
        tsa.peerAuthentication = false;
        for (auto &&[user, password] : *map) {
            const auto *text = password.as_string();
            if (text == nullptr) {
                // The value is a password: it is never echoed.
                problem(
                    password.source().begin.line,
                    fmt::format("{}: the password of user \"{}\" must be a string; {}", what, user.str(), notListed()));
                return false;
            }
            tsa.users.emplace(std::string(user.str()), text->get());
        }
        return true;
    }

    // archive_flag = "store" | "xattr"; archive_state = the store's file
    // (relative: to the configuration's folder). The file need not exist.
    bool readArchiveKeys(const toml::table &table, TsaConfig &tsa, const std::string &what)
    {
        std::string flag = "store";
        if (!optionalString(table, "archive_flag", flag, what))
            return false;
        if (flag == "xattr") {
            tsa.archiveFlag = ArchiveFlagKind::Xattr;
        } else if (flag != "store") {
            problem(table.get("archive_flag")->source().begin.line,
                    fmt::format("{}: archive_flag must be \"store\" or \"xattr\"; {}", what, notListed()));
            return false;
        }
        return readArchiveState(table, tsa, what);
    }

    bool readArchiveState(const toml::table &table, TsaConfig &tsa, const std::string &what)
    {
        std::string state;
        if (!optionalString(table, "archive_state", state, what))
            return false;
        if (const toml::node *node = table.get("archive_state")) {
            std::error_code ec;
            if (state.empty() || fs::is_directory(resolve(state), ec)) {
                problem(
                    node->source().begin.line,
                    fmt::format("{}: archive_state must name a file (the archive state store); {}", what, notListed()));
                return false;
            }
            tsa.archiveState = resolve(state);
        }
        return true;
    }

    bool readResources(const toml::table &table, TsaConfig &tsa, const std::string &what)
    {
        std::set<std::string> names;
        if (tsa.kind == TsaKind::GroupWise)
            names.insert(lower(kGroupWiseMailServer));
        const toml::node *node = table.get("resource");
        if (node == nullptr) {
            if (tsa.kind == TsaKind::FileSystem)
                tsa.resources.push_back({"/", "/", types({NWSM_NAME_SPACE_DOS, NWSM_NAME_SPACE_NFS})});
            return true;
        }
        const toml::array *array = node->as_array();
        if (array == nullptr) {
            problem(
                node->source().begin.line,
                fmt::format("{}: \"resource\" must be an array of tables ([[tsa.resource]]); {}", what, notListed()));
            return false;
        }
        for (const toml::node &entry : *array) {
            const toml::table *resource = entry.as_table();
            unsigned line = entry.source().begin.line;
            if (resource == nullptr) {
                problem(line, fmt::format("{}: a [[tsa.resource]] entry must be a table; {}", what, notListed()));
                return false;
            }
            ResourceConfig config;
            if (!readResource(*resource, tsa, what, config))
                return false;
            if (!names.insert(lower(config.name)).second) {
                problem(line, fmt::format("{}: resource \"{}\" is named twice; {}", what, config.name, notListed()));
                return false;
            }
            tsa.resources.push_back(std::move(config));
        }
        if (tsa.kind == TsaKind::FileSystem && tsa.resources.empty()) {
            problem(node->source().begin.line,
                    fmt::format("{}: a file-system TSA needs a resource; {}", what, notListed()));
            return false;
        }
        return true;
    }

    bool readResource(const toml::table &resource, const TsaConfig &tsa, const std::string &what, ResourceConfig &out)
    {
        unsigned line = resource.source().begin.line;
        for (auto &&[key, node] : resource)
            if (key.str() != "name" && key.str() != "path" && key.str() != "name_spaces")
                problem(node.source().begin.line,
                        fmt::format("{}: unknown key \"{}\" of a resource is ignored", what, key.str()));
        std::string path;
        if (!optionalString(resource, "name", out.name, what) || !optionalString(resource, "path", path, what))
            return false;
        if (out.name.empty() || path.empty()) {
            problem(line, fmt::format("{}: a resource needs a name and a path; {}", what, notListed()));
            return false;
        }
        std::string where = fmt::format("{}: resource \"{}\"", what, out.name);
        if (tsa.kind == TsaKind::GroupWise) {
            std::size_t colon = out.name.find(':');
            // The domain's name is also a folder name of the data sets below it.
            if (colon == 0 || colon != out.name.size() - 1 || out.name.find_first_of("/\\") != std::string::npos) {
                problem(line, fmt::format("{}: a GroupWise resource is named like \"DOM1:\" (one ':' at the end, "
                                          "no '/' or '\\'); {}",
                                          where, notListed()));
                return false;
            }
        }
        out.path = resolve(path);
        std::error_code ec;
        if (!fs::is_directory(out.path, ec)) {
            problem(line, fmt::format("{}: directory \"{}\" {}; {}", where, out.path.string(),
                                      fs::exists(out.path, ec) ? "is not a directory" : "does not exist", notListed()));
            return false;
        }
        out.nameSpaces = tsa.kind == TsaKind::FileSystem ? types({NWSM_NAME_SPACE_DOS, NWSM_NAME_SPACE_NFS})
                                                         : types({NWSM_NAME_SPACE_DOS, NWSM_NAME_SPACE_OS2});
        if (const toml::node *spaces = resource.get("name_spaces")) {
            const toml::array *array = spaces->as_array();
            if (array == nullptr) {
                problem(spaces->source().begin.line,
                        fmt::format("{}: name_spaces must be an array of names or numbers; {}", where, notListed()));
                return false;
            }
            out.nameSpaces.clear();
            for (const toml::node &space : *array) {
                // A name, or any type number as a UINT32 (reported as given).
                std::optional<UINT32> type;
                if (const auto *text = space.as_string())
                    type = nameSpaceType(text->get());
                else if (const auto *number = space.as_integer();
                         number != nullptr && number->get() >= 0 && number->get() <= 0xFFFFFFFFll)
                    type = static_cast<UINT32>(number->get());
                if (!type) {
                    problem(space.source().begin.line,
                            fmt::format("{}: name spaces are \"DOS\", \"MAC\", \"NFS\", \"FTAM\", \"OS2/LONG\" "
                                        "or a type number 0-4294967295; {}",
                                        where, notListed()));
                    return false;
                }
                out.nameSpaces.push_back(*type);
            }
        }
        return true;
    }

    bool readDirectory(const toml::table &table, TsaConfig &tsa, const std::string &what)
    {
        unsigned line = table.source().begin.line;
        std::string form = "[Root]";
        std::string store;
        if (!optionalString(table, "root_form", form, what) || !optionalString(table, "store", store, what))
            return false;
        if (form == "tree") {
            tsa.treeNameRoot = true;
        } else if (form != "[Root]") {
            problem(table.get("root_form")->source().begin.line,
                    fmt::format("{}: root_form must be \"[Root]\" or \"tree\"; {}", what, notListed()));
            return false;
        }
        if (table.get("ldap_uri") != nullptr) {
            if (!store.empty()) {
                problem(table.get("store")->source().begin.line,
                        fmt::format("{}: store and ldap_uri exclude each other; {}", what, notListed()));
                return false;
            }
            return readServer(table, tsa, what);
        }
        if (store.empty()) {
            problem(line,
                    fmt::format("{}: a Directory TSA needs a store (a JSON file) or ldap_uri; {}", what, notListed()));
            return false;
        }
        tsa.store = resolve(store);
        unsigned storeLine = table.get("store")->source().begin.line;
        std::ifstream in(tsa.store, std::ios::binary);
        std::error_code ec;
        if (!in || fs::is_directory(tsa.store, ec)) {
            problem(storeLine,
                    fmt::format("{}: store \"{}\" {}; {}", what, tsa.store.string(),
                                fs::exists(tsa.store, ec) ? "cannot be read" : "does not exist", notListed()));
            return false;
        }
        std::string storeProblem;
        if (!checkStoreOf(tsa, storeProblem)) {
            problem(storeLine, fmt::format("{}: store {}; {}", what, storeProblem, notListed()));
            return false;
        }
        return true;
    }

    // ldap_uri, ldap_base, ldap_timeout (seconds) and archive_state.
    bool readServer(const toml::table &table, TsaConfig &tsa, const std::string &what)
    {
        unsigned line = table.source().begin.line;
        if (!optionalString(table, "ldap_uri", tsa.ldapUri, what) ||
            !optionalString(table, "ldap_base", tsa.ldapBase, what) || !readArchiveState(table, tsa, what))
            return false;
        if (tsa.ldapUri.empty()) {
            problem(line, fmt::format("{}: ldap_uri must not be empty; {}", what, notListed()));
            return false;
        }
        if (const toml::node *timeout = table.get("ldap_timeout")) {
            const auto *seconds = timeout->as_integer();
            if (seconds == nullptr || seconds->get() < 1 || seconds->get() > 3600) {
                problem(
                    timeout->source().begin.line,
                    fmt::format("{}: ldap_timeout must be a number of seconds from 1 to 3600; {}", what, notListed()));
                return false;
            }
            tsa.ldapTimeout = std::chrono::seconds(seconds->get());
        }
        std::string serverProblem;
        if (!checkStoreOf(tsa, serverProblem)) {
            problem(line, fmt::format("{}: {}; {}", what, serverProblem, notListed()));
            return false;
        }
        return true;
    }

    std::string file_;
    fs::path folder_;
    Config config_;
};

} // namespace

Config defaultConfig()
{
    Config config;
    config.host = localHostName();
    TsaConfig tsa;
    tsa.kind = TsaKind::FileSystem;
    tsa.name = config.host + "." + tsaTypeName(TsaKind::FileSystem);
    tsa.targetService = config.host;
    tsa.resources.push_back({"/", "/", types({NWSM_NAME_SPACE_DOS, NWSM_NAME_SPACE_NFS})});
    config.tsas.push_back(std::move(tsa));
    return config;
}

Config readConfig(const std::string &file)
{
    return Reader(file).read();
}

Config loadConfig()
{
    const char *file = std::getenv("SMSEMU_CONFIG");
    if (file == nullptr || *file == '\0')
        return defaultConfig();
    Config config = readConfig(file);
    for (const std::string &problem : config.problems)
        std::fprintf(stderr, "smsemu: %s\n", problem.c_str());
    return config;
}

} // namespace smsemu
