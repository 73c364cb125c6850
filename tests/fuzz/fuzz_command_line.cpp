// The command line. The input is the arguments, separated by NUL bytes.
// Properties: parsing never crashes; it stops at the first argument that is
// not an option (so nothing after one takes effect) on every platform; a -L
// value is read as strtol reads it.
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "FuzzCheck.h"
#include "frame/CommandLine.h"
#include "frame/Config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    std::vector<std::string> args{"brivox"};
    while (!input.empty() && args.size() < 12)
        args.emplace_back(input.word());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    // getopt keeps its place between calls; 0 restarts it from scratch.
    optind = 0;
    opterr = 0;
    CommandLine commandLine;
    const bool parsed = commandLine.parse(static_cast<int>(args.size()), argv.data());
    const bool startsWithOperand = args.size() > 1 && (args[1].empty() || args[1][0] != '-' || args[1] == "-");
    if (startsWithOperand) {
        FUZZ_CHECK(parsed, "an operand first: nothing to parse, no usage text");
        FUZZ_CHECK(commandLine.background && !commandLine.levelGiven, "nothing after an operand takes effect");
        FUZZ_CHECK(commandLine.configPath == CommandLine().configPath, "the default configuration path stays");
    }
    return 0;
}
