// brandcli's command line: what a script may write, and the usage errors (exit 2) for the rest.
#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

CliRequest Parse(std::vector<const char*> words) {
    words.insert(words.begin(), "brandcli");
    return ParseCommandLine(static_cast<int>(words.size()), words.data());
}

TEST(CommandLine, PortNames) {
    EXPECT_EQ(ParsePortName("COM1"), 1);
    EXPECT_EQ(ParsePortName("com5"), 5);
    EXPECT_EQ(ParsePortName("cOm12"), 12);
    EXPECT_EQ(ParsePortName("COM100"), 100);
    EXPECT_EQ(ParsePortName("COM255"), 255);
    for (const char* bad :
         {"COM05", "COM0", "COM00", "COM256", "COM999", "COM1000", "\\\\.\\COM5", "5", "COM",
          "COM+5", "COM-5", " COM5", "COM5 ", "COM5:", "COMX", "LPT1", "COMM5", ""}) {
        EXPECT_EQ(ParsePortName(bad), std::nullopt) << bad;
    }
}

TEST(CommandLine, CommandsTakeExactlyTheirArguments) {
    EXPECT_EQ(Parse({"ports"}).command, CliCommand::Ports);
    EXPECT_EQ(Parse({"--help"}).command, CliCommand::Help);
    EXPECT_EQ(Parse({"--version"}).command, CliCommand::Version);
    CliRequest brand = Parse({"brand", "com7"});
    EXPECT_EQ(brand.command, CliCommand::Brand);
    EXPECT_EQ(brand.port, 7);
    CliRequest code = Parse({"code", "COM123"});
    EXPECT_EQ(code.command, CliCommand::Code);
    EXPECT_EQ(code.port, 123);

    // Each usage error names the word at fault, so the one line on stderr says what to fix.
    struct {
        std::vector<const char*> words;
        const char* word;
    } bad[] = {
        {{}, nullptr},
        {{"Brand", "COM5"}, "Brand"},
        {{"send", "COM5"}, "send"},
        {{"brand"}, "brand"},
        {{"code", "COM05"}, "COM05"},
        {{"brand", "5"}, "5"},
        {{"ports", "COM5"}, "COM5"},
        {{"brand", "COM5", "COM6"}, "COM6"},
        {{"--help", "x"}, "x"},
        {{"/?"}, "/?"},
    };
    for (const auto& c : bad) {
        CliRequest request = Parse(c.words);
        EXPECT_EQ(request.command, CliCommand::Usage);
        EXPECT_NE(request.problem, nullptr);
        EXPECT_STREQ(request.word, c.word);
    }
}

}  // namespace
