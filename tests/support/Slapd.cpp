#include "Slapd.h"

#include "Files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

constexpr const char *kSlapd = "/usr/sbin/slapd";
constexpr const char *kSlapadd = "/usr/sbin/slapadd";
// A valid X.509 certificate (DER, base64), for userCertificate;binary, whose
// syntax the server checks.
constexpr const char *kCertificate =
    "MIIBgjCCASegAwIBAgIUPu4fyiMfUIV8DV2pCknRkpRmdIIwCgYIKoZIzj0EAwIwFjEUMBIGA1UEAwwLVGVzdCBQZXJzb24wHhcNMjYxMjA5"
    "MTU1NTE2WhcNMzYxMjA2MTU1NTE2WjAWMRQwEgYDVQQDDAtUZXN0IFBlcnNvbjBZMBMGByqGSM49AgEGCCqGSM49AwEHA0IABCcCTnZlZNkD"
    "VhWubFh0yN1d+zdJxAxPsiPFztK5EIGXhocxffkF1CBlNdIR7XStoLIME3KhRGjrnzWEEnBXiUqjUzBRMB0GA1UdDgQWBBQqBrvml0kcRmOp"
    "857UgBTb4UD+7TAfBgNVHSMEGDAWgBQqBrvml0kcRmOp857UgBTb4UD+7TAPBgNVHRMBAf8EBTADAQH/MAoGCCqGSM49BAMCA0kAMEYCIQDH"
    "h1/QlhQLFa6d+Qm1juj347kr9ew3MfXj96dkKuS/DwIhAIfiury3pvik3w8qqen76Aglz/S8A40V5AS4Us7A9N0u";

std::string base64(const std::string &bytes)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// One LDIF line; values that are not plain ASCII text go in base64.
std::string line(const std::string &name, const std::string &value)
{
    bool safe =
        value.empty() || (value.front() != ' ' && value.front() != ':' && value.front() != '<' && value.back() != ' ');
    for (char c : value)
        safe = safe && c >= 0x20 && c < 0x7F;
    return safe ? name + ": " + value + "\n" : name + ":: " + base64(value) + "\n";
}

std::string entry(const std::string &dn, const std::vector<std::pair<std::string, std::string>> &attributes)
{
    std::string out = line("dn", dn);
    for (const auto &[name, value] : attributes)
        out += line(name, value);
    return out + "\n";
}

// Bytes of a photo: every byte value, NULs and 0xFF among them.
std::string photo(unsigned seed, std::size_t size)
{
    std::string bytes("\xFF\xD8\xFF\xE0\x00\x10", 6);
    unsigned state = seed * 2654435761u + 1;
    while (bytes.size() < size) {
        state = state * 1103515245u + 12345u;
        bytes += static_cast<char>((state >> 16) & 0xFF);
    }
    return bytes;
}

