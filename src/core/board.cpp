#include "board.h"

#include <cstring>
#include <utility>
#include <tuple>

#include "failure.h"
#include "text.h"

namespace mirelo {

namespace {

// Calls visit(part) for every part of text between "/" characters, the last
// part first; empty parts included.
template <typename Visit>
void for_each_part_reversed(std::string_view text, Visit visit) {
    std::size_t end = text.size();
    while (true) {
        const std::size_t slash = text.rfind('/', end == 0 ? std::string_view::npos : end - 1);
        if (end == 0 || slash == std::string_view::npos) {
            visit(text.substr(0, end));
            return;
        }
        visit(text.substr(slash + 1, end - slash - 1));
        end = slash;
    }
}

Pieces pieces_from_board_field(std::string_view field) {
    Pieces pieces{};
    std::uint32_t counter = 0;  // wraps like the unsigned 32-bit count it is
    for_each_part_reversed(field, [&](std::string_view part) {
        for (const char c : part) {
            if (c >= '0' && c <= '9') {
                counter += static_cast<std::uint32_t>(c - '0');
                continue;
            }
            const char* letter = std::strchr(PIECE_LETTERS, c);
            if (c == '\0' || letter == nullptr) fail("Invalid piece type");
            pieces[static_cast<std::size_t>(letter - PIECE_LETTERS)] |= square_bit(static_cast<Square>(counter % 64));
            ++counter;
        }
    });
    return pieces;
}

// Castling rights (info bits) lost when piece leaves square: the king loses
// both of its side's rights, a rook leaving its corner the one of that corner.
constexpr std::array<std::array<std::uint8_t, SQUARE_NB>, PIECE_NB> make_rights_lost_by_leaving() {
    std::array<std::array<std::uint8_t, SQUARE_NB>, PIECE_NB> table{};
    for (const Color c : {WHITE, BLACK}) {
        for (const Castling& castling : side(c).castling) {
            const auto right = static_cast<std::uint8_t>(1 << castling.right);
            for (auto& rights : table[make_piece(c, KING)]) rights = static_cast<std::uint8_t>(rights | right);
            table[make_piece(c, ROOK)][castling.rook_from] = right;
        }
    }
    return table;
}

constexpr auto RIGHTS_LOST_BY_LEAVING = make_rights_lost_by_leaving();

// Castling rights lost when piece is captured on square: a rook on its corner,
// the same right as the rook leaving it.
constexpr std::array<std::array<std::uint8_t, SQUARE_NB>, PIECE_NB + 1> make_rights_lost_by_capture() {
    std::array<std::array<std::uint8_t, SQUARE_NB>, PIECE_NB + 1> table{};  // row NO_PIECE stays empty
    for (const Color c : {WHITE, BLACK}) table[make_piece(c, ROOK)] = RIGHTS_LOST_BY_LEAVING[make_piece(c, ROOK)];
    return table;
}

constexpr auto RIGHTS_LOST_BY_CAPTURE = make_rights_lost_by_capture();

// The castling rights a move takes away. Only the side to move's own king or
// rook gives up rights by moving (a piece of the other side moved out of turn
// keeps them); a rook captured on its corner loses its right whoever captures.
std::uint64_t rights_lost(Piece mover, Piece captured, Square from, Square to, Color us) {
    const std::uint64_t by_leaving = color_of(mover) == us ? RIGHTS_LOST_BY_LEAVING[mover][from] : 0;
    return by_leaving | RIGHTS_LOST_BY_CAPTURE[captured][to];
}

// The MoveProgress bits of a move about to be played after the given history.
std::uint8_t progress_of(const History& history, ChessMove move, const MoveRoles& roles) {
    std::uint8_t progress = history.empty() ? PAWNS_ONLY_ADVANCE : history.back().progress & PAWNS_ONLY_ADVANCE;
    // A piece taken on the destination stood there; an en-passant victim may
    // be missing, so that capture counts only as the pawn's advance.
    if (roles.captured != NO_PIECE && roles.captured_on == move.to()) progress |= REMOVES_PIECE;
    if (type_of(roles.mover) == PAWN) {
        const Color c = color_of(roles.mover);
        if (relative_rank(c, rank_of(move.to())) > relative_rank(c, rank_of(move.from())))
            progress |= ADVANCES_PAWN;
        else
            progress &= ~PAWNS_ONLY_ADVANCE;
    }
    return progress;
}

}  // namespace

Pieces pieces_from_fen(std::string_view fen) {
    std::string_view field;
    if (split_fields(fen, &field, 1) == 0) fail("Missing FEN field: board");
    return pieces_from_board_field(field);
}

std::expected<Board, std::string> Board::from_fen(std::string_view fen) {
    std::string_view fields[4];
    const std::size_t count = split_fields(fen, fields, 4);
    if (count == 0) fail("Missing FEN field: board");
    Board board;
    board.pieces = pieces_from_board_field(fields[0]);

    if (count < 2) fail("Missing FEN field: side to move");
    if (fields[1] == "w") {
        board.info = WHITE_TO_MOVE;
    } else if (fields[1] != "b") {
        return std::unexpected("Invalid side-to-move");
    }

    if (count < 3) fail("Missing FEN field: castling");
    for (const char c : fields[2]) {
        if (c == '-') break;  // a dash ends the field, whatever follows it
        const char* letter = c == '\0' ? nullptr : std::strchr(CASTLING_LETTERS, c);
        if (letter == nullptr) return std::unexpected("Invalid castling specifier");
        board.info |= info_bit(FIRST_CASTLING_RIGHT + static_cast<unsigned>(letter - CASTLING_LETTERS));
    }

    if (count < 4) fail("Missing FEN field: en passant");
    if (fields[3] != "-") {
        // Only the first character counts, read as a file letter: a..h give the
        // en-passant bit of the side to move; any other character sets the bit
        // the same arithmetic gives, modulo 64.
        const std::uint64_t file = std::uint64_t{decode_utf8(fields[3], 0).value} - 'a';
        board.info |= info_bit((side(board.side_to_move()).en_passant_bit + file) % 64);
    }

    board.zobrist = ZobristBoardComponent::make(board.pieces, board.info);
    return board;
}

std::size_t Board::write_fen(char* out) const {
    std::array<std::int8_t, 64> mailbox;
    mailbox.fill(-1);
    // Highest index first, so that a square held by two words shows the lower.
    for (int p = 11; p >= 0; --p)
        for (Bitboard b = pieces[static_cast<std::size_t>(p)]; b;) mailbox[pop_lowest(b)] = static_cast<std::int8_t>(p);

    char* o = out;
    for (int rank = 7; rank >= 0; --rank) {
        int empty = 0;
        for (int file = 0; file < 8; ++file) {
            const int piece = mailbox[static_cast<std::size_t>(rank * 8 + file)];
            if (piece < 0) {
                ++empty;
                continue;
            }
            if (empty) *o++ = static_cast<char>('0' + empty), empty = 0;
            *o++ = PIECE_LETTERS[piece];
        }
        if (empty) *o++ = static_cast<char>('0' + empty);
        if (rank) *o++ = '/';
    }
    const Color us = side_to_move();
    *o++ = ' ';
    *o++ = us == WHITE ? 'w' : 'b';
    *o++ = ' ';
    const char* o_castling = o;
    for (unsigned i = 0; i < 4; ++i)
        if ((info >> (FIRST_CASTLING_RIGHT + i)) & 1) *o++ = CASTLING_LETTERS[i];
    if (o == o_castling) *o++ = '-';
    *o++ = ' ';
    // Only the side to move's half of the en-passant bits is written.
    const unsigned files = static_cast<unsigned>(info >> side(us).en_passant_bit) & 0xFF;
    if (files) {
        *o++ = static_cast<char>('a' + std::countr_zero(files));
        *o++ = side(us).en_passant_digit;
    } else {
        *o++ = '-';
    }
    return static_cast<std::size_t>(o - out);
}

std::string Board::to_fen() const {
    char buffer[FEN_CAPACITY];
    return std::string(buffer, write_fen(buffer));
}

std::expected<void, std::string> Board::push(ChessMove move) {
    const MoveRoles roles = move_roles(pieces, occupancy(), move);
    switch (roles.problem) {
        case MoveRoles::Problem::none:
            break;
        case MoveRoles::Problem::empty_square:
            fail("No piece to move on " + square_name(move.from()));
        case MoveRoles::Problem::promotion_needed:
            return std::unexpected("Promotion piece needed for " + move.to_string() + " (add n, b, r or q)");
        case MoveRoles::Problem::own_destination:
            return std::unexpected("Destination holds a piece of the moving side: " + move.to_string());
        case MoveRoles::Problem::rook_square_taken:
            return std::unexpected("Castling needs " + square_name(roles.rook_to) + " to be empty: " +
                                   move.to_string());
    }
    play(move, roles);
    return {};
}

MoveRoles move_roles(const Pieces& pieces, Bitboard occupancy, ChessMove move) {
    const Square from = move.from(), to = move.to();
    MoveRoles roles{piece_on(pieces, from, occupancy), NO_PIECE, NO_PIECE, NO_PIECE, to, SQ_NONE, SQ_NONE,
                    MoveRoles::Problem::none};
    if (roles.mover == NO_PIECE) {
        roles.problem = MoveRoles::Problem::empty_square;
        return roles;
    }
    const Piece mover = roles.mover;
    const Color us = color_of(mover), them = ~us;
    const SideFacts& ours = side(us);

    roles.captured = piece_on(pieces, to, occupancy, them);
    if (type_of(mover) == PAWN) {
        if (roles.captured == NO_PIECE && file_of(from) != file_of(to)) {
            // En passant: the opposing pawn stands behind the destination, seen
            // from the moving pawn. Off the board there is nothing to take.
            roles.captured = make_piece(them, PAWN);
            roles.captured_on = offset_square(to, -ours.pawn_push);
        }
        // Either end rank: a typed pawn move may go backwards, and is taken as given.
        if (rank_of(to) == 0 || rank_of(to) == 7) {
            if (is_promotion(move.special()))
                roles.promotion = make_piece(us, promotion_type(move.special()));
            else
                roles.problem = MoveRoles::Problem::promotion_needed;
        }
    } else if (type_of(mover) == KING && from == ours.king_home) {
        // Castling is the king's two-square move from its home square; the rook
        // of its colour jumps over it if it stands on the corner.
        for (const Castling& castling : ours.castling) {
            if (to != castling.king_to) continue;
            roles.rook = make_piece(us, ROOK);
            roles.rook_from = castling.rook_from;
            roles.rook_to = castling.rook_to;
        }
    }
    if (roles.problem != MoveRoles::Problem::none) return roles;
    if (has(pieces_of(pieces, us), to))
        roles.problem = MoveRoles::Problem::own_destination;
    else if (roles.rook != NO_PIECE && has(pieces[roles.rook], roles.rook_from) && has(occupancy, roles.rook_to))
        roles.problem = MoveRoles::Problem::rook_square_taken;
    return roles;
}

void apply_move(Pieces& pieces, ChessMove move, const MoveRoles& roles) {
    const Square from = move.from(), to = move.to();
    pieces[roles.mover] = move_bit(pieces[roles.mover], from, to);
    if (roles.captured != NO_PIECE && is_ok(roles.captured_on))
        pieces[roles.captured] = delete_bit(pieces[roles.captured], roles.captured_on);
    if (roles.rook != NO_PIECE) pieces[roles.rook] = move_bit(pieces[roles.rook], roles.rook_from, roles.rook_to);
    if (roles.promotion != NO_PIECE) {
        pieces[roles.mover] = delete_bit(pieces[roles.mover], to);
        pieces[roles.promotion] |= square_bit(to);
    }
}

std::uint64_t info_after(std::uint64_t info, ChessMove move, const MoveRoles& roles) {
    const Square from = move.from(), to = move.to();
    const Piece mover = roles.mover;
    // A pawn two ranks forward, seen from its colour, opens en passant for the
    // other side on the file it lands on.
    const Color mover_colour = color_of(mover);
    std::uint64_t next = info & ~EN_PASSANT_MASK;
    if (type_of(mover) == PAWN &&
        static_cast<int>(rank_of(to)) - static_cast<int>(rank_of(from)) == 2 * side(mover_colour).forward)
        next |= info_bit(side(~mover_colour).en_passant_bit + file_of(to));
    if (next & CASTLING_RIGHTS) next &= ~rights_lost(mover, roles.captured, from, to, side_to_move(info));
    return next ^ WHITE_TO_MOVE;
}

void Board::play(ChessMove move, const MoveRoles& roles) {
    // Save every word about to change, then the record.
    unsigned saved = 0;
    for (const Piece piece : {roles.mover, roles.captured, roles.rook, roles.promotion})
        if (piece != NO_PIECE) saved |= 1u << piece;
    const Bitboard* before =
        history.push(MoveRecord{info, static_cast<std::uint16_t>(saved), progress_of(history, move, roles)}, pieces);

    apply_move(pieces, move, roles);
    // The keys follow the bits that really changed, so they match the position
    // whatever the move was.
    for (unsigned m = saved; m;) {
        const Piece piece = pop_piece(m);
        zobrist.xor_squares(piece, *before++ ^ pieces[piece]);
    }

    const std::uint64_t next = info_after(info, move, roles);
    zobrist.xor_info_bits(info ^ next);
    info = next;
}

void Board::pop_move() {
    auto [last, saved] = history.pop();
    // Moves change only the state bits of the info word.
    const std::uint64_t before = (info & ~INFO_STATE_MASK) | last.info;
    zobrist.xor_info_bits(info ^ before);
    info = before;
    for (unsigned m = last.saved; m;) {
        const Piece piece = pop_piece(m);
        const Bitboard was = *saved++;
        zobrist.xor_squares(piece, pieces[piece] ^ was);
        pieces[piece] = was;
    }
}

void Board::reflect() {
    // Each piece changes colour, and the ranks are mirrored.
    for (const PieceType t : {PAWN, KNIGHT, BISHOP, ROOK, QUEEN, KING})
        std::swap(pieces[make_piece(WHITE, t)], pieces[make_piece(BLACK, t)]);
    for (Bitboard& b : pieces) b = std::byteswap(b);
    // The side to move flips and each side takes over the other's castling
    // rights and en-passant files.
    std::uint64_t next = (info & ~INFO_STATE_MASK) | ((info & WHITE_TO_MOVE) ^ WHITE_TO_MOVE);
    for (const Color c : {WHITE, BLACK}) {
        next |= ((info >> castling_right(c, KING_SIDE)) & 3) << castling_right(~c, KING_SIDE);
        next |= ((info >> side(c).en_passant_bit) & 0xFF) << side(~c).en_passant_bit;
    }
    info = next;
    history.clear();
    // The mirrored position is another position: its keys are computed afresh.
    std::tie(zobrist.z_key, zobrist.z_key16) = zobrist_keys(*zobrist.z64, *zobrist.z16, pieces, info);
}

}  // namespace mirelo
