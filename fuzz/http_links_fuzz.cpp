// Stored pages are whatever a server sent: the link extractor must find the same
// links whatever the block size, keep every link within its width, and the
// queue must hold each link once.
#include "tools/http/downloadqueue.h"
#include "tools/http/linkextractor.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace tools::http;

namespace {

std::vector<std::string> links(std::string_view page, std::size_t block) {
    LinkExtractor extractor({"HREF=", "SRC=", "A"});
    std::vector<std::string> found;
    auto take = [&](const std::string& l) {
        if (l.size() > LinkExtractor::kLinkWidth) std::abort();
        found.push_back(resolveLink(l, "127.0.0.1", "docs/"));
    };
    for (std::size_t at = 0; at < page.size(); at += block)
        extractor.feed(page.substr(at, block), take);
    extractor.finish(take);
    return found;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t block = 1 + data[0] % 97;
    const std::string_view page(reinterpret_cast<const char*>(data) + 1, size - 1);
    const auto whole = links(page, page.size() + 1);
    if (page.size() < LinkExtractor::kCarryLimit && links(page, block) != whole) std::abort();
    DownloadQueue queue;
    std::size_t added = 0;
    for (const auto& l : whole)
        added += queue.offer(l, {"ADS"});
    if (queue.size() != added) std::abort();
    while (auto l = queue.take())
        if (l->kind != 1 && l->kind != 5 && l->kind != 9) std::abort();
    return 0;
}
