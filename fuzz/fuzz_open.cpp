// libFuzzer target: arbitrary bytes opened as an archive, listed and
// extracted (see OpenListExtract.h for the input layout).
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>  // mkdtemp

#include "fuzz/OpenListExtract.h"
#include "platform/System.h"

namespace {

std::string MakeWorkFolder() {
    std::string templ = platform::SystemTempDir() + "qvt-fuzz-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        std::abort();
    return std::string(buf.data()) + "/";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string work = MakeWorkFolder();
    static const bool cleanup = [] {
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(work, ec);
        });
        return true;
    }();
    (void)cleanup;
    // QVT_FUZZ_NO_EXTRACT=1 leaves extraction out: many more inputs a second
    // for the directory reader alone.
    static const bool extract = std::getenv("QVT_FUZZ_NO_EXTRACT") == nullptr;
    fuzzopen::RunOne(data, size, work, extract);
    return 0;
}
