// Reading the password without echo and without keeping copies around.
#include "frame/Password.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sodium.h>
#include <termios.h>
#include <unistd.h>

namespace kxsms {

namespace {

// Reads one line from fd into line, without its line end, at most 4095 bytes kept.
void readLine(int fd, std::string &line)
{
    line.reserve(4096);
    char c = 0;
    for (;;) {
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            break;
        if (line.size() < 4095)
            line += c;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    explicit_bzero(&c, sizeof c);
}

} // namespace

Secret promptPassword(const std::string &user)
{
    return promptSecret("Password for " + user + ": ");
}

bool canPromptOnTerminal()
{
    // Someone is there to answer only when standard input is a terminal too:
    // a job run from a script or a test must fail, not wait.
    if (!canPrompt())
        return false;
    const int tty = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0)
        return false;
    close(tty);
    return true;
}

Secret promptSecret(const std::string &question)
{
    const int tty = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0)
        return Secret();
    struct termios saved;
    const bool echoOff = tcgetattr(tty, &saved) == 0;
    if (echoOff) {
        struct termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        // Input typed ahead (or fed through a pseudo-terminal) is kept.
        tcsetattr(tty, TCSADRAIN, &quiet);
    }
    if (write(tty, question.data(), question.size()) < 0) {
        // Nothing to do: the answer is still read.
    }
    Secret secret;
    secret.lock();
    readLine(tty, secret.buffer());
    if (echoOff)
        tcsetattr(tty, TCSADRAIN, &saved);
    close(tty);
    return secret;
}

bool canPrompt()
{
    return isatty(STDIN_FILENO) != 0;
}

Secret::~Secret()
{
    wipe();
}

Secret &Secret::operator=(Secret &&other) noexcept
{
    if (this != &other) {
        wipe();
        text_ = std::move(other.text_);
        locked_ = other.locked_;
        other.locked_ = false;
        other.wipe();
    }
    return *this;
}

void Secret::lock()
{
    text_.reserve(4096);
    locked_ = sodium_mlock(text_.data(), text_.capacity()) == 0;
}

void Secret::wipe()
{
    if (!text_.empty())
        explicit_bzero(text_.data(), text_.size());
    if (locked_)
        sodium_munlock(text_.data(), text_.capacity());
    locked_ = false;
    text_.clear();
}

std::optional<Secret> readSecretLine(const std::string &file, std::string &error)
{
    const int fd = file == "-" ? dup(STDIN_FILENO) : open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = file + ": " + strerror(errno);
        return std::nullopt;
    }
    Secret secret;
    secret.lock();
    readLine(fd, secret.buffer());
    close(fd);
    return secret;
}

std::optional<Secret> obtainPassword(const std::string &passwordFile, const std::string &user, bool forcePrompt,
                                     std::string &error)
{
    if (!passwordFile.empty()) {
        std::optional<Secret> secret = readSecretLine(passwordFile, error);
        if (!secret)
            error = "cannot read the password file " + error;
        return secret;
    }
    if (const char *text = getenv("KXSMS_PASSWORD"))
        return Secret(text);
    if (forcePrompt)
        return promptPassword(user);
    return Secret();
}

} // namespace kxsms
