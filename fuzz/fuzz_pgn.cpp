// The PGN reader and SAN both ways on arbitrary bytes.
//
// Input: one byte that picks the chunk size (1 to 64) and whether comments
// are kept, then PGN text. (fuzz/corpus/fuzz_pgn holds real-looking games.)
//  - reading the text in chunks gives exactly the games of reading it whole;
//  - every game's text is well-formed UTF-8, its tags and comments lie in it,
//    there is one comment per move when comments are kept, its error is one
//    line, and its moves are legal one after the other from its start;
//  - on every position of the first games' mainlines, every legal move's SAN
//    fits SAN_CAPACITY, is the same whether or not the legal list is given,
//    and reads back to the same move; on the first game's start, a move
//    typed by its squares has a SAN exactly when a legal move has them;
//  - each word of the input read as SAN on those positions names what a
//    plain filter of the generator's legal list names (the same move, or the
//    same kind of refusal), whether or not the reader is told that no square
//    is held twice.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_common.h"
#include "move_generator.h"
#include "pgn.h"
#include "san.h"
#include "text.h"

using namespace mirelo;

namespace {

const MoveGenerator& generator() {
    static const MoveGenerator instance;
    return instance;
}

std::string describe(const PgnGame& game) {
    std::string text = std::to_string(game.index) + "|" + game.start.to_fen() + "|" + game.result + "|" + game.error;
    for (const PgnTag& tag : game.tags) text += "|" + std::string(game.view(tag.name)) + "=" + std::string(game.view(tag.value));
    for (const ChessMove move : game.moves) text += " " + move.to_string();
    for (const TextSpan comment : game.comments) text += "{" + std::string(game.view(comment)) + "}";
    return text;
}

bool inside(const PgnGame& game, TextSpan span) {
    return span.begin <= game.text.size() && span.size <= game.text.size() - span.begin;
}

void check_game(const PgnGame& game, bool comments, const std::string& input) {
    for (std::size_t pos = 0; pos < game.text.size();) {
        const CodePoint c = decode_utf8(game.text, pos);
        FUZZ_CHECK(c.value != 0xFFFD || c.length == 3, input + ": text not UTF-8");
        pos += c.length;
    }
    for (const PgnTag& tag : game.tags) FUZZ_CHECK(inside(game, tag.name) && inside(game, tag.value), input);
    for (const TextSpan comment : game.comments) FUZZ_CHECK(inside(game, comment), input);
    FUZZ_CHECK(game.comments.size() == (comments ? game.moves.size() : 0), input + ": comments");
    FUZZ_CHECK(game.error.find('\n') == std::string::npos, input + ": error " + game.error);
    Position position = game.start;
    for (const ChessMove move : game.moves) {
        MoveList legal;
        generator().moves(position, legal);
        bool found = false;
        for (const ChessMove m : legal) found = found || m == move;
        FUZZ_CHECK(found, input + ": illegal " + move.to_string() + " in " + describe(game));
        position = position.after(move, move_roles(position.pieces, position.occupancy(), move));
    }
}

std::vector<std::string> read(std::string_view text, std::size_t chunk, bool comments, std::vector<PgnGame>* kept) {
    PgnReader reader(generator(), {.comments = comments});
    PgnGame game;
    std::vector<std::string> games;
    const auto take = [&] {
        games.push_back(describe(game));
        if (kept && kept->size() < 3) kept->push_back(game);
    };
    for (std::size_t pos = 0; pos < text.size(); pos += chunk) {
        reader.feed(text.data() + pos, std::min(chunk, text.size() - pos));
        while (reader.next(game)) take();
    }
    reader.finish();
    while (reader.next(game)) take();
    return games;
}

constexpr unsigned promotion_of(ChessMove move) { return is_promotion(move.special()) ? move.special() : 0; }

// What the parts name, decided on the generator's whole legal list.
std::expected<ChessMove, SanError> filter_legal(const Position& position, const SanParts& parts) {
    if (parts.kind == SanParts::NULL_MOVE) return std::unexpected(SanError::null_move);
    MoveList legal;
    generator().moves(position, legal);
    const Color us = position.side_to_move();
    std::size_t count = 0;
    ChessMove found{0};
    const auto match = [&](ChessMove m) {
        if (count++ == 0) found = m;
    };
    if (parts.kind != SanParts::MOVE) {
        const Castling& castling = side(us).castling[parts.kind == SanParts::KING_SIDE_CASTLING ? KING_SIDE : QUEEN_SIDE];
        for (const ChessMove m : legal)
            if (m.special() == CASTLING && m.to() == castling.king_to) match(m);
    } else if (parts.piece == SanParts::ANY && parts.from_file != SanParts::ANY && parts.from_rank != SanParts::ANY) {
        const Square from = make_square(parts.from_file, parts.from_rank);
        Square to = parts.to;
        const Bitboard kings = position.pieces[make_piece(WHITE, KING)] | position.pieces[make_piece(BLACK, KING)];
        if (parts.promotion == 0 && has(kings, from) && (from == 4 || from == 60)) {
            if (to == from + 3) to = from + 2;
            if (to == from - 4) to = from - 2;
        }
        const Bitboard pawns = position.pieces[make_piece(WHITE, PAWN)] | position.pieces[make_piece(BLACK, PAWN)];
        if (!(has(pawns, from) && parts.promotion == 0 && (rank_of(to) == 0 || rank_of(to) == 7)))
            for (const ChessMove m : legal)
                if (m.from() == from && m.to() == to && promotion_of(m) == parts.promotion) match(m);
    } else if (!has(position.pieces_of(us), parts.to)) {
        const PieceType piece = parts.piece == SanParts::ANY ? PAWN : static_cast<PieceType>(parts.piece);
        for (const ChessMove m : legal) {
            const Square from = m.from();
            if (m.to() != parts.to || m.special() == CASTLING || promotion_of(m) != parts.promotion ||
                !has(position.pieces[make_piece(us, piece)], from))
                continue;
            if (parts.from_file != SanParts::ANY ? file_of(from) != parts.from_file
                                                 : piece == PAWN && file_of(from) != file_of(parts.to))
                continue;
            if (parts.from_rank != SanParts::ANY && rank_of(from) != parts.from_rank) continue;
            match(m);
        }
    }
    if (count == 0) return std::unexpected(SanError::illegal);
    if (count > 1) return std::unexpected(SanError::ambiguous);
    return found;
}

void check_san(const Position& position, const std::vector<std::string_view>& words, const std::string& input) {
    MoveList legal;
    generator().moves(position, legal);
    for (const ChessMove move : legal) {
        std::array<char, SAN_CAPACITY> out;
        const std::size_t size = write_san(generator(), position, legal, move, out.data());
        const std::string_view san(out.data(), size);
        const auto back = parse_san(generator(), position, san);
        FUZZ_CHECK(back && *back == move, input + ": " + move.to_string() + " wrote " + std::string(san));
        std::array<char, SAN_CAPACITY> typed;
        const std::size_t typed_size = write_san(generator(), position, move, typed.data());
        FUZZ_CHECK(std::string_view(typed.data(), typed_size) == san, input + ": " + move.to_string());
    }
    for (const std::string_view word : words) {
        const auto parts = split_san(word);
        if (!parts) continue;
        const auto expected = filter_legal(position, *parts);
        for (const bool no_square_twice : {false, true}) {
            Position after;
            const auto found = resolve_san(generator(), position, *parts, after, no_square_twice);
            FUZZ_CHECK(found.has_value() == expected.has_value() &&
                           (found ? *found == *expected : found.error() == expected.error()),
                       input + ": " + std::string(word));
        }
    }
}

// Every move from a square of the side to move onto any square, typed (no
// special code), with and without a queen promotion.
void check_typed_moves(const Position& position, const std::string& input) {
    MoveList legal;
    generator().moves(position, legal);
    for (Bitboard from = position.pieces_of(position.side_to_move()); from;) {
        const Square square = pop_lowest(from);
        for (Square to = SQ_A1; to <= SQ_H8; ++to) {
            for (const unsigned promotion : {0u, unsigned{PROMOTE_QUEEN}}) {
                const ChessMove typed = ChessMove::raw(square, to, promotion);
                bool listed = false;
                for (const ChessMove m : legal)
                    listed = listed || (m.from() == square && m.to() == to && promotion_of(m) == promotion);
                std::array<char, SAN_CAPACITY> out;
                FUZZ_CHECK((write_san(generator(), position, typed, out.data()) != 0) == listed,
                           input + ": typed " + typed.to_string());
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t chunk = 1 + (data[0] & 63);
    const bool comments = data[0] & 64;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string input = "input \"" + fuzz::printable(text.substr(0, 200)) + "\"";
    std::vector<PgnGame> games;
    const auto whole = read(text, text.size() + 1, comments, &games);
    FUZZ_CHECK(read(text, chunk, comments, nullptr) == whole, input + ": chunks of " + std::to_string(chunk));
    for (const PgnGame& game : games) check_game(game, comments, input);

    // The words of the input, as SAN candidates.
    std::vector<std::string_view> words;
    for (std::size_t pos = 0; pos < text.size() && words.size() < 64;) {
        const std::size_t end = std::min(text.find_first_of(" \n\r\t", pos), text.size());
        if (end > pos && end - pos <= 12) words.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    if (!games.empty()) check_typed_moves(games.front().start, input);
    for (const PgnGame& game : games) {
        Position position = game.start;
        check_san(position, words, input);
        for (std::size_t ply = 0; ply < game.moves.size() && ply < 40; ++ply) {
            const ChessMove move = game.moves[ply];
            position = position.after(move, move_roles(position.pieces, position.occupancy(), move));
            check_san(position, words, input);
        }
    }
    return 0;
}
