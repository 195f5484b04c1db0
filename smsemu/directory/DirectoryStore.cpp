#include "directory/DirectoryStore.h"

#include "directory/DirectoryStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

namespace smsemu {
namespace fs = std::filesystem;

namespace {

// Line and column (from 1) of the character at `byte` (from 1, as the JSON
// parser counts the characters it has read).
std::pair<std::size_t, std::size_t> position(std::string_view text, std::size_t byte)
{
    std::size_t at = std::min(byte > 0 ? byte - 1 : 0, text.size());
    std::size_t line =
        1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + static_cast<long>(at), '\n'));
    std::size_t lineStart = text.rfind('\n', at == 0 ? 0 : at - 1);
    std::size_t column = lineStart == std::string_view::npos || at == 0 ? at + 1 : at - lineStart;
    return {line, column};
}

// The parser's message without its "[json.exception...] " tag.
std::string_view parserMessage(const char *what)
{
    std::string_view message(what);
    std::size_t tag = message.find("] ");
    return tag == std::string_view::npos ? message : message.substr(tag + 2);
}

bool readAll(int fd, std::string &text)
{
    text.clear();
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

bool writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        ssize_t put = ::write(fd, text.data(), text.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

CCODE writeFailure(int error)
{
    return error == ENOSPC || error == EDQUOT ? NWSMTS_OUT_OF_DISK_SPACE : NWSMTS_WRITE_ERROR;
}

// An exclusive lock of the store file for one change. The lock belongs to the
// inode: when another process renamed a new file over the store while this
// one waited, the lock is taken again on the new file.
class StoreLock {
public:
    StoreLock() = default;
    StoreLock(const StoreLock &) = delete;
    StoreLock &operator=(const StoreLock &) = delete;
    ~StoreLock()
    {
        if (fd_ >= 0)
            ::close(fd_); // releases the lock
    }

    CCODE acquire(const fs::path &file, std::string &problem)
    {
        for (int tries = 0; tries < 1000; ++tries) {
            int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                problem = fmt::format("{}: cannot be opened: {}", file.string(), std::strerror(errno));
                return NWSMTS_READ_ERROR;
            }
            int rc;
            while ((rc = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
            }
            struct stat held {};
            struct stat now {};
            if (rc == 0 && ::fstat(fd, &held) == 0 && ::stat(file.c_str(), &now) == 0 && held.st_dev == now.st_dev &&
                held.st_ino == now.st_ino) {
                fd_ = fd;
                return 0;
            }
            int error = errno;
            ::close(fd);
            if (rc != 0) {
                problem = fmt::format("{}: cannot be locked: {}", file.string(), std::strerror(error));
                return NWSMTS_WRITE_ERROR;
            }
        }
        problem = fmt::format("{}: keeps being replaced; it was not changed", file.string());
        return NWSMTS_WRITE_ERROR;
    }

private:
    int fd_ = -1;
};

} // namespace

bool parseDirectoryStore(std::string_view text, const std::string &file, DirectoryTree &tree, std::string &problem)
{
    nlohmann::json root;
    try {
        root = nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error &e) {
        auto [line, column] = position(text, e.byte);
        problem = fmt::format("{}:{}:{}: not valid JSON: {}", file, line, column, parserMessage(e.what()));
        return false;
    } catch (const nlohmann::json::exception &e) {
        // A number beyond a double's range (1e999) and the like.
        problem = fmt::format("{}: not valid JSON: {}", file, parserMessage(e.what()));
        return false;
    }
    if (!root.is_object()) {
        problem = fmt::format("{}: the store must be a JSON object with an array \"objects\"", file);
        return false;
    }
    for (const auto &[key, value] : root.items())
        if (key != "objects") {
            problem = fmt::format("{}: unknown key \"{}\" (a store holds only \"objects\")", file, key);
            return false;
        }
    auto objects = root.find("objects");
    if (objects == root.end())
        return true;
    if (!objects->is_array()) {
        problem = fmt::format("{}: \"objects\" must be an array", file);
        return false;
    }

    // Names hold views into `dns`, which is never reallocated.
    const std::size_t count = objects->size();
    std::vector<std::string> dns;
    dns.reserve(count);
    std::vector<DirectoryName> names(count);
    std::vector<std::string> classes(count);
    std::vector<Attributes> attributes(count);
    std::unordered_set<std::string> keys;
    // An object by its place and name, the name as JSON writes it (control
    // characters escaped) and cut when long.
    auto where = [&](std::size_t i) {
        if (i >= dns.size())
            return fmt::format("{}: objects[{}]", file, i);
        std::string shown = nlohmann::json(dns[i]).dump();
        if (shown.size() > 100)
            shown = shown.substr(0, 96) + "...\"";
        return fmt::format("{}: objects[{}] ({})", file, i, shown);
    };
    for (std::size_t i = 0; i < count; ++i) {
        const nlohmann::json &item = (*objects)[i];
        if (!item.is_object()) {
            problem = where(i) + ": must be an object with \"dn\" and \"class\"";
            return false;
        }
        auto dn = item.find("dn");
        if (dn == item.end() || !dn->is_string()) {
            problem = where(i) + ": \"dn\" must be a string";
            return false;
        }
        dns.push_back(dn->get<std::string>());
        for (const auto &[key, value] : item.items())
            if (key != "dn" && key != "class" && key != "attributes") {
                problem = fmt::format("{}: unknown key \"{}\" (an object has \"dn\", \"class\", \"attributes\")",
                                      where(i), key);
                return false;
            }
        DirectoryName &name = names[i];
        if (dns[i].find('\0') != std::string::npos || !parseDirectoryName(dns[i], tree.naming().tree, name) ||
            (name.kind != EntryKind::Object && name.kind != EntryKind::Top)) {
            problem = where(i) + ": \"dn\" does not name an object of the tree (a name ending in \".[Root]\")";
            return false;
        }
        std::string rootForm = rootFormName(name.components);
        if (rootForm.size() > NWSM_MAX_NAME || shownName(rootForm, tree.naming()).size() > NWSM_MAX_NAME) {
            problem = where(i) + fmt::format(": the name is longer than {} characters", NWSM_MAX_NAME);
            return false;
        }
        auto objectClass = item.find("class");
        if (objectClass == item.end() || !objectClass->is_string() ||
            objectClass->get_ref<const std::string &>().empty() ||
            objectClass->get_ref<const std::string &>().size() > kMaxClassName) {
            problem = where(i) + fmt::format(": \"class\" must be a string of 1 to {} characters", kMaxClassName);
            return false;
        }
        classes[i] = objectClass->get<std::string>();
        if (auto found = item.find("attributes"); found != item.end()) {
            std::string what;
            if (!attributesFromJson(*found, attributes[i], what)) {
                problem = where(i) + ": " + what;
                return false;
            }
        }
        if (!keys.insert(name.key).second) {
            problem = where(i) + ": the name is used twice (names are compared ignoring case)";
            return false;
        }
    }

    // Containers before what they hold, each level in file order.
    std::vector<std::size_t> order(count);
    for (std::size_t i = 0; i < count; ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return names[a].components.size() < names[b].components.size();
    });
    for (std::size_t i : order) {
        const DirectoryName &name = names[i];
        EntryPtr entry;
        if (name.kind == EntryKind::Top) {
            entry = tree.top();
            tree.setContent(*entry, std::move(classes[i]), std::move(attributes[i]));
        } else if (tree.find(parentKey(name.key)) == nullptr) {
            std::vector<std::string_view> up(name.components.begin() + 1, name.components.end());
            problem = where(i) + fmt::format(": its container \"{}\" is not in the store", rootFormName(up));
            return false;
        } else {
            entry = tree.add(name.key, name.components, std::move(classes[i]), std::move(attributes[i]));
        }
        if (entry->dataSize > kMaxEntryData) {
            problem = where(i) + fmt::format(": the object is larger than {} bytes", kMaxEntryData);
            return false;
        }
    }
    return true;
}