std::string decodeBase64(const std::string &text)
{
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (char c : text) {
        const char *at = std::strchr("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/", c);
        if (c == '=' || at == nullptr || c == '\0')
            continue;
        buffer = (buffer << 6) |
                 static_cast<unsigned>(at - "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return out;
}

int runProgram(const std::vector<std::string> &command, const fs::path &input, const fs::path &out, const fs::path &err)
{
    pid_t child = fork();
    if (child < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (child == 0) {
        int in = open(input.empty() ? "/dev/null" : input.c_str(), O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || o < 0 || e < 0)
            _exit(127);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char *> argv;
        for (const std::string &word : command)
            argv.push_back(const_cast<char *>(word.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A URI component: the socket's path with '/' and other specials as %XX.
std::string uriEscaped(const std::string &path)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.')
            out += static_cast<char>(c);
        else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

} // namespace

std::string Slapd::unavailable()
{
    for (const char *program : {kSlapd, kSlapadd, "/usr/bin/ldapsearch", "/usr/bin/ldapadd", "/usr/bin/ldapdelete"})
        if (access(program, X_OK) != 0)
            return std::string(program) + " is not installed (scripts/install-deps installs slapd and ldap-utils)";
    return "";
}

Slapd::Slapd(SlapdOptions options) : options_(std::move(options)), dir_("slapd")
{
    // A socket's path must fit in 108 bytes: else it goes to a folder of
    // its own in /tmp.
    std::string socket = (dir_.path() / "ldapi").string();
    if (socket.size() > 100) {
        std::string pattern = "/tmp/slapd-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a folder for the server's socket: " + pattern);
        socketDir_ = pattern;
        socket = (socketDir_ / "ldapi").string();
    }
    uri_ = "ldapi://" + uriEscaped(socket);
    fs::create_directories(dir_.path() / "db");
    const std::string suffix = options_.suffix;
    std::string config = "include /etc/ldap/schema/core.schema\n"
                         "include /etc/ldap/schema/cosine.schema\n"
                         "include /etc/ldap/schema/inetorgperson.schema\n"
                         "include /etc/ldap/schema/nis.schema\n"
                         "modulepath /usr/lib/ldap\n"
                         "moduleload back_mdb\n"
                         "pidfile " +
                         (dir_ / "slapd.pid") + "\nargsfile " + (dir_ / "slapd.args") +
                         "\n"
                         // The test's own user, over the socket, is the manager.
                         "authz-regexp \"^gidNumber=[0-9]+.uidNumber=" +
                         std::to_string(geteuid()) + ",cn=peercred,cn=external,cn=auth$\" \"cn=admin," + suffix +
                         "\"\n"
                         "database mdb\n"
                         "maxsize 268435456\n"
                         "dbnosync\n"
                         "suffix \"" +
                         suffix + "\"\nrootdn \"cn=admin," + suffix + "\"\nrootpw " + options_.rootPassword +
                         "\ndirectory " + (dir_ / "db") + "\n" + options_.limits + "\n" + options_.access +
                         "\naccess to * by users read by anonymous auth\n";
    writeFile(dir_.path() / "slapd.conf", config);
    if (!options_.ldif.empty()) {
        writeFile(dir_.path() / "load.ldif", options_.ldif);
        if (runProgram({kSlapadd, "-q", "-f", dir_ / "slapd.conf", "-l", dir_ / "load.ldif"}, "",
                       dir_.path() / "slapadd.out", dir_.path() / "slapadd.err") != 0)
            throw std::runtime_error("slapadd failed: " + readFile(dir_.path() / "slapadd.err"));
    }
    start();
}

Slapd::~Slapd()
{
    stop(true);
    if (!socketDir_.empty())
        removeTree(socketDir_);
}

void Slapd::start()
{
    if (pid_ > 0)
        return;
    const fs::path log = dir_.path() / "slapd.log";
    pid_t child = fork();
    if (child < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (child == 0) {
        int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        int in = open("/dev/null", O_RDONLY);
        if (out < 0 || in < 0)
            _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        // -d 0: in the foreground, so that this process is its parent.
        execl(kSlapd, kSlapd, "-d", "0", "-h", uri_.c_str(), "-f", (dir_.path() / "slapd.conf").c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    pid_ = child;
    // Ready when it answers a search of its root; a bounded number of tries.
    for (int attempt = 0; attempt < 3000; ++attempt) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("slapd ended at its start: " + readFile(log));
        }
        if (runProgram({"ldapsearch", "-x", "-H", uri_, "-b", "", "-s", "base", "-LLL", "1.1"}, "",
                       dir_.path() / "probe.out", dir_.path() / "probe.err") == 0)
            return;
        const timespec pause{0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    stop(true);
    throw std::runtime_error("slapd did not answer: " + readFile(log));
}

void Slapd::stop(bool abruptly)
{
    if (pid_ <= 0)
        return;
    kill(pid_, abruptly ? SIGKILL : SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

Slapd::Output Slapd::client(const std::string &program, const std::vector<std::string> &arguments,
                            const std::string &input) const
{
    std::vector<std::string> command{program, "-x", "-H", uri_, "-D", managerDn(), "-w", options_.rootPassword};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const fs::path in = dir_.path() / "client.in";
    writeFile(in, input);
    Output output;
    output.status = runProgram(command, in, dir_.path() / "client.out", dir_.path() / "client.err");
    output.out = readFile(dir_.path() / "client.out");
    output.err = readFile(dir_.path() / "client.err");
    return output;
}

std::string Slapd::dump(const std::string &base) const
{
    Output output = client(
        "ldapsearch", {"-LLL", "-M", "-o", "ldif-wrap=no", "-b", base.empty() ? options_.suffix : base, "*", "ref"});
    if (output.status != 0)
        throw std::runtime_error("ldapsearch failed: " + output.err);
    return output.out;
}

std::vector<std::string> sortedLdifRecords(const std::string &ldif)
{
    std::vector<std::string> records;
    std::size_t start = 0;
    while (start < ldif.size()) {
        std::size_t end = ldif.find("\n\n", start);
        if (end == std::string::npos)
            end = ldif.size();
        if (end > start)
            records.push_back(ldif.substr(start, end - start));
        start = end + 2;
    }
    std::sort(records.begin(), records.end());
    return records;
}

std::string sampleDirectory(const std::string &suffix, int people)
{
    const std::string certificate = decodeBase64(kCertificate);
    const std::string rdnValue = suffix.substr(suffix.find('=') + 1, suffix.find(',') - suffix.find('=') - 1);
    std::string out = entry(suffix, {{"objectClass", "organization"}, {"o", rdnValue}, {"description", "Sample"}});
    for (const char *unit : {"People", "Groups", "Special", "Departments", "Empty"})
        out += entry(std::string("ou=") + unit + "," + suffix, {{"objectClass", "organizationalUnit"}, {"ou", unit}});
    std::vector<std::string> members;
    for (int i = 0; i < people; ++i) {
        const std::string uid = "p" + std::to_string(10000 + i);
        const std::string dn = "uid=" + uid + ",ou=People," + suffix;
        std::vector<std::pair<std::string, std::string>> attributes{
            {"objectClass", "inetOrgPerson"},
            {"uid", uid},
            {"cn", "Person " + std::to_string(i)},
            {"sn", "Number " + std::to_string(i)},
            {"mail", uid + "@acme.example"},
            {"userPassword", "{SSHA}" + base64(photo(i, 24))},
            {"jpegPhoto", photo(static_cast<unsigned>(i), 64 + static_cast<std::size_t>(i % 7) * 40)}};
        if (i % 5 == 0)
            attributes.emplace_back("userCertificate;binary", certificate);
        if (i % 3 == 0)
            attributes.emplace_back("telephoneNumber", "+1 555 " + std::to_string(1000 + i));
        out += entry(dn, attributes);
        if (i < 60)
            members.push_back(dn);
    }
    const std::string special = ",ou=Special," + suffix;
    const std::vector<std::pair<std::string, std::string>> named{
        {"cn=Smith\\, John", "Smith, John"},
        {"cn=a\\+b", "a+b"},
        {"cn=dotted.name", "dotted.name"},
        {"cn=x\\=y", "x=y"},
        {"cn=back\\\\slash", "back\\slash"},
        {"cn=\\#hash", "#hash"},
        {"cn=\\ spaced\\ ", " spaced "},
        {"cn=J\xC3\xBCrgen M\xC3\xBCller", "J\xC3\xBCrgen M\xC3\xBCller"},
        {"cn=\xE5\xB1\xB1\xE7\x94\xB0\xE5\xA4\xAA\xE9\x83\x8E", "\xE5\xB1\xB1\xE7\x94\xB0\xE5\xA4\xAA\xE9\x83\x8E"}};
    for (const auto &[rdn, cn] : named) {
        out += entry(rdn + special, {{"objectClass", "person"}, {"cn", cn}, {"sn", "Special"}});
        members.push_back(rdn + special);
    }
    // A multi-valued RDN.
    out += entry("cn=John+uid=jd" + special,
                 {{"objectClass", "inetOrgPerson"}, {"cn", "John"}, {"uid", "jd"}, {"sn", "Doe"}});
    members.push_back("cn=John+uid=jd" + special);
    // A container with a UTF-8 name, and one entry in it.
    const std::string unicode = "ou=\xC3\x9Cnic\xC3\xB6"
                                "de" +
                                special;
    out += entry(unicode, {{"objectClass", "organizationalUnit"},
                           {"ou", "\xC3\x9Cnic\xC3\xB6"
                                  "de"}});
    out += entry("cn=\xC3\x89l\xC3\xA8ve," + unicode,
                 {{"objectClass", "person"}, {"cn", "\xC3\x89l\xC3\xA8ve"}, {"sn", "S"}});
    for (int d = 0; d < 5; ++d) {
        const std::string department = "ou=D" + std::to_string(d) + ",ou=Departments," + suffix;
        out += entry(department, {{"objectClass", "organizationalUnit"}, {"ou", "D" + std::to_string(d)}});
        for (int k = 0; k < 4; ++k)
            out += entry("cn=Desk " + std::to_string(k) + "," + department,
                         {{"objectClass", "person"}, {"cn", "Desk " + std::to_string(k)}, {"sn", "Desk"}});
    }
    for (int g = 0; g < 12; ++g) {
        std::vector<std::pair<std::string, std::string>> attributes{{"objectClass", "groupOfNames"},
                                                                    {"cn", "Group " + std::to_string(g)}};
        for (std::size_t m = static_cast<std::size_t>(g); m < members.size(); m += 5)
            attributes.emplace_back("member", members[m]);
        out += entry("cn=Group " + std::to_string(g) + ",ou=Groups," + suffix, attributes);
    }
    return out;
}

} // namespace testsupport
