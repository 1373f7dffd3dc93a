// Making and unmaking moves on the core Board with the MoveGenerator.
//
// Input: a FEN text terminated by a zero byte, then a sequence of operation
// bytes: push a generated move, push an arbitrary move as a user would, pop,
// generate (and read the game state), reflect, copy, move the history into
// lent storage with a few words to spare. (scripts/fuzz seeds the
// corpus with every position of tests/positions.txt.) After every
// operation:
//  - the Zobrist keys equal a from-scratch recomputation;
//  - the undo stacks agree with the move records;
//  - a failed operation changed nothing;
//  - pop restores exactly the record (pieces, info, keys, stacks, history)
//    that the matching push started from;
//  - a history in full lent storage refuses a move without a change, and
//    goes on in larger storage lent then;
//  - generating moves leaves the board exactly as it was and gives exactly
//    the pseudo-legal moves, in order, that push accepts and that leave the
//    mover's king unattacked, when played and taken back one by one; on a
//    board without a square held twice, pushing a generated move as a user
//    would (its text) is accepted and has the same effect as the generator's
//    value;
//  - a move typed by a user never puts two pieces on one square;
//  - check, repetitions and outcome leave the board exactly as it was, check
//    agrees with the generator's attack test, and repetitions agree with
//    taking every move back and comparing.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "board.h"
#include "chess_move.h"
#include "failure.h"
#include "fuzz_common.h"
#include "game.h"
#include "move_generator.h"
#include "reference_moves.h"
#include "reference_repetitions.h"
#include "text.h"

using mirelo::Board;
using mirelo::ChessMove;
using mirelo::MoveGenerator;
using mirelo::MoveList;

namespace {

const MoveGenerator& generator() {
    static const MoveGenerator instance;
    return instance;
}

struct Run {
    Board board;
    std::uint64_t high_info;      // info bits above 20 never change by a move
    std::vector<Board> before;    // the record before each push still on the history
    std::string log;              // the operations so far, for the report
    std::unique_ptr<std::uint64_t[]> room;  // the storage lent to the history, if any

    explicit Run(Board start) : board(std::move(start)), high_info(board.info >> 21) {}

    [[noreturn]] void fail(const std::string& what) const {
        fuzz::violated(what.c_str(), "operations: " + log + "\n    board: " + fuzz::describe(board), __FILE__,
                       __LINE__);
    }

    void check() const {
        const auto [key, key16] = fuzz::recomputed_keys(board);
        if (board.zobrist.z_key != key || board.zobrist.z_key16 != key16) fail("keys no longer follow the position");
        fuzz::check_stacks(board);
        if (board.history.moves() != before.size()) fail("history depth");
        if ((board.info >> 21) != high_info) fail("info bits above 20 changed");
    }

    void unchanged_since(const Board& earlier, const char* what) const {
        if (!fuzz::same_state(board, earlier)) fail(std::string(what) + " changed the board");
    }

    void pushed(const Board& earlier) { before.push_back(earlier); }

    // The history moves into lent storage with extra words to spare.
    void lend(std::size_t extra) {
        const Board earlier = board;
        const std::size_t capacity = board.history.size() + extra;
        auto storage = std::make_unique<std::uint64_t[]>(capacity);
        board.history.lend(storage.get(), capacity);
        room = std::move(storage);
        if (!board.history.keeps_in(room.get())) fail("lent storage not taken");
        unchanged_since(earlier, "lending storage");
    }

    // Lent storage that may not hold the move refuses it; then it grows as a
    // face grows it.
    void make_room(ChessMove move) {
        if (board.history.has_room()) return;
        const Board earlier = board;
        try {
            if (board.push(move)) fail("a move went into full lent storage");
        } catch (const mirelo::Failure&) {
        }
        unchanged_since(earlier, "a move refused for want of room");
        grow();
    }

    void grow() {
        if (!board.history.has_room()) lend(board.history.wanted_capacity() - board.history.size());
    }

    void pop() {
        const Board earlier = board;
        try {
            board.pop_move();
        } catch (const mirelo::Failure& failure) {
            if (!before.empty()) fail("pop with history failed: " + failure.message());
            if (failure.message() != "No move to take back") fail("pop: " + failure.message());
            unchanged_since(earlier, "failed pop");
            return;
        }
        if (before.empty()) fail("pop without history succeeded");
        if (!fuzz::same_state(board, before.back())) fail("pop did not restore the record before the push");
        before.pop_back();
    }

    // A move as the generator lists it, then as a user types it.
    void push_generated(ChessMove move) {
        make_room(move);
        const Board earlier = board;
        try {
            if (const auto made = board.push(move); !made)
                fail("generated move " + move.to_string() + " refused: " + made.error());
        } catch (const mirelo::Failure& failure) {
            fail("generated move " + move.to_string() + " failed: " + failure.message());
        }
        if (mirelo::attack_tables().king_attacked(board.pieces, ~board.side_to_move()))
            fail("generated move " + move.to_string() + " leaves the king attacked");
        pushed(earlier);
        // On a square held by two pieces (a malformed FEN) the generator moves
        // one piece and make-move the lowest: nothing to compare there.
        if (!no_overlap(earlier)) return;
        Board typed = earlier;
        const auto parsed = ChessMove::from_str(move.to_string());
        if (!parsed) fail("generated move " + move.to_string() + " does not parse");
        const auto made = typed.push(*parsed);
        if (!made) fail("generated move " + move.to_string() + " refused: " + made.error());
        if (typed.pieces != board.pieces || typed.info != board.info || typed.zobrist.z_key != board.zobrist.z_key)
            fail("generated move " + move.to_string() + " typed by a user differs: " + fuzz::describe(typed));
    }