namespace {

// Writes the store's text straight from the tree, laid out as a JSON
// library's two-space indented dump: a change rewrites the whole store, and
// building a JSON tree of every object first cost more than the writing.
// Strings are escaped by the JSON library (which throws on text that is not
// UTF-8), one scratch value reused for all of them.
class StoreWriter {
public:
    explicit StoreWriter(std::string &text)
        : text_(text), serializer_(nlohmann::detail::output_adapter<char, std::string>(text), ' ')
    {
    }

    void string(const std::string &value)
    {
        scratch_.get_ref<std::string &>() = value;
        serializer_.dump(scratch_, false, false, 0);
    }
    void indent(std::size_t depth) { text_.append(2 * depth, ' '); }
    void key(std::size_t depth, const std::string &name)
    {
        indent(depth);
        string(name);
        text_ += ": ";
    }

private:
    std::string &text_;
    nlohmann::json scratch_ = std::string();
    nlohmann::detail::serializer<nlohmann::json> serializer_;
};

} // namespace

std::string serialiseDirectoryStore(const DirectoryTree &tree)
{
    std::string text = "{\n  \"objects\": [";
    StoreWriter out(text);
    bool first = true;
    tree.preorder(tree.top(), [&](const EntryPtr &entry) {
        if (entry->kind == EntryKind::Top && entry->objectClass == kTopClass && entry->attributes.empty())
            return true;
        text += first ? "\n" : ",\n";
        first = false;
        out.indent(2);
        text += "{\n";
        out.key(3, "dn");
        out.string(entry->dn);
        text += ",\n";
        out.key(3, "class");
        out.string(entry->objectClass);
        if (!entry->attributes.empty()) {
            text += ",\n";
            out.key(3, "attributes");
            text += "{";
            const char *between = "\n";
            for (const auto &[name, values] : entry->attributes) {
                text += between;
                between = ",\n";
                out.key(4, name);
                if (values.empty()) {
                    text += "[]";
                    continue;
                }
                text += "[\n";
                for (std::size_t v = 0; v < values.size(); ++v) {
                    out.indent(5);
                    out.string(values[v]);
                    text += v + 1 < values.size() ? ",\n" : "\n";
                }
                out.indent(4);
                text += "]";
            }
            text += "\n";
            out.indent(3);
            text += "}";
        }
        text += "\n";
        out.indent(2);
        text += "}";
        return true;
    });
    text += first ? "]\n}\n" : "\n  ]\n}\n";
    return text;
}

