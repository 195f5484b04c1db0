// The manual page and the bash completion offer exactly the options the
// program and its commands define, each under its own command.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "commands/Commands.h"
#include "frame/CommandLine.h"

using namespace kxsms;

namespace {

using Names = std::set<std::string>;

// The help option CLI11 gives the program and every command.
const Names c_Help = {"-h", "--help"};

std::vector<CommandInfo> described()
{
    return describeCommandLine(allCommands());
}

// The names of the options (not positional arguments) of one command.
Names optionNames(const CommandInfo &command)
{
    Names names;
    for (const OptionInfo &option : command.options)
        if (!option.positional)
            names.insert(option.names.begin(), option.names.end());
    return names;
}

Names joined(Names a, const Names &b)
{
    a.insert(b.begin(), b.end());
    return a;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// ---- the bash completion -----------------------------------------------------------

// What the completion offers for the words typed (the last one being
// completed), one word a line.
Names completions(const std::vector<std::string> &words)
{
    // The words hold no quote of their own.
    std::string command = "bash --norc -c '. \"$1\" && shift && COMP_WORDS=(kxsms \"$@\") && COMP_CWORD=$# && "
                          "_kxsms && printf \"%s\\n\" \"${COMPREPLY[@]}\"' bash '" KXSMS_COMPLETION "'";
    for (const std::string &word : words)
        command += " '" + word + "'";
    FILE *pipe = popen(command.c_str(), "r");
    Names offered;
    if (pipe == nullptr)
        return offered;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
        std::string word(buffer);
        while (!word.empty() && (word.back() == '\n' || word.back() == '\r'))
            word.pop_back();
        if (!word.empty())
            offered.insert(word);
    }
    pclose(pipe);
    return offered;
}

TEST(CommandLineDocs, TheCompletionOffersEveryOptionOfEachCommandAndNoOther)
{
    const std::vector<CommandInfo> all = described();
    ASSERT_GT(all.size(), 1u);
    Names commands;
    for (size_t i = 1; i < all.size(); ++i)
        commands.insert(all[i].name);

    // The program's own options where no command is given yet, and the commands.
    EXPECT_EQ(joined(completions({"-"}), {"-h"}), joined(optionNames(all[0]), c_Help)) << "the program's options";
    EXPECT_EQ(completions({""}), joined(commands, joined(completions({"-"}), {}))) << "the commands";
    for (size_t i = 1; i < all.size(); ++i) {
        const CommandInfo &command = all[i];
        EXPECT_EQ(joined(completions({command.name, "-"}), {"-h"}), joined(optionNames(command), c_Help))
            << "the options of " << command.name;
    }
}

TEST(CommandLineDocs, TheCompletionOffersTheValuesOfOptionsThatTakeOnlySome)
{
    const std::vector<CommandInfo> all = described();
    size_t checked = 0;
    for (const CommandInfo &command : all)
        for (const OptionInfo &option : command.options) {
            if (option.choices.empty())
                continue;
            for (const std::string &name : option.names) {
                std::vector<std::string> words;
                if (!command.name.empty())
                    words.push_back(command.name);
                words.push_back(name);
                words.push_back("");
                EXPECT_EQ(completions(words), Names(option.choices.begin(), option.choices.end()))
                    << command.name << " " << name;
                ++checked;
            }
        }
    EXPECT_GE(checked, 2u) << "--tsa and --overwrite take only some values";
}

// ---- the manual page ---------------------------------------------------------------

// The option names a piece of the manual page mentions ("\-\-zstd" is --zstd).
Names mentionedOptions(const std::string &roff)
{
    std::string text;
    for (size_t i = 0; i < roff.size(); ++i) {
        if (roff.compare(i, 2, "\\-") == 0) {
            text += '-';
            ++i;
        } else {
            text += roff[i];
        }
    }
    Names names;
    const auto isWordChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-'; };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '-' || (i > 0 && isWordChar(text[i - 1])))
            continue;
        size_t end = i;
        while (end < text.size() && isWordChar(text[end]))
            ++end;
        const std::string word = text.substr(i, end - i);
        if (word.find_first_not_of('-') != std::string::npos && std::isalpha(static_cast<unsigned char>(word.back())))
            names.insert(word);
        i = end;
    }
    return names;
}

// The manual page in pieces: the text of each section (.SH) by its name,
// and of each command's subsection (.SS) of COMMANDS by the command.
struct ManualPage {
    std::map<std::string, std::string> sections;
    std::map<std::string, std::string> commands;
};

std::string unquoted(std::string text)
{
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    return text;
}

ManualPage readManualPage()
{
    ManualPage page;
    std::istringstream lines(readFile(KXSMS_MANUAL_PAGE));
    std::string line, section, command;
    while (std::getline(lines, line)) {
        if (line.rfind(".SH ", 0) == 0) {
            section = unquoted(line.substr(4));
            command.clear();
            continue;
        }
        if (line.rfind(".SS ", 0) == 0 && section == "COMMANDS") {
            const std::string heading = unquoted(line.substr(4));
            command = heading.substr(0, heading.find(' '));
        }
        (command.empty() ? page.sections[section] : page.commands[command]) += line + "\n";
    }
    return page;
}

TEST(CommandLineDocs, TheManualPageDescribesEveryOptionOfEachCommandAndNoOther)
{
    const std::vector<CommandInfo> all = described();
    const ManualPage page = readManualPage();
    ASSERT_TRUE(page.sections.count("OPTIONS")) << "the program's options have a section of their own";
    EXPECT_EQ(mentionedOptions(page.sections.at("OPTIONS")), joined(optionNames(all[0]), c_Help))
        << "the program's options";
    Names commands;
    for (size_t i = 1; i < all.size(); ++i) {
        const CommandInfo &command = all[i];
        commands.insert(command.name);
        const auto found = page.commands.find(command.name);
        ASSERT_NE(found, page.commands.end()) << command.name << " has no subsection under COMMANDS";
        EXPECT_EQ(mentionedOptions(found->second), optionNames(command)) << "the options of " << command.name;
    }
    for (const auto &[name, text] : page.commands)
        EXPECT_TRUE(commands.count(name)) << "the manual page describes " << name << ", which is no command";
}

// The checks above find what they are meant to find.
TEST(CommandLineDocs, OptionsAreReadFromTheManualPagesMarkup)
{
    EXPECT_EQ(mentionedOptions(".BR \\-f \", \" \\-\\-file \" ARCHIVE\"\nsee 2024\\-03\\-01 and \\-\\-no\\-xattrs;\n"
                               "a read-only \\- here\n"),
              (Names{"-f", "--file", "--no-xattrs"}));
}

} // namespace
