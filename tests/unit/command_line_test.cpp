// brandcli's command line: what a script may write, and the usage errors (exit 2) for the rest.
#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

CliRequest Parse(std::vector<const char*> words, bool takesIn = false) {
    words.insert(words.begin(), "brandcli");
    return ParseCommandLine(static_cast<int>(words.size()), words.data(), takesIn);
}

TEST(CommandLine, CommandsAndOptionsInAnyOrder) {
    EXPECT_EQ(Parse({"ports"}).command, CliCommand::Ports);
    EXPECT_TRUE(Parse({"--json", "ports"}).json);
    EXPECT_EQ(Parse({"--help"}).command, CliCommand::Help);
    EXPECT_EQ(Parse({"--version"}).command, CliCommand::Version);

    CliRequest send = Parse({"code", "COM7", "--json", "com9"});
    EXPECT_EQ(send.command, CliCommand::Send);
    EXPECT_EQ(send.frame, CliFrame::Code);
    EXPECT_TRUE(send.json);
    EXPECT_EQ(send.ports, (std::vector<const char*>{"COM7", "com9"}));

    CliRequest watch = Parse({"--count", "3", "watch", "--only", "VCP", "brand"});
    EXPECT_EQ(watch.command, CliCommand::Watch);
    EXPECT_EQ(watch.frame, CliFrame::Brand);
    EXPECT_EQ(watch.count, 3u);
    EXPECT_STREQ(watch.only, "VCP");
    EXPECT_EQ(watch.onlyField, nullptr);
    CliRequest filtered = Parse({"watch", "brand", "--only", "pid=00aF"});
    EXPECT_STREQ(filtered.onlyField, "pid");
    EXPECT_STREQ(filtered.only, "00aF");
    EXPECT_STREQ(Parse({"watch", "code", "--in", "/dev/serial/by-id"}, true).in,
                 "/dev/serial/by-id");

    std::vector<const char*> many(255, "COM1");
    many.insert(many.begin(), "brand");
    EXPECT_EQ(Parse(many).command, CliCommand::Send);
    many.push_back("COM2");
    EXPECT_STREQ(Parse(many).problem, cli_problem::kTooManyPorts);
}

TEST(CommandLine, EachUsageErrorNamesItsProblemAndWord) {
    using namespace cli_problem;
    struct {
        std::vector<const char*> words;
        const char* problem;
        const char* word;
    } bad[] = {
        {{}, kNoCommand, nullptr},
        {{"--json"}, kNoCommand, nullptr},
        {{"Brand", "COM5"}, kUnknownCommand, "Brand"},
        {{"/?"}, kUnknownCommand, "/?"},
        {{"brand"}, kNeedsPort, "brand"},
        {{"ports", "COM5"}, kUnexpected, "COM5"},
        {{"--help", "x"}, kUnexpected, "x"},
        {{"brand", "COM5", "--jsn"}, kUnknownOption, "--jsn"},
        {{"watch", "code", "--in", "/dev"}, kUnknownOption, "--in"},  // Windows has no --in
        {{"watch"}, kNeedsFrame, "watch"},
        {{"watch", "send"}, kNeedsFrame, "send"},
        {{"watch", "code", "COM5"}, kUnexpected, "COM5"},
        {{"brand", "COM5", "--count", "2"}, kNotTaken, "--count"},
        {{"ports", "--only", "VCP"}, kNotTaken, "--only"},
        {{"--version", "--json"}, kNotTaken, "--json"},
        {{"watch", "code", "--json", "--json"}, kTwice, "--json"},
        {{"watch", "code", "--count", "1", "--count", "2"}, kTwice, "--count"},
        {{"watch", "code", "--count"}, kNeedsNumber, "--count"},
        {{"watch", "code", "--count", "0"}, kNeedsNumber, "--count"},
        {{"watch", "code", "--count", "-1"}, kNeedsNumber, "--count"},
        {{"watch", "code", "--count", "1000001"}, kNeedsNumber, "--count"},
        {{"watch", "code", "--only"}, kNeedsText, "--only"},
        {{"watch", "code", "--only", ""}, kNeedsText, "--only"},
        {{"watch", "code", "--only", "serial="}, kNeedsText, "--only"},
        {{"watch", "code", "--only", "vid=0x2341"}, kNeedsHex, "--only"},
    };
    for (const auto& c : bad) {
        CliRequest request = Parse(c.words);
        EXPECT_EQ(request.command, CliCommand::Usage) << c.problem;
        EXPECT_STREQ(request.problem, c.problem) << (c.word ? c.word : "");
        EXPECT_STREQ(request.word, c.word) << c.problem;
    }
    EXPECT_STREQ(Parse({"watch", "code", "--in"}, true).problem, kNeedsFolder);
}

}  // namespace