bool checkDirectoryStore(const fs::path &file, const DirectoryNaming &naming, std::string &problem)
{
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    std::string text;
    if (fd < 0 || !readAll(fd, text)) {
        problem = fmt::format("{}: cannot be read: {}", file.string(), std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    DirectoryTree parsed(naming);
    return parseDirectoryStore(text, file.string(), parsed, problem);
}

DirectoryStore::DirectoryStore(fs::path file, DirectoryNaming naming)
    : file_(std::move(file)), naming_(std::move(naming)), tree_(std::make_unique<DirectoryTree>(naming_))
{
}

CCODE DirectoryStore::refresh(std::string &problem)
{
    auto stampOf = [](const struct stat &st) {
        return Stamp{
            true, st.st_dev, st.st_ino, st.st_size, static_cast<long long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec};
    };
    struct stat st {};
    if (::stat(file_.c_str(), &st) != 0) {
        problem = fmt::format("{}: cannot be read: {}", file_.string(), std::strerror(errno));
        return NWSMTS_READ_ERROR;
    }
    if (stamp_.valid && stampOf(st) == stamp_)
        return 0;
    int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    std::string text;
    bool read = fd >= 0 && ::fstat(fd, &st) == 0 && readAll(fd, text);
    int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (!read) {
        problem = fmt::format("{}: cannot be read: {}", file_.string(), std::strerror(error));
        return NWSMTS_READ_ERROR;
    }
    auto fresh = std::make_unique<DirectoryTree>(naming_);
    if (!parseDirectoryStore(text, file_.string(), *fresh, problem))
        return NWSMTS_READ_ERROR;
    tree_ = std::move(fresh);
    stamp_ = stampOf(st);
    return 0;
}

CCODE DirectoryStore::change(const std::function<CCODE(DirectoryTree &)> &edit, std::string &problem)
{
    StoreLock lock;
    if (CCODE rc = lock.acquire(file_, problem))
        return rc;
    if (CCODE rc = refresh(problem))
        return rc;
    if (CCODE rc = edit(*tree_))
        return rc;
    if (CCODE rc = write(problem)) {
        // The file is as it was: so is the tree again.
        stamp_.valid = false;
        std::string again;
        refresh(again);
        return rc;
    }
    return 0;
}

CCODE DirectoryStore::write(std::string &problem)
{
    std::string text;
    try {
        text = serialiseDirectoryStore(*tree_);
    } catch (const nlohmann::json::exception &e) {
        problem = fmt::format("{}: not rewritten: {}", file_.string(), parserMessage(e.what()));
        return NWSMTS_WRITE_ERROR;
    }
    fs::path folder = file_.parent_path().empty() ? fs::path(".") : file_.parent_path();
    std::string temporary = (folder / ("." + file_.filename().string() + ".XXXXXX")).string();
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        problem = fmt::format("{}: cannot write a new store beside it: {}", file_.string(), std::strerror(error));
        return writeFailure(error);
    }
    struct stat old {};
    struct stat written {};
    bool ok = writeAll(fd, text) && ::fsync(fd) == 0;
    if (ok && ::stat(file_.c_str(), &old) == 0)
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    ok = ok && ::fstat(fd, &written) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.c_str(), file_.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        problem = fmt::format("{}: cannot be rewritten: {}", file_.string(), std::strerror(error));
        return writeFailure(error);
    }
    stamp_ = Stamp{true,
                   written.st_dev,
                   written.st_ino,
                   written.st_size,
                   static_cast<long long>(written.st_mtim.tv_sec),
                   written.st_mtim.tv_nsec};
    return 0;
}

} // namespace smsemu
