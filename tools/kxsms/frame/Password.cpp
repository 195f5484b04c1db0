// Reading the password without echo and without keeping copies around.
#include "frame/Password.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
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
    const int tty = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0)
        return Secret();
    struct termios saved;
    const bool echoOff = tcgetattr(tty, &saved) == 0;
    if (echoOff) {
        struct termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    const std::string question = "Password for " + user + ": ";
    if (write(tty, question.data(), question.size()) < 0) {
        // Nothing to do: the answer is still read.
    }
    Secret secret;
    readLine(tty, secret.buffer());
    if (echoOff)
        tcsetattr(tty, TCSAFLUSH, &saved);
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
        other.wipe();
    }
    return *this;
}

void Secret::wipe()
{
    if (!text_.empty())
        explicit_bzero(text_.data(), text_.size());
    text_.clear();
}

std::optional<Secret> obtainPassword(const std::string &passwordFile, const std::string &user, bool forcePrompt,
                                     std::string &error)
{
    if (!passwordFile.empty()) {
        const int fd = passwordFile == "-" ? dup(STDIN_FILENO) : open(passwordFile.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            error = "cannot read the password file " + passwordFile + ": " + strerror(errno);
            return std::nullopt;
        }
        Secret secret;
        readLine(fd, secret.buffer());
        close(fd);
        return secret;
    }
    if (const char *text = getenv("KXSMS_PASSWORD"))
        return Secret(text);
    if (forcePrompt)
        return promptPassword(user);
    return Secret();
}

} // namespace kxsms
