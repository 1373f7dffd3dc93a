// Native throughput of the PGN reader and of SAN both ways, on a PGN file
// (bench/make_pgn_bench.py writes the standard one):
//
//   pgn_native FILE [--rounds N] [--chunk BYTES]
//
// prints, best of the rounds,
//   pgn comments=0|1 games=G plies=P errors=E seconds=S plies_per_second=X
// for reading without and with comments (the file in memory, fed in chunks),
// then, over the positions before every mainline move (at most 200,000),
//   san generate_ns=... write_ns=... write_listed_ns=... parse_ns=...
// the time per position of the legal move list, per move of write_san
// without and with the list given, and per move of parse_san of the SAN.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "move_generator.h"
#include "pgn.h"
#include "san.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Totals {
    std::size_t games = 0, plies = 0, errors = 0;
};

Totals read_all(const mirelo::MoveGenerator& generator, const std::string& text, std::size_t chunk, bool comments,
                std::vector<std::pair<mirelo::Position, mirelo::ChessMove>>* sample) {
    mirelo::PgnReader reader(generator, {.comments = comments});
    mirelo::PgnGame game;
    Totals totals;
    const auto count = [&] {
        ++totals.games;
        totals.plies += game.moves.size();
        totals.errors += !game.error.empty();
        if (!sample) return;
        mirelo::Position position = game.start;
        for (const mirelo::ChessMove move : game.moves) {
            if (sample->size() < 200'000) sample->emplace_back(position, move);
            position = position.after(move, mirelo::move_roles(position.pieces, position.occupancy(), move));
        }
    };
    for (std::size_t pos = 0; pos < text.size(); pos += chunk) {
        reader.feed(text.data() + pos, std::min(chunk, text.size() - pos));
        while (reader.next(game)) count();
    }
    reader.finish();
    while (reader.next(game)) count();
    return totals;
}

// Runs body over the sample rounds times; the best time per item, in ns.
template <typename Body>
double best_ns(int rounds, std::size_t items, Body body) {
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        body();
        best = std::min(best, seconds_since(start));
    }
    return best * 1e9 / static_cast<double>(items);
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = nullptr;
    int rounds = 5;
    std::size_t chunk = 1 << 20;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--chunk" && i + 1 < argc)
            chunk = std::max<std::size_t>(1, std::strtoull(argv[++i], nullptr, 10));
        else
            path = argv[i];
    }
    if (!path) {
        std::fprintf(stderr, "usage: %s FILE [--rounds N] [--chunk BYTES]\n", argv[0]);
        return 2;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    const std::string text = contents.str();
    if (!in || text.empty()) {
        std::fprintf(stderr, "cannot read %s\n", path);
        return 2;
    }

    const mirelo::MoveGenerator generator;
    std::vector<std::pair<mirelo::Position, mirelo::ChessMove>> sample;
    read_all(generator, text, chunk, false, &sample);
    for (const bool comments : {false, true}) {
        Totals totals;
        double best = 1e300;
        for (int r = 0; r < rounds; ++r) {
            const auto start = Clock::now();
            totals = read_all(generator, text, chunk, comments, nullptr);
            best = std::min(best, seconds_since(start));
        }
        std::printf("pgn comments=%d games=%zu plies=%zu errors=%zu seconds=%.6f plies_per_second=%.0f\n",
                    comments ? 1 : 0, totals.games, totals.plies, totals.errors, best,
                    static_cast<double>(totals.plies) / best);
        std::fflush(stdout);
    }

    // SAN of every sampled move, written once ahead for the parse timing.
    std::vector<std::string> sans;
    for (const auto& [position, move] : sample) {
        char out[mirelo::SAN_CAPACITY];
        sans.emplace_back(out, mirelo::write_san(generator, position, move, out));
    }
    std::size_t sink = 0;
    const double generate = best_ns(rounds, sample.size(), [&] {
        for (const auto& item : sample) {
            mirelo::MoveList legal;
            generator.moves(item.first, legal);
            sink += legal.size;
        }
    });
    const double write = best_ns(rounds, sample.size(), [&] {
        for (const auto& [position, move] : sample) {
            char out[mirelo::SAN_CAPACITY];
            sink += mirelo::write_san(generator, position, move, out);
        }
    });
    const double write_listed = best_ns(rounds, sample.size(), [&] {
        for (const auto& [position, move] : sample) {
            mirelo::MoveList legal;
            generator.moves(position, legal);
            char out[mirelo::SAN_CAPACITY];
            sink += mirelo::write_san(generator, position, legal, move, out);
        }
    });
    std::size_t wrong = 0;
    const double parse = best_ns(rounds, sample.size(), [&] {
        for (std::size_t i = 0; i < sample.size(); ++i) {
            const auto move = mirelo::parse_san(generator, sample[i].first, sans[i]);
            wrong += !move || *move != sample[i].second;
        }
    });
    std::printf("san moves=%zu generate_ns=%.1f write_ns=%.1f write_listed_ns=%.1f parse_ns=%.1f wrong=%zu (%zu)\n",
                sample.size(), generate, write, write_listed - generate, parse, wrong, sink % 10);
    return wrong ? 1 : 0;
}
