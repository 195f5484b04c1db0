// Where the login password comes from: a file, the environment, or a prompt
// on the terminal. Never from the command line itself.
#ifndef KXSMS_TOOLS_PASSWORD_H
#define KXSMS_TOOLS_PASSWORD_H

#include <optional>
#include <string>

namespace kxsms {

// The password text, wiped from memory when the object goes.
class Secret {
public:
    Secret() = default;
    explicit Secret(const char *text) : text_(text) {}
    ~Secret();
    Secret(Secret &&other) noexcept : text_(std::move(other.text_)), locked_(other.locked_)
    {
        other.locked_ = false;
        other.wipe();
    }
    Secret &operator=(Secret &&other) noexcept;
    Secret(const Secret &) = delete;
    Secret &operator=(const Secret &) = delete;
    const char *c_str() const { return text_.c_str(); }
    // Filled in place, so that no other copy of the text is left behind.
    std::string &buffer() { return text_; }
    // Keeps the text's memory (4 KiB of it) out of swap and core dumps.
    void lock();

private:
    void wipe();
    std::string text_;
    bool locked_ = false;
};

// The password of the first login, in this order: the first line of
// passwordFile when given; KXSMS_PASSWORD when set (also when empty); with
// forcePrompt a prompt on the terminal; otherwise the empty password (a TSA
// that does not check passwords takes it, and one that does refuses it and
// the caller may ask). Nothing (with the reason in error) when the file
// cannot be read.
std::optional<Secret> obtainPassword(const std::string &passwordFile, const std::string &user, bool forcePrompt,
                                     std::string &error);

// Asks "Password for USER: " on the terminal, without echo. The empty
// password when there is no terminal.
Secret promptPassword(const std::string &user);

// Asks the question on the terminal (/dev/tty), without echo; the empty
// text when there is no terminal.
Secret promptSecret(const std::string &question);

// The first line of a file ("-": standard input); nothing, with "FILE:
// reason" in error, when it cannot be read.
std::optional<Secret> readSecretLine(const std::string &file, std::string &error);

// True when the process has a terminal to ask on and standard input is one.
bool canPromptOnTerminal();

// True when a refused login may be tried again with a password typed in:
// standard input is a terminal.
bool canPrompt();

} // namespace kxsms

#endif
