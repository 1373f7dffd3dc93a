// A window on the core's SAN and PGN reading for differential tests against
// python-chess (bench/pgn_compare.py drives it):
//
//   pgn_probe games [--comments] [--chunk N] FILE   one JSON line per game
//   pgn_probe san FILE      per FEN line: "uci:san" for every legal move
//   pgn_probe parse FILE    per "FEN<TAB>text" line: the move, or "error <kind>"
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "move_generator.h"
#include "pgn.h"
#include "san.h"

namespace {

std::string json(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path);
        std::exit(2);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void print_game(const mirelo::PgnGame& game, bool comments) {
    std::string line = "{\"index\":" + std::to_string(game.index) + ",\"headers\":[";
    for (std::size_t i = 0; i < game.tags.size(); ++i)
        line += (i ? ",[" : "[") + json(game.view(game.tags[i].name)) + "," + json(game.view(game.tags[i].value)) + "]";
    line += "],\"fen\":" + json(game.start.to_fen()) + ",\"moves\":[";
    for (std::size_t i = 0; i < game.moves.size(); ++i) {
        line += i ? ",\"" : "\"";
        line += game.moves[i].to_string();
        line += '"';
    }
    line += "],\"comments\":";
    if (comments) {
        line += "[";
        for (std::size_t i = 0; i < game.comments.size(); ++i) {
            if (i) line += ',';
            line += json(game.view(game.comments[i]));
        }
        line += "]";
    } else {
        line += "null";
    }
    line += ",\"result\":" + json(game.result) + ",\"error\":" + (game.error.empty() ? "null" : json(game.error)) + "}\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
}

int games(int argc, char** argv, const mirelo::MoveGenerator& generator) {
    bool comments = false;
    std::size_t chunk = 1 << 16;
    const char* path = nullptr;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--comments")
            comments = true;
        else if (arg == "--chunk" && i + 1 < argc)
            chunk = std::strtoull(argv[++i], nullptr, 10);
        else
            path = argv[i];
    }
    if (!path || chunk == 0) return 2;
    const std::string text = read_file(path);
    mirelo::PgnReader reader(generator, {.comments = comments});
    mirelo::PgnGame game;
    for (std::size_t pos = 0; pos < text.size(); pos += chunk) {
        reader.feed(text.data() + pos, std::min(chunk, text.size() - pos));
        while (reader.next(game)) print_game(game, comments);
    }
    reader.finish();
    while (reader.next(game)) print_game(game, comments);
    return 0;
}

int san(const char* path, const mirelo::MoveGenerator& generator) {
    std::ifstream in(path);
    for (std::string fen; std::getline(in, fen);) {
        const mirelo::Board board = mirelo::Board::from_fen(fen).value();
        mirelo::MoveList legal;
        generator.moves(board, legal);
        std::string line;
        for (const mirelo::ChessMove move : legal) {
            // Typed by its squares, as a caller passes a move text; the
            // text must be the one written with the list given.
            char text[mirelo::SAN_CAPACITY], listed[mirelo::SAN_CAPACITY];
            const auto typed = mirelo::ChessMove::from_str(move.to_string()).value();
            const std::size_t size = mirelo::write_san(generator, board, typed, text);
            if (std::string_view(text, size) != std::string_view(listed, mirelo::write_san(generator, board, legal, move, listed)))
                return 1;
            if (!line.empty()) line += ' ';
            line += move.to_string();
            line += ':';
            line.append(text, size);
        }
        std::printf("%s\n", line.c_str());
    }
    return 0;
}

int parse(const char* path, const mirelo::MoveGenerator& generator) {
    std::ifstream in(path);
    constexpr const char* KINDS[] = {"invalid", "illegal", "ambiguous", "null"};
    for (std::string line; std::getline(in, line);) {
        const std::size_t tab = line.find('\t');
        const mirelo::Board board = mirelo::Board::from_fen(line.substr(0, tab)).value();
        const auto move = mirelo::parse_san(generator, board, line.substr(tab + 1));
        if (move)
            std::printf("%s\n", move->to_string().c_str());
        else
            std::printf("error %s\n", KINDS[static_cast<int>(move.error())]);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const mirelo::MoveGenerator generator;
    const std::string_view command = argv[1];
    if (command == "games") return games(argc, argv, generator);
    if (command == "san") return san(argv[2], generator);
    if (command == "parse") return parse(argv[2], generator);
    return 2;
}
