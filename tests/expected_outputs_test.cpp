// End to end: every public 24-bit image under seven option sets must give, byte for byte, the
// reference output file, side file and match report.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/encoder_command.hpp"
#include "test_support.hpp"

namespace quenpix {
namespace {

struct ExpectedRun {
    std::string input;
    std::vector<std::string> options;
    std::string outputFile;
    std::string sideFile;
    std::string report;
};

std::vector<ExpectedRun> LoadExpectedRuns() {
    std::ifstream in(testing::DataPath("expected/reports.tsv"));
    std::vector<ExpectedRun> runs;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::stringstream fieldStream(line);
        std::string field;
        while (std::getline(fieldStream, field, '\t'))
            fields.push_back(field);
        if (fields.size() != 5) continue;
        ExpectedRun run{fields[0], {}, fields[2], fields[3], fields[4]};
        std::stringstream optionStream(fields[1]);
        std::string option;
        while (optionStream >> option)
            run.options.push_back(option);
        runs.push_back(run);
    }
    return runs;
}

std::string LastLine(const std::string& text) {
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == '\n')
        trimmed.pop_back();
    return trimmed.substr(trimmed.rfind('\n') + 1);
}

// Offset of the first differing byte, or -1.
long FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return static_cast<long>(i);
    }
    return a.size() == b.size() ? -1 : static_cast<long>(n);
}

class ExpectedOutputs : public ::testing::TestWithParam<ExpectedRun> {};

TEST_P(ExpectedOutputs, OutputSideFileAndReportMatchTheReference) {
    const ExpectedRun& run = GetParam();
    const std::string dir = testing::MakeTempDir("expected");
    const std::string output = dir + "/" + run.outputFile;
    const std::string input = testing::DataPath("public/" + run.input);
    std::vector<const char*> argv = {"quenpix"};
    for (const auto& option : run.options)
        argv.push_back(option.c_str());
    argv.push_back(input.c_str());
    argv.push_back(output.c_str());
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(RunEncoderCommand(static_cast<int>(argv.size()), argv.data(), out, err), 0)
        << err.str();
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(LastLine(out.str()), run.report);

    const auto expectedOutput =
        testing::ReadFileBytes(testing::DataPath("expected/" + run.outputFile));
    const auto actualOutput = testing::ReadFileBytes(output);
    EXPECT_EQ(FirstDifference(actualOutput, expectedOutput), -1)
        << run.outputFile << ": " << actualOutput.size() << " bytes written, "
        << expectedOutput.size() << " expected";
    const auto expectedSide = testing::ReadFileBytes(testing::DataPath("expected/" + run.sideFile));
    const auto actualSide = testing::ReadFileBytes(dir + "/" + run.sideFile);
    EXPECT_EQ(FirstDifference(actualSide, expectedSide), -1)
        << run.sideFile << ": " << actualSide.size() << " bytes written, " << expectedSide.size()
        << " expected";
}

INSTANTIATE_TEST_SUITE_P(PublicCorpus, ExpectedOutputs, ::testing::ValuesIn(LoadExpectedRuns()),
                         [](const ::testing::TestParamInfo<ExpectedRun>& info) {
                             std::string name = info.param.outputFile;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace quenpix
