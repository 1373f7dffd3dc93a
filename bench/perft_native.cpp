// Native perft of the C++ core, bulk-counted (the last ply counts the legal
// moves instead of playing them), on six well-known test positions.
//
//   perft_native [NAME...]             default depth of each position
//   perft_native --quick [NAME...]     one ply less
//   perft_native DEPTH [NAME...]       that depth
//   perft_native --seconds S [NAME...] the depth whose time comes closest to
//                                      S seconds without passing 4 S (found by
//                                      running the shallower depths first;
//                                      only the last one is printed)
// NAME limits the run to the named positions (those of tests/positions.txt
// with perft counts: start kiwipete pos3 pos4 pos5 pos6).
//
// One line per position, machine-readable:
//   perft <name> depth=<d> nodes=<n> seconds=<s> nps=<x> expected=<e|?> ok=<1|0>
// The exit status is 1 when a node count differs from the published one, 2 on
// bad arguments or a position the core refuses.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "board.h"
#include "move_generator.h"
#include "positions.h"

namespace {

using mirelo::testing::Position;

// The benchmark positions: those with published perft counts.
const std::vector<Position>& positions() {
    static const std::vector<Position> table = [] {
        std::vector<Position> all = mirelo::testing::read_positions(), with_counts;
        for (Position& p : all)
            if (!p.perft.empty()) with_counts.push_back(std::move(p));
        return with_counts;
    }();
    return table;
}

// The default depth: the deepest with at most this many nodes (a few tenths
// of a second).
constexpr std::uint64_t DEFAULT_NODES = 20'000'000;

int default_depth(const Position& p) {
    int depth = 1;
    for (std::size_t d = 0; d < p.perft.size(); ++d)
        if (p.perft[d] <= DEFAULT_NODES) depth = static_cast<int>(d) + 1;
    return depth;
}

int usage(const char* argv0) {
    std::fprintf(stderr, "usage: %s [--quick | --seconds S | DEPTH] [NAME...]\npositions:", argv0);
    for (const auto& p : positions()) std::fprintf(stderr, " %s", p.name.c_str());
    std::fprintf(stderr, "\n");
    return 2;
}

struct Result {
    int depth;
    std::uint64_t nodes;
    double seconds;
};

Result timed_perft(const mirelo::MoveGenerator& generator, mirelo::Board& board, int depth) {
    const auto t0 = std::chrono::steady_clock::now();
    const std::uint64_t nodes = generator.perft(board, depth);
    const auto t1 = std::chrono::steady_clock::now();
    return {depth, nodes, std::chrono::duration<double>(t1 - t0).count()};
}

bool is_number(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789.") == std::string_view::npos;
}

}  // namespace

int main(int argc, char** argv) {
    int depth = 0;  // 0: the position's default
    int shallower = 0;
    double budget = 0;  // > 0: --seconds mode
    std::vector<std::string_view> names;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--quick") {
            shallower = 1;
        } else if (arg == "--seconds") {
            if (i + 1 >= argc || !is_number(argv[i + 1])) return usage(argv[0]);
            budget = std::atof(argv[++i]);
            if (!(budget > 0)) return usage(argv[0]);
        } else if (arg == "-h" || arg == "--help") {
            usage(argv[0]);
            return 0;
        } else if (depth == 0 && names.empty() && is_number(arg) && arg.find('.') == std::string_view::npos) {
            depth = std::atoi(argv[i]);
            if (depth < 1 || depth > 12) return usage(argv[0]);
        } else {
            bool known = false;
            for (const auto& p : positions()) known = known || arg == p.name;
            if (!known) return usage(argv[0]);
            names.push_back(arg);
        }
    }

    const mirelo::MoveGenerator generator;
    bool all_ok = true;
    for (const auto& p : positions()) {
        if (!names.empty()) {
            bool wanted = false;
            for (auto n : names) wanted = wanted || n == p.name;
            if (!wanted) continue;
        }
        auto parsed = mirelo::Board::from_fen(p.fen);
        if (!parsed) {
            std::fprintf(stderr, "%s: the core refused the FEN: %s\n", p.name.c_str(), parsed.error().c_str());
            return 2;
        }
        mirelo::Board board = std::move(*parsed);

        Result r{};
        if (budget > 0) {
            // Deepen while the next depth, its time predicted from this one and
            // the published counts, lands closer to the wanted time (on a log
            // scale) and within four times it.
            const int deepest = static_cast<int>(p.perft.size());
            for (int d = 1;; ++d) {
                r = timed_perft(generator, board, d);
                if (d >= deepest) break;
                const double growth = static_cast<double>(p.perft[static_cast<std::size_t>(d)]) /
                                      static_cast<double>(p.perft[static_cast<std::size_t>(d) - 1]);
                const double now = r.seconds > 1e-9 ? r.seconds : 1e-9;
                const double next = now * growth;
                if (next > 4 * budget || std::fabs(std::log(next / budget)) >= std::fabs(std::log(now / budget)))
                    break;
            }
        } else {
            const int d = depth > 0 ? depth : std::max(default_depth(p) - shallower, 1);
            r = timed_perft(generator, board, d);
        }
        const double nps = r.seconds > 0 ? static_cast<double>(r.nodes) / r.seconds : 0.0;

        char expected[32] = "?";
        bool ok = true;
        if (static_cast<std::size_t>(r.depth) <= p.perft.size()) {
            const std::uint64_t want = p.perft[static_cast<std::size_t>(r.depth) - 1];
            std::snprintf(expected, sizeof expected, "%llu", static_cast<unsigned long long>(want));
            ok = r.nodes == want;
        }
        all_ok = all_ok && ok;
        std::printf("perft %s depth=%d nodes=%llu seconds=%.6f nps=%.0f expected=%s ok=%d\n", p.name.c_str(), r.depth,
                    static_cast<unsigned long long>(r.nodes), r.seconds, nps, expected, ok ? 1 : 0);
        std::fflush(stdout);
    }
    return all_ok ? 0 : 1;
}
