#include "cli/command_line.h"

#include <cstring>

namespace {

CliRequest Usage(const char* problem, const char* word) {
    CliRequest request;
    request.problem = problem;
    request.word = word;
    return request;
}

bool Is(const char* word, const char* name) {
    return std::strcmp(word, name) == 0;
}

// 1 to 1000000, decimal digits only: a count is a number of devices, never a sign or a hex.
bool ParseCount(const char* text, unsigned long* count) {
    unsigned long value = 0;
    if (!*text || *text == '0') {
        return false;
    }
    for (; *text; ++text) {
        if (*text < '0' || *text > '9' || value > 100000) {
            return false;
        }
        value = value * 10 + static_cast<unsigned long>(*text - '0');
    }
    *count = value;
    return value <= 1000000;
}

// `--only vid=2341`, `pid=8036` or `serial=SN0001`: the field's name, with `value` set to what
// follows the '='; null for a plain text.
const char* FieldFilter(const char* only, const char** value) {
    for (const char* field : {"vid", "pid", "serial"}) {
        size_t length = std::strlen(field);
        if (std::strncmp(only, field, length) == 0 && only[length] == '=') {
            *value = only + length + 1;
            return field;
        }
    }
    return nullptr;
}

bool IsHexId(const char* text) {
    size_t length = std::strspn(text, "0123456789abcdefABCDEF");
    return length == 4 && !text[length];
}

bool ParseFrame(const char* word, CliFrame* frame) {
    if (Is(word, "brand")) {
        *frame = CliFrame::Brand;
    } else if (Is(word, "code")) {
        *frame = CliFrame::Code;
    } else {
        return false;
    }
    return true;
}

}  // namespace

CliRequest ParseCommandLine(int argc, const char* const* argv, bool takesIn) {
    // Options first, wherever they stand; what is left are the command and its words.
    CliRequest request;
    std::vector<const char*> words;
    const char* countWord = nullptr;
    const char* onlyWord = nullptr;
    const char* inWord = nullptr;
    const char* jsonWord = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (Is(word, "--json")) {
            if (jsonWord) {
                return Usage(cli_problem::kTwice, word);
            }
            jsonWord = word;
            request.json = true;
        } else if (Is(word, "--count") || Is(word, "--only") || (takesIn && Is(word, "--in"))) {
            const char** seen = Is(word, "--count")  ? &countWord
                                : Is(word, "--only") ? &onlyWord
                                                     : &inWord;
            if (*seen) {
                return Usage(cli_problem::kTwice, word);
            }
            *seen = word;
            const char* value = i + 1 < argc ? argv[++i] : nullptr;
            if (seen == &countWord) {
                if (!value || !ParseCount(value, &request.count)) {
                    return Usage(cli_problem::kNeedsNumber, word);
                }
            } else if (!value || !*value) {
                return Usage(seen == &inWord ? cli_problem::kNeedsFolder : cli_problem::kNeedsText,
                             word);
            } else if (seen == &inWord) {
                request.in = value;
            } else if (!(request.onlyField = FieldFilter(value, &request.only))) {
                request.only = value;
            } else if (!*request.only) {
                return Usage(cli_problem::kNeedsText, word);
            } else if (std::strcmp(request.onlyField, "serial") != 0 && !IsHexId(request.only)) {
                return Usage(cli_problem::kNeedsHex, word);
            }
        } else if (word[0] == '-' && word[1] == '-' && !Is(word, "--help") &&
                   !Is(word, "--version")) {
            return Usage(cli_problem::kUnknownOption, word);
        } else {
            words.push_back(word);
        }
    }
    if (words.empty()) {
        return Usage(cli_problem::kNoCommand, nullptr);
    }

    const char* name = words[0];
    if (Is(name, "ports") || Is(name, "--help") || Is(name, "--version")) {
        request.command = Is(name, "ports")    ? CliCommand::Ports
                          : Is(name, "--help") ? CliCommand::Help
                                               : CliCommand::Version;
        if (words.size() > 1) {
            return Usage(cli_problem::kUnexpected, words[1]);
        }
    } else if (Is(name, "brand") || Is(name, "code")) {
        request.command = CliCommand::Send;
        ParseFrame(name, &request.frame);
        if (words.size() < 2) {
            return Usage(cli_problem::kNeedsPort, name);
        }
        if (words.size() - 1 > kMaxPorts) {
            return Usage(cli_problem::kTooManyPorts, name);
        }
        request.ports.assign(words.begin() + 1, words.end());
    } else if (Is(name, "watch")) {
        request.command = CliCommand::Watch;
        if (words.size() < 2 || !ParseFrame(words[1], &request.frame)) {
            return Usage(cli_problem::kNeedsFrame, words.size() < 2 ? name : words[1]);
        }
        if (words.size() > 2) {
            return Usage(cli_problem::kUnexpected, words[2]);
        }
    } else {
        return Usage(cli_problem::kUnknownCommand, name);
    }

    // What each command takes: --json all but --help and --version; the rest watch alone.
    bool watch = request.command == CliCommand::Watch;
    bool plain = request.command == CliCommand::Help || request.command == CliCommand::Version;
    const char* refused = plain && jsonWord     ? jsonWord
                          : !watch && countWord ? countWord
                          : !watch && onlyWord  ? onlyWord
                          : !watch && inWord    ? inWord
                                                : nullptr;
    if (refused) {
        return Usage(cli_problem::kNotTaken, refused);
    }
    return request;
}
