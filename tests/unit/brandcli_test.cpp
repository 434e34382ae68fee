// brandcli's portable core against the scripted station: exit codes, stderr lines and records of
// one port, several at once, and watch. Output goes through real files, so a full disk is real.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/record.h"
#include "cli/run.h"
#include "tests/unit/scripted_station.h"

namespace {

struct Outcome {
    int code;
    std::string out, err;
};

std::string ReadAll(FILE* file) {
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) {
        text += static_cast<char>(c);
    }
    std::fclose(file);
    return text;
}

// Runs brandcli with `words`; stdout goes to `outPath` when given (/dev/full: a full disk).
Outcome Brandcli(std::vector<const char*> words, const char* outPath = nullptr) {
    words.insert(words.begin(), "brandcli");
    FILE* out = outPath ? std::fopen(outPath, "w") : std::tmpfile();
    FILE* err = std::tmpfile();
    Outcome run;
    run.code = RunBrandcli(static_cast<int>(words.size()), words.data(), out, err, "9.8.7.6");
    run.out = outPath ? (std::fclose(out), "") : ReadAll(out);
    run.err = ReadAll(err);
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// A record with its "ms" value replaced by N.
std::string WithoutMs(std::string record) {
    size_t at = record.find("\"ms\":") + 5;
    size_t digits = record.find_first_not_of("0123456789", at);
    return digits > at ? record.replace(at, digits - at, "N") : record;
}

const char kBrandHex[] = "425256414e4452454c383b0000000000";
const char kNotWritten[] =
    ": the frame was not written whole (the device did not take it within 1 s, or the write "
    "failed)";

class BrandcliCore : public testing::Test {
protected:
    BrandcliCore() { script.Reset(); }
    StationScript& script = StationScript::Current();
};

TEST_F(BrandcliCore, SeveralPortsAreSentToAtOnceAndEachResultIsRecorded) {
    script.sendMs = 300;
    script.outcomes["P7"] = {SendResult::NotWritten, nullptr};
    script.outcomes["P9"] = {SendResult::NotOpened, "could not open the port (in use or missing)"};
    script.listed = {ScriptedPort("P5", "\\Device\\Serial4")};
    Outcome run = Brandcli({"--json", "brand", "P5", "p7", "P9"});
    EXPECT_EQ(run.code, 6);
    EXPECT_EQ(script.mostRunning, 3);  // one after the other would be 1
    std::vector<std::string> err = Lines(run.err);
    std::sort(err.begin(), err.end());
    EXPECT_EQ(err, (std::vector<std::string>{std::string("P7") + kNotWritten,
                                             "P9: could not open the port (in use or missing)"}));
    std::vector<std::string> records = Lines(run.out);
    std::sort(records.begin(), records.end(), [](const std::string& a, const std::string& b) {
        return a.substr(a.find("\"port\"")) < b.substr(b.find("\"port\""));
    });
    ASSERT_EQ(records.size(), 3u);
    const std::string head = "{\"time\":\"2026-12-08T09:15:02.123Z\",\"port\":\"";
    const std::string frame = "\",\"command\":\"brand\",\"frame\":\"" + std::string(kBrandHex);
    EXPECT_EQ(WithoutMs(records[0]), head + "P5" + frame +
                                         "\",\"result\":\"sent\",\"exit\":0,\"ms\":N,"
                                         "\"device\":\"\\\\Device\\\\Serial4\"}");
    EXPECT_EQ(WithoutMs(records[1]),
              head + "P7" + frame + "\",\"result\":\"not-written\",\"exit\":5,\"ms\":N}");
    EXPECT_EQ(WithoutMs(records[2]),
              head + "P9" + frame + "\",\"result\":\"not-opened\",\"exit\":4,\"ms\":N}");
    unsigned long ms = std::stoul(records[0].substr(records[0].find("\"ms\":") + 5));
    EXPECT_TRUE(ms >= 300 && ms < 450) << ms;  // the send's own time, not the run's
}

TEST_F(BrandcliCore, MoreThan64PortsAllRunAtOnce) {
    script.sendMs = 200;
    std::vector<std::string> names;
    for (int i = 1; i <= 70; ++i) {
        names.push_back("P" + std::to_string(i));
    }
    std::vector<const char*> words = {"code"};
    for (const std::string& name : names) {
        words.push_back(name.c_str());
    }
    Outcome run = Brandcli(words);
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(script.sent.size(), 70u);
    EXPECT_EQ(script.mostRunning, 70);
}

TEST_F(BrandcliCore, APortNamedTwiceOrNotAtAllSendsNothing) {
    for (std::vector<const char*> words :
         {std::vector<const char*>{"brand", "P5", "P6", "p5"}, {"brand", "P5", "COM5"}}) {
        Outcome run = Brandcli(words);
        EXPECT_EQ(run.code, 2);
        EXPECT_NE(run.err.find("usage: brandcli PORTS"), std::string::npos) << run.err;
    }
    EXPECT_EQ(Brandcli({"brand", "P5", "p5"}).err,
              "brandcli: \"p5\": port named twice; usage: brandcli PORTS\n");
    EXPECT_TRUE(script.sent.empty());
}

TEST_F(BrandcliCore, OutputThatCannotBeWrittenGives7) {
    script.listed = {ScriptedPort("P3")};
    const char kLost[] =
        "brandcli: the output could not be written (a closed pipe or a full disk?)\n";
    for (std::vector<const char*> words : {std::vector<const char*>{"ports"},
                                           {"--version"},
                                           {"brand", "P3", "--json"},
                                           {"brand", "P3", "P4", "--json"}}) {
        Outcome run = Brandcli(words, "/dev/full");
        EXPECT_EQ(run.code, 7) << words[0];
        EXPECT_EQ(run.err, kLost) << words[0];
    }
    // A failed send says more than the lost output.
    script.outcomes["P3"] = {SendResult::NotWritten, nullptr};
    EXPECT_EQ(Brandcli({"brand", "P3", "--json"}, "/dev/full").code, 5);
    EXPECT_EQ(Brandcli({"brand", "P3", "P4", "--json"}, "/dev/full").code, 6);
}

TEST_F(BrandcliCore, WatchSendsToEachNewPortOnceForEveryAppearance) {
    PortEntry a = ScriptedPort("P1", "\\Device\\Serial0"), b = ScriptedPort("P2", "\\Device\\VCP0"),
              bt = ScriptedPort("P3", "\\Device\\BthModem0");
    script.listed = {a};
    script.watchSteps = {{a, b}, {a}, {a, b, bt}, {a, b, bt}};
    Outcome run = Brandcli({"watch", "code", "--only", "vcp", "--json"});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(script.sent, (std::vector<std::string>{"P2", "P2"}));
    EXPECT_EQ(Lines(run.out).size(), 2u);
    EXPECT_EQ(Lines(run.err).back(), "P2: took the code frame");

    script.Reset();
    script.listed = {a};
    script.watchSteps = {{a, b, bt}, {a}, {a, b}};
    script.outcomes["P3"] = {SendResult::NotOpened, "missing"};
    run = Brandcli({"watch", "brand", "--count", "2"});
    EXPECT_EQ(run.code, 6);  // the second device failed; the third never counted
    std::sort(script.sent.begin(), script.sent.end());
    EXPECT_EQ(script.sent.front(), "P2");
    EXPECT_EQ(script.sent.back(), "P3");
    EXPECT_GT(script.sent.size(), 2u);  // P3 was tried again while it did not open
}

TEST_F(BrandcliCore, AnInterruptDuringAListingStartsNoSendAndNoTryAgain) {
    PortEntry a = ScriptedPort("P1"), b = ScriptedPort("P2"), c = ScriptedPort("P3");
    script.watchSteps = {{a, b, c}};
    script.outcomes["P1"] = {SendResult::NotOpened, "missing"};
    script.interruptAtTask = 1;
    Outcome run = Brandcli({"watch", "brand"});
    EXPECT_EQ(run.code, 6);
    EXPECT_EQ(script.sent, std::vector<std::string>{"P1"});  // once: not for 2 s, not P2 or P3
}

TEST_F(BrandcliCore, PortsThatCannotBeListedGive4) {
    script.listFails = "cannot read it";
    Outcome run = Brandcli({"ports"});
    EXPECT_EQ(run.code, 4);
    EXPECT_EQ(run.out + run.err, "brandcli: could not list the ports (cannot read it)\n");
}

TEST_F(BrandcliCore, FieldFiltersMatchOneFieldExactlyAndOnlyTheyAndRecordsReadIdentity) {
    PortEntry a = ScriptedPort("P1", "\\Device\\VCP0"), b = ScriptedPort("P2"),
              unknown = ScriptedPort("P3", "\\Device\\VCP2");
    struct {
        const char* only;
        std::vector<std::string> sent;
    } filters[] = {{"vid=0403", {"P2"}},   {"pid=803A", {}},  {"pid=8036", {"P1"}},
                   {"serial=SN1", {"P1"}}, {"serial=SN", {}}, {"VCP", {"P1", "P3"}}};
    for (const auto& filter : filters) {
        script.Reset();
        script.identities["P1"] = {{"vid", "2341"}, {"pid", "8036"}, {"serial", "SN1"}};
        script.identities["P2"] = {{"vid", "0403"}, {"pid", "6001"}, {"serial", "sn1"}};
        script.watchSteps = {{a, b, unknown}};
        EXPECT_EQ(Brandcli({"watch", "brand", "--only", filter.only}).code, 0);
        std::sort(script.sent.begin(), script.sent.end());
        EXPECT_EQ(script.sent, filter.sent) << filter.only;
    }
    EXPECT_EQ(Brandcli({"brand", "P1", "P2"}).code + Brandcli({"ports"}).code, 0);
    EXPECT_EQ(script.identified, 0u);  // neither a text filter nor a plain call reads identity
}

TEST(Records, JsonStringsAlwaysParse) {
    EXPECT_EQ(JsonString("/dev/serial/by-id/usb-\"x\"\\y"),
              "\"/dev/serial/by-id/usb-\\\"x\\\"\\\\y\"");
    EXPECT_EQ(JsonString(std::string("a\n\x01\x7f", 4)), "\"a\\u000a\\u0001\\u007f\"");
    EXPECT_EQ(JsonString("\xe4\xb8\xad"), "\"\xe4\xb8\xad\"");  // UTF-8 stays as it is
    EXPECT_EQ(JsonString("\xff\xe4\xb8"), "\"\\u00ff\\u00e4\\u00b8\"");
    EXPECT_EQ(JsonString("\xc0\xaf"), "\"\\u00c0\\u00af\"");  // an overlong "/"
}

}  // namespace
