// The test positions of tests/positions.txt, shared with the Python
// suite and the benchmarks: name, FEN, published perft counts and, for some,
// the legal moves in generation order.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace mirelo::testing {

struct Position {
    std::string name;
    std::string fen;
    std::vector<std::uint64_t> perft;  // counts from depth 1; empty when none are given
    bool lists_moves = false;
    std::vector<std::string> moves;    // the legal moves in generation order, when listed
};

inline std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

inline std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

inline std::vector<Position> read_positions(const std::string& path = MIRELO_POSITIONS_FILE) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<Position> positions;
    for (std::string line; std::getline(in, line);) {
        if (trimmed(line).empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        for (std::size_t start = 0;;) {
            const std::size_t bar = line.find(" | ", start);
            fields.push_back(trimmed(line.substr(start, bar - start)));
            if (bar == std::string::npos) break;
            start = bar + 3;
        }
        if (fields.size() != 4) throw std::runtime_error(path + ": not four fields: " + line);
        Position p{fields[0], fields[1], {}, fields[3] != "-", {}};
        if (fields[2] != "-")
            for (const std::string& count : words(fields[2])) p.perft.push_back(std::stoull(count));
        if (p.lists_moves && fields[3] != "none") p.moves = words(fields[3]);
        positions.push_back(std::move(p));
    }
    return positions;
}

}  // namespace mirelo::testing
