// Every input the open fuzz target ever crashed on (kept in fuzz/regressions/
// by fuzz/run.sh) goes the same way again: open, list, extract. The test
// passes when each ends without a crash or sanitizer report, whatever the
// archiver reports about the bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/OpenListExtract.h"
#include "tests/common/TestSupport.h"

TEST(OpeningFuzzRegressions, EveryKeptInputOpensListsAndExtracts) {
    const std::filesystem::path folder = std::filesystem::path(QVT_SOURCE_DIR) / "fuzz" / "regressions";
    std::vector<std::filesystem::path> inputs;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        if (e.is_regular_file() && e.path().filename().string()[0] != '.')
            inputs.push_back(e.path());
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty())
        GTEST_SKIP() << "no kept fuzz inputs";
    TempFolder tmp;
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.filename().string());
        const std::string bytes = ReadFile(input.string());
        fuzzopen::RunOne(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), tmp.Path());
        EXPECT_FALSE(std::filesystem::exists(tmp.File("out")));
    }
}
