// Link extraction throughput: the raw HTTP client's parser reading a stored page
// block by block, as it does after each fetch, against `grep -oiE` with the same
// tags on the same file.
#include "tools/http/downloadqueue.h"
#include "tools/http/linkextractor.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// An HTML page of `size` bytes: paragraphs of text with links and pictures in
// the usual mix, quoted and unquoted, upper and lower case.
std::string page(std::size_t size) {
    std::mt19937 random(7);
    const char* words[] = {"network",     "the",       "socket", "of",  "packet",
                           "a",           "Windows",   "server", "and", "client",
                           "<b>bold</b>", "<i>it</i>", "table",  "port"};
    std::string out = "<html><head><title>bench</title></head><body>\n";
    while (out.size() < size) {
        out += "<p>";
        for (int w = 0; w < 30; ++w) {
            out += words[random() % 14];
            out += ' ';
        }
        switch (random() % 4) {
        case 0:
            out += "<a href=\"docs/page" + std::to_string(random() % 5000) + ".htm\">more</a>";
            break;
        case 1:
            out += "<IMG SRC=\"img/pic" + std::to_string(random() % 900) + ".gif\" alt=\"x\">";
            break;
        case 2:
            out += "<a class=\"x\" href=../up" + std::to_string(random() % 300) + ".html>up</a>";
            break;
        default:
            out += "<a href=\"http://www.example.org/x" + std::to_string(random() % 50) + ".jpg\">";
            break;
        }
        out += "</p>\n";
    }
    return out;
}

double seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Our parser over the file, 10,240 bytes a read; the links found.
long ours(const std::string& file) {
    tools::http::LinkExtractor extractor({"HREF=", "SRC="});
    long links = 0;
    std::string last;
    auto found = [&](const std::string& l) {
        ++links;
        last = tools::http::resolveLink(l, "127.0.0.1", "docs/");
    };
    const int fd = ::open(file.c_str(), O_RDONLY);
    char buffer[10240];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        extractor.feed(std::string_view(buffer, static_cast<std::size_t>(n)), found);
    extractor.finish(found);
    ::close(fd);
    return links;
}

// grep writing every link to a file (not to /dev/null: grep sees that and stops
// at the first match); the number of links it found, -1 when it failed.
long grep(const std::string& file, const std::string& out) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int sink = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(sink, 1);
        // Bytes, as the page is Windows-1250 and we read it so: the fair (and
        // fastest) grep, not a multibyte locale's.
        ::setenv("LC_ALL", "C", 1);
        ::execlp("grep", "grep", "-oiE", "(href=|src=)[^> ]*", file.c_str(), nullptr);
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    std::ifstream in(out);
    long lines = 0;
    for (std::string line; std::getline(in, line);)
        ++lines;
    return lines;
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 50;
    const std::string file = (std::filesystem::temp_directory_path() /
                              ("linkextract-bench-" + std::to_string(::getpid()) + ".htm"))
                                 .string();
    std::ofstream(file, std::ios::binary) << page(megabytes << 20);
    const std::string grepOut = file + ".grep";
    double best = 1e9, bestGrep = 1e9;
    long links = 0, grepLinks = 0;
    // Alternate the two and keep each one's best run; the file stays cached.
    for (int round = 0; round < 3; ++round) {
        auto start = std::chrono::steady_clock::now();
        links = ours(file);
        best = std::min(best, seconds(start));
        start = std::chrono::steady_clock::now();
        grepLinks = grep(file, grepOut);
        const double took = seconds(start);
        if (grepLinks < 0) {
            std::printf("grep failed\n");
            return 1;
        }
        bestGrep = std::min(bestGrep, took);
    }
    std::filesystem::remove(file);
    std::filesystem::remove(grepOut);
    const double mb = static_cast<double>(megabytes);
    std::printf("linkextract: %zu MB page, tags HREF= SRC=; links found: ours %ld, grep %ld\n",
                megabytes, links, grepLinks);
    std::printf("  LinkExtractor (10,240-byte blocks): %.1f MB/s\n", mb / best);
    std::printf("  grep -oiE:                          %.1f MB/s\n", mb / bestGrep);
    std::printf("  ratio %.2f (goal: at least 1.0)\n", bestGrep / best);
    return 0;
}
