// The C functions of SAN both ways and of the PGN reader.
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "calls.h"
#include "san.h"

using namespace mirelo;
using namespace mirelo::capi;

namespace {

// The move a text names, as its squares and promotion say, when it is
// written as the generator writes moves.
std::optional<ChessMove> typed_move(std::string_view text, int code) {
    if (code >= 0 && code <= 0xFFFF) return ChessMove{static_cast<std::uint16_t>(code)};
    if (!move_index(text)) return std::nullopt;  // from_str takes squares off the board for internal failures
    const auto move = ChessMove::from_str(text);
    return move ? std::optional(*move) : std::nullopt;
}

// The C view of the game the reader handed out last.
const mirelo_game* view_of(mirelo_pgn_reader& r) {
    const PgnGame& game = r.game;
    r.tags.clear();
    for (const PgnTag& tag : game.tags) r.tags.insert(r.tags.end(), {tag.name.begin, tag.name.size, tag.value.begin, tag.value.size});
    r.moves.clear();
    for (const ChessMove move : game.moves) r.moves.push_back(move.data);
    r.comments.clear();
    for (const TextSpan& comment : game.comments) r.comments.insert(r.comments.end(), {comment.begin, comment.size});
    static constexpr std::size_t NO_SPANS[1] = {};  // the comments of a game without moves
    r.view = {
        .index = game.index,
        .text = game.text.data(),
        .text_length = game.text.size(),
        .tags = r.tags.data(),
        .tag_count = game.tags.size(),
        .moves = r.moves.data(),
        .move_count = r.moves.size(),
        .comments = !r.keeps_comments ? nullptr : r.comments.empty() ? NO_SPANS : r.comments.data(),
        .fen = r.fen,
        .fen_length = game.start.write_fen(r.fen),
        .result = game.result.data(),
        .result_length = game.result.size(),
        .error = game.error.empty() ? nullptr : game.error.data(),
        .error_length = game.error.size(),
    };
    return &r.view;
}

// The result of a game from white's side, when it counts for training:
// read to its end and won, lost or drawn.
std::optional<std::int8_t> training_result(const PgnGame& game) {
    if (!game.error.empty()) return std::nullopt;
    if (game.result == "1-0") return 1;
    if (game.result == "0-1") return -1;
    if (game.result == "1/2-1/2") return 0;
    return std::nullopt;
}

// Moves the reader on to the next game with training rows left; false when
// the bytes fed so far complete no further game.
bool next_training_game(mirelo_pgn_reader& r) {
    while (r.ply == r.game.moves.size()) {
        if (!r.reader.next(r.game)) return false;
        const auto result = training_result(r.game);
        r.ply = result ? 0 : r.game.moves.size();
        r.result = result.value_or(0);
        r.position = r.game.start;
    }
    return true;
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------------------
// SAN

int mirelo_san(mirelo_generator* generator, mirelo_board* board, const char* text, size_t length, int code,
               mirelo_out* out) {
    return with(shared(generator), exclusive(board), [&] {
        const std::string_view typed(text, length);
        const auto move = typed_move(typed, code);
        const std::size_t size = move ? write_san(generator->value, board->value, *move, out->text) : 0;
        if (size == 0) {
            // A face that passes a known text's code passes no text.
            const std::string shown = move && code >= 0 && code <= 0xFFFF ? move->to_string() : std::string(typed);
            return value_error(messages::not_a_legal_move(shown, board->value.to_fen()));
        }
        out->text_length = size;
        return int{MIRELO_OK};
    });
}

int mirelo_parse_san(mirelo_generator* generator, mirelo_board* board, const char* text, size_t length,
                     mirelo_out* out) {
    return with(shared(generator), exclusive(board), [&] {
        const std::string_view san(text, length);
        const auto move = parse_san(generator->value, board->value, san);
        if (!move) return value_error(san_error_message(move.error(), san, board->value));
        out->code = move->data;
        return int{MIRELO_OK};
    });
}

// ---------------------------------------------------------------------------
// PGN readers

int mirelo_pgn_reader_new(int comments, mirelo_pgn_reader* place, void*, size_t, mirelo_out* out) {
    return guarded([&] {
        out->record = place == nullptr ? new mirelo_pgn_reader(comments != 0) : new (place) mirelo_pgn_reader(comments != 0);
        out->size = sizeof(mirelo_pgn_reader);
        return int{MIRELO_OK};
    });
}

int mirelo_pgn_reader_feed(mirelo_pgn_reader* reader, const char* data, size_t size, mirelo_out*) {
    return with(exclusive(reader), [&] {
        reader->reader.feed(data, size);
        return int{MIRELO_OK};
    });
}

int mirelo_pgn_reader_finish(mirelo_pgn_reader* reader, mirelo_out*) {
    return with(exclusive(reader), [&] {
        reader->reader.finish();
        return int{MIRELO_OK};
    });
}

int mirelo_pgn_reader_next(mirelo_pgn_reader* reader, mirelo_out* out) {
    return with(exclusive(reader), [&] {
        out->game = reader->reader.next(reader->game) ? view_of(*reader) : nullptr;
        return int{MIRELO_OK};
    });
}

int mirelo_pgn_reader_pending(mirelo_pgn_reader* reader, mirelo_out* out) {
    return with(shared(reader), [&] {
        out->count = reader->reader.pending();
        return int{MIRELO_OK};
    });
}

int mirelo_pgn_reader_fill(mirelo_pgn_reader* reader, void* planes, size_t planes_size, int element, void* moves,
                           size_t moves_size, void* results, size_t results_size, void* turns, size_t turns_size,
                           void* games, size_t games_size, mirelo_out* out) {
    return with(exclusive(reader), [&] {
        PlaneElement kind;
        if (const int status = plane_element(element, kind)) return status;
        const std::size_t stride = plane_bytes(kind), rows = planes_size / stride;
        for (const auto& [size, expected] : {std::pair{planes_size, rows * stride}, {moves_size, rows * 8},
                                            {results_size, rows}, {turns_size, rows}, {games_size, rows * 8}})
            if (const int status = check_size(size, expected)) return status;
        mirelo_pgn_reader& r = *reader;
        std::size_t row = 0;
        for (; row < rows && next_training_game(r); ++row) {
            const ChessMove move = r.game.moves[r.ply++];
            write_planes(r.position.pieces, kind, static_cast<unsigned char*>(planes) + row * stride);
            const std::int64_t index = move_index(move), game = static_cast<std::int64_t>(r.game.index);
            std::memcpy(static_cast<unsigned char*>(moves) + row * 8, &index, 8);
            std::memcpy(static_cast<unsigned char*>(games) + row * 8, &game, 8);
            static_cast<std::int8_t*>(results)[row] = r.result;
            static_cast<unsigned char*>(turns)[row] = r.position.to_move() != 0;
            r.position = r.position.after(move, move_roles(r.position.pieces, r.position.occupancy(), move));
        }
        out->count = row;
        return int{MIRELO_OK};
    });
}

}  // extern "C"
