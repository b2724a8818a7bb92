// Times two builds of find_n on the same cases in one process: for each case
// (written by dump_cases.py), samples of the old and the new build in turns,
// the best of each kept. Two builds timed in two processes, minutes apart, on
// a shared machine differ by more than most changes to the core do; here a
// burst of load slows both of a case's samples alike.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "qarvo/search.hpp"

namespace qarvo::side {
SearchResult old_find_n(ByteRange haystack, ByteRange needle) noexcept;
SearchResult new_find_n(ByteRange haystack, ByteRange needle) noexcept;
}  // namespace qarvo::side

namespace {

using Search = qarvo::SearchResult (*)(qarvo::ByteRange, qarvo::ByteRange) noexcept;

std::string slurp(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Calls per sample: about a microsecond's worth or more.
int calls_for(std::size_t n) {
    return n > 500000 ? 2 : n > 50000 ? 10 : n > 5000 ? 50 : 200;
}

double best_of_samples(Search search, const std::vector<unsigned char>& haystack,
                       qarvo::ByteRange needle, int calls) {
    auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < calls; ++k) {
        const unsigned char* data = haystack.data();
        asm volatile("" : "+r"(data));  // one search per call, not one per sample
        const qarvo::SearchResult r = search({data, haystack.size()}, needle);
        asm volatile("" : : "r"(r.found()) : "memory");
    }
    const std::chrono::duration<double, std::nano> elapsed =
        std::chrono::steady_clock::now() - start;
    return elapsed.count() / calls;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CASE-DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    std::ifstream index(dir + "/index.txt");
    std::string id, name, m, expected;
    std::map<std::size_t, std::vector<double>> log_ratios;
    while (index >> id >> name >> m >> expected) {
        const std::string h = slurp(dir + "/" + id + ".h");
        const std::string x = slurp(dir + "/" + id + ".n");
        const std::vector<unsigned char> haystack(h.begin(), h.end());
        const qarvo::ByteRange needle{reinterpret_cast<const unsigned char*>(x.data()), x.size()};
        const qarvo::ByteRange whole{haystack.data(), haystack.size()};
        const qarvo::SearchResult a = qarvo::side::old_find_n(whole, needle);
        const qarvo::SearchResult b = qarvo::side::new_find_n(whole, needle);
        if (a.found() != b.found() || (a.found() && a.offset() != b.offset())) {
            std::printf("%s: the two builds disagree\n", id.c_str());
            return 1;
        }
        const int calls = calls_for(haystack.size());
        double best_old = 1e300;
        double best_new = 1e300;
        for (int sample = 0; sample < 150; ++sample) {
            best_old = std::min(best_old,
                                best_of_samples(qarvo::side::old_find_n, haystack, needle, calls));
            best_new = std::min(best_new,
                                best_of_samples(qarvo::side::new_find_n, haystack, needle, calls));
        }
        std::printf("%-5s %9zu %-18s m=%-4s old %10.1f ns  new %10.1f ns  new/old %.2f\n",
                    id.c_str(), haystack.size(), name.c_str(), m.c_str(), best_old, best_new,
                    best_new / best_old);
        log_ratios[haystack.size()].push_back(std::log(best_new / best_old));
    }
    std::vector<double> all;
    for (const auto& [size, logs] : log_ratios) {
        double sum = 0;
        double worst = logs.front();
        for (const double v : logs) {
            sum += v;
            worst = std::max(worst, v);
            all.push_back(v);
        }
        std::printf("%zu bytes: geometric mean new/old %.3f, highest %.2f (%zu cases)\n", size,
                    std::exp(sum / static_cast<double>(logs.size())), std::exp(worst), logs.size());
    }
    double sum = 0;
    for (const double v : all) {
        sum += v;
    }
    std::printf("all: geometric mean new/old %.3f (%zu cases)\n",
                std::exp(sum / static_cast<double>(all.size())), all.size());
}