    static bool no_overlap(const Board& b) { return !mirelo::squares_held_twice(b.pieces); }

    void push_typed(ChessMove move) {
        make_room(move);
        const Board earlier = board;
        try {
            const auto made = board.push(move);
            if (!made) {
                unchanged_since(earlier, "refused push");
                return;
            }
        } catch (const mirelo::Failure& failure) {
            unchanged_since(earlier, "failed push");
            const std::string expected = "No piece to move on " + mirelo::square_name(move.from());
            if (failure.message() != expected) fail("push " + move.to_string() + ": " + failure.message());
            return;
        }
        // Refusing moves onto the mover's own pieces keeps every square to one piece.
        if (no_overlap(earlier) && !no_overlap(board))
            fail("push " + move.to_string() + " put two pieces on one square");
        pushed(earlier);
    }

    MoveList& generate() {
        static MoveList list;
        grow();  // the reference below tries every move on the board
        const Board earlier = board;
        try {
            generator().moves(board, list);
        } catch (const mirelo::Failure& failure) {
            fail("generating moves failed: " + failure.message());
        }
        unchanged_since(earlier, "generating moves");
        // The legal moves are the pseudo-legal ones, in their order, that the
        // board accepts as typed moves and that leave the mover's king
        // unattacked: play each, test, take it back.
        const std::vector<ChessMove> legal =
            mirelo::testing::reference_moves(generator(), board, [&] { unchanged_since(earlier, "a trial move"); });
        for (std::size_t n = 0; n < legal.size() || n < list.size; ++n) {
            if (n < legal.size() && n < list.size && list.moves[n] == legal[n]) continue;
            fail("legal move " + std::to_string(n) + " is " +
                 (n < legal.size() ? legal[n].to_string() : std::string("nothing")) + ", generated " +
                 (n < list.size ? list.moves[n].to_string() : std::string("nothing")));
        }
        unchanged_since(earlier, "trying every pseudo-legal move");
        return list;
    }

    void reflect() {
        Board twice = board;
        twice.reflect();
        twice.reflect();
        if (twice.pieces != board.pieces || twice.info != board.info) fail("reflect twice is not the identity");
        board.reflect();
        if (!board.history.empty()) fail("reflect kept the history");
        before.clear();
        high_info = board.info >> 21;
    }

    void game_state() {
        const Board earlier = board;
        const bool check = mirelo::is_check(board);
        if (check != mirelo::attack_tables().king_attacked(board.pieces, board.side_to_move())) fail("check differs from the generator's");
        if (mirelo::repetitions(board) != mirelo::testing::reference_repetitions(board))
            fail("repetitions differ from taking every move back");
        const mirelo::Outcome outcome = mirelo::outcome(generator(), board);
        if ((outcome == mirelo::Outcome::checkmate) != (check && generate().size == 0)) fail("checkmate");
        unchanged_since(earlier, "reading the game state");
    }
};

std::optional<Board> start_board(std::string_view fen) {
    try {
        auto board = Board::from_fen(fen);
        if (board) return std::move(*board);
    } catch (const mirelo::Failure&) {
    }
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t zero = input.find('\0');
    if (zero == std::string_view::npos) return -1;  // no FEN: not worth keeping in the corpus
    const std::string_view ops = input.substr(zero + 1);
    auto board = start_board(input.substr(0, zero));
    if (!board) return -1;  // not worth keeping in the corpus
    Run run(std::move(*board));
    run.check();

    std::size_t i = 0;
    const auto next = [&]() -> unsigned { return i < ops.size() ? static_cast<unsigned char>(ops[i++]) : 0u; };
    // A deep history is no harder than a short one; keep the runs fast.
    for (int steps = 0; i < ops.size() && steps < 256; ++steps) {
        const unsigned op = next();
        switch (op % 8) {
            case 0: case 1: case 2: {
                MoveList& list = run.generate();
                if (list.size == 0) {
                    run.log += "generate(none) ";
                    break;
                }
                const ChessMove move = list.moves[next() % list.size];
                run.log += "push_generated(" + move.to_string() + ") ";
                run.push_generated(move);
                break;
            }
            case 3: {
                const unsigned low = next(), high = next();
                const auto data16 = static_cast<std::uint16_t>(low | (high << 8));
                // Only the promotion codes are read when making a move; other
                // codes have no text form and a user cannot type them.
                const unsigned special = (data16 >> 12) & 7;
                const ChessMove move = ChessMove::make(data16 & 63, (data16 >> 6) & 63, special < 4 ? 0 : special);
                run.log += "push(" + move.to_string() + ") ";
                run.push_typed(move);
                break;
            }
            case 4: case 5:
                run.log += "pop ";
                run.pop();
                break;
            case 6:
                if (op & 8) {
                    run.log += "reflect ";
                    run.reflect();
                } else {
                    run.log += "game state ";
                    run.game_state();
                }
                break;
            case 7: {
                if (op & 8) {
                    const unsigned extra = next() % 8;
                    run.log += "lend(" + std::to_string(extra) + ") ";
                    run.lend(extra);
                    break;
                }
                run.log += "copy ";
                Board copy = run.board;
                if (!fuzz::same_state(copy, run.board)) run.fail("copy differs");
                // The copy takes back the same moves; the original is untouched.
                const Board original = run.board;
                while (!copy.history.empty()) copy.pop_move();
                copy.reflect();
                if (!fuzz::same_state(run.board, original)) run.fail("changing a copy changed the original");
                break;
            }
        }
        run.check();
    }
    while (!run.before.empty()) {
        run.log += "pop ";
        run.pop();
        run.check();
    }
    return 0;
}
