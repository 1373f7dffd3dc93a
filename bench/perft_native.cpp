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
// NAME limits the run to the named positions (start kiwipete pos3 pos4 pos5 pos6).
//
// One line per position, machine-readable:
//   perft <name> depth=<d> nodes=<n> seconds=<s> nps=<x> expected=<e|?> ok=<1|0>
// The exit status is 1 when a node count differs from the published one, 2 on
// bad arguments or a position the core refuses.
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

namespace {

struct Position {
    const char* name;
    const char* fen;
    int default_depth;
    std::vector<std::uint64_t> counts;  // published counts for depth 1, 2, ...
};

const std::vector<Position>& positions() {
    static const std::vector<Position> table = {
        {"start", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", 5,
         {20, 400, 8902, 197281, 4865609, 119060324, 3195901860}},
        {"kiwipete", "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -", 4,
         {48, 2039, 97862, 4085603, 193690690, 8031647685}},
        {"pos3", "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -", 6,
         {14, 191, 2812, 43238, 674624, 11030083, 178633661, 3009794393}},
        {"pos4", "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq -", 5,
         {6, 264, 9467, 422333, 15833292, 706045033}},
        {"pos5", "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ -", 4,
         {44, 1486, 62379, 2103487, 89941194, 3048196529}},
        {"pos6", "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - -", 4,
         {46, 2079, 89890, 3894594, 164075551, 6923051137}},
    };
    return table;
}

int usage(const char* argv0) {
    std::fprintf(stderr, "usage: %s [--quick | --seconds S | DEPTH] [NAME...]\npositions:", argv0);
    for (const auto& p : positions()) std::fprintf(stderr, " %s", p.name);
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
            std::fprintf(stderr, "%s: the core refused the FEN: %s\n", p.name, parsed.error().c_str());
            return 2;
        }
        mirelo::Board board = std::move(*parsed);

        Result r{};
        if (budget > 0) {
            // Deepen while the next depth, its time predicted from this one and
            // the published counts, lands closer to the wanted time (on a log
            // scale) and within four times it.
            const int deepest = static_cast<int>(p.counts.size());
            for (int d = 1;; ++d) {
                r = timed_perft(generator, board, d);
                if (d >= deepest) break;
                const double growth = static_cast<double>(p.counts[static_cast<std::size_t>(d)]) /
                                      static_cast<double>(p.counts[static_cast<std::size_t>(d) - 1]);
                const double now = r.seconds > 1e-9 ? r.seconds : 1e-9;
                const double next = now * growth;
                if (next > 4 * budget || std::fabs(std::log(next / budget)) >= std::fabs(std::log(now / budget)))
                    break;
            }
        } else {
            const int d = depth > 0 ? depth : (p.default_depth - shallower > 0 ? p.default_depth - shallower : 1);
            r = timed_perft(generator, board, d);
        }
        const double nps = r.seconds > 0 ? static_cast<double>(r.nodes) / r.seconds : 0.0;

        char expected[32] = "?";
        bool ok = true;
        if (static_cast<std::size_t>(r.depth) <= p.counts.size()) {
            const std::uint64_t want = p.counts[static_cast<std::size_t>(r.depth) - 1];
            std::snprintf(expected, sizeof expected, "%llu", static_cast<unsigned long long>(want));
            ok = r.nodes == want;
        }
        all_ok = all_ok && ok;
        std::printf("perft %s depth=%d nodes=%llu seconds=%.6f nps=%.0f expected=%s ok=%d\n", p.name, r.depth,
                    static_cast<unsigned long long>(r.nodes), r.seconds, nps, expected, ok ? 1 : 0);
        std::fflush(stdout);
    }
    return all_ok ? 0 : 1;
}
