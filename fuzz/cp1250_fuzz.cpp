// The Windows-1250 case rules decide which section, key and file names are the
// same: for any bytes they keep the length, agree with each other and are symmetric.
#include "platform/cp1250.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string a = in.ConsumeRandomLengthString(256);
    const std::string b = in.ConsumeRemainingBytesAsString();
    const std::string lower = cp1250::toLower(a);
    const std::string upper = cp1250::toUpper(a);
    if (lower.size() != a.size() || upper.size() != a.size()) std::abort();
    if (!cp1250::equalNoCase(a, lower) || !cp1250::equalNoCase(a, upper)) std::abort();
    if (cp1250::equalNoCase(a, b) != cp1250::equalNoCase(b, a)) std::abort();
    if (cp1250::equalNoCase(a, b) !=
        (cp1250::toLower(upper) == cp1250::toLower(cp1250::toUpper(b))))
        std::abort();
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (cp1250::lower(a[i]) != lower[i] || cp1250::upper(a[i]) != upper[i]) std::abort();
        (void)cp1250::toUnicode(a[i]);
    }
    if (cp1250::fromUtf8(cp1250::toUtf8(a)) != a) std::abort();
    (void)cp1250::fromUtf8(b); // any bytes as UTF-8, malformed ones included
    return 0;
}
