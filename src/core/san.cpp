#include "san.h"

#include <array>

#include "attacks.h"
#include "text.h"

namespace mirelo {

namespace {

constexpr Bitboard FILE_A_SQUARES = 0x0101010101010101ULL;
constexpr Bitboard RANK_1_SQUARES = 0xFF;

constexpr bool is_file_letter(char c) { return c >= 'a' && c <= 'h'; }
constexpr bool is_rank_digit(char c) { return c >= '1' && c <= '8'; }

// The classes of the characters before the target square, in the order the
// pattern takes them: piece letter, file, rank, separator.
enum PrefixClass : int { NOT_PREFIX = -1, PIECE_LETTER, FILE_LETTER, RANK_DIGIT, SEPARATOR };

constexpr PieceType piece_of_letter(char c) {
    switch (c) {
        case 'N': return KNIGHT;
        case 'B': return BISHOP;
        case 'R': return ROOK;
        case 'Q': return QUEEN;
        default: return KING;
    }
}

constexpr int prefix_class(char c) {
    if (c == 'N' || c == 'B' || c == 'K' || c == 'R' || c == 'Q') return PIECE_LETTER;
    if (is_file_letter(c)) return FILE_LETTER;
    if (is_rank_digit(c)) return RANK_DIGIT;
    if (c == '-' || c == 'x') return SEPARATOR;
    return NOT_PREFIX;
}

// The promotion code of a letter of [nbrqkNBRQK], 0 for any other character.
constexpr std::uint8_t promotion_of_letter(char c) {
    switch (c | 0x20) {
        case 'n': return PROMOTE_KNIGHT;
        case 'b': return PROMOTE_BISHOP;
        case 'r': return PROMOTE_ROOK;
        case 'q': return PROMOTE_QUEEN;
        case 'k': return SanParts::KING_PROMOTION;
        default: return 0;
    }
}

// The promotion a generated or typed move makes: its code, or 0.
constexpr unsigned promotion_code(ChessMove move) { return is_promotion(move.special()) ? move.special() : 0; }

bool is_castling_text(std::string_view text, std::string_view castling) {
    if (!text.starts_with(castling)) return false;
    const std::string_view rest = text.substr(castling.size());
    return rest.empty() || rest == "+" || rest == "#";
}

// The squares of a file or rank, or of the whole board when not given.
Bitboard from_squares(const SanParts& parts) {
    Bitboard squares = ~Bitboard{0};
    if (parts.from_file != SanParts::ANY) squares &= FILE_A_SQUARES << parts.from_file;
    if (parts.from_rank != SanParts::ANY) squares &= RANK_1_SQUARES << (8 * parts.from_rank);
    return squares;
}

// Collects the legal moves among the candidates it is shown, as the
// generator's legality filter would judge them: a move is legal when the
// board can play it and it leaves the mover's king unattacked.
class Matches {
public:
    Matches(const MoveGenerator& generator, const Position& position, unsigned promotion)
        : generator_(generator), position_(position), occupied_(position.occupancy()), promotion_(promotion) {}

    void consider(ChessMove move) {
        if (promotion_code(move) != promotion_) return;
        const MoveRoles roles = move_roles(position_.pieces, occupied_, move);
        if (roles.problem != MoveRoles::Problem::none) return;
        Pieces after = position_.pieces;
        apply_move(after, move, roles);
        if (generator_.king_attacked(after, position_.side_to_move())) return;
        if (count_++ == 0) {
            move_ = move;
            after_ = Position{after, info_after(position_.info, move, roles)};
        }
    }

    // A generated move taken as it is: castling, which the list decides.
    void accept(ChessMove move) {
        if (count_++ == 0) {
            move_ = move;
            after_ = position_.after(move, move_roles(position_.pieces, occupied_, move));
        }
    }

    std::expected<ChessMove, SanError> result(Position& after) const {
        if (count_ == 0) return std::unexpected(SanError::illegal);
        if (count_ > 1) return std::unexpected(SanError::ambiguous);
        after = after_;
        return move_;
    }

private:
    const MoveGenerator& generator_;
    const Position& position_;
    Bitboard occupied_;
    unsigned promotion_;
    unsigned count_ = 0;
    ChessMove move_{0};
    Position after_;
};

// Shows matches every pseudo-legal pawn move of the side to move from a
// square of from onto to, coded as the generator codes it. A promotion is
// shown once, with the promotion asked for (a queen when none is: it then
// matches nothing).
void pawn_moves_to(const Position& position, Bitboard from, Square to, unsigned promotion, Matches& matches) {
    const Color us = position.side_to_move();
    const SideFacts& ours = side(us);
    const Bitboard pawns = position.pieces[make_piece(us, PAWN)] & from;
    const Bitboard occupied = position.occupancy();
    const bool promoting = rank_of(to) == relative_rank(us, 7);
    const unsigned step_code = promoting ? (is_promotion(promotion) ? promotion : PROMOTE_QUEEN) : ORDINARY;
    // The same en-passant targets as the generator's: the flag decides.
    const Bitboard en_passant_targets = ((position.info >> ours.en_passant_bit) & 0xFF)
                                        << (8 * static_cast<int>(ours.en_passant_rank + ours.forward));
    for (Bitboard b = PAWN_ATTACKS[~us][to] & pawns; b;) {
        const Square origin = pop_lowest(b);
        if (has(position.pieces_of(~us), to)) matches.consider(ChessMove::raw(origin, to, step_code));
        if (has(en_passant_targets, to)) matches.consider(ChessMove::raw(origin, to, EN_PASSANT));
    }
    if (has(occupied, to)) return;
    const int one = static_cast<int>(to) - ours.pawn_push;
    if (one < 0 || one > 63) return;
    if (has(pawns, static_cast<Square>(one))) {
        matches.consider(ChessMove::raw(static_cast<Square>(one), to, step_code));
        return;
    }
    const int two = one - ours.pawn_push;
    if (two < 0 || two > 63 || has(occupied, static_cast<Square>(one))) return;
    if (rank_of(static_cast<Square>(two)) == ours.start_rank && has(pawns, static_cast<Square>(two)))
        matches.consider(ChessMove::raw(static_cast<Square>(two), to, DOUBLE_STEP));
}

// Shows matches every pseudo-legal move of the side to move's pieces of the
// given type from a square of from onto to. Castling is not among them: a
// king's move names it only by its squares (see resolve_squares).
void moves_to(const MoveGenerator& generator, const Position& position, PieceType piece, Bitboard from, Square to,
              unsigned promotion, Matches& matches) {
    const Color us = position.side_to_move();
    if (piece == PAWN) return pawn_moves_to(position, from, to, promotion, matches);
    const Bitboard occupied = position.occupancy();
    const Bitboard own = position.pieces[make_piece(us, piece)] & from;
    Bitboard origins = 0;
    switch (piece) {
        case KNIGHT: origins = KNIGHT_ATTACKS[to] & own; break;
        case BISHOP: origins = generator.slider_attacks(to, occupied, BISHOP) & own; break;
        case ROOK: origins = generator.slider_attacks(to, occupied, ROOK) & own; break;
        case QUEEN:
            origins = (generator.slider_attacks(to, occupied, ROOK) | generator.slider_attacks(to, occupied, BISHOP)) &
                      own;
            break;
        default: origins = KING_ATTACKS[to] & own; break;
    }
    while (origins) matches.consider(ChessMove::raw(pop_lowest(origins), to, ORDINARY));
}

// The castling move from from to to, if it is legal; the generator's list
// decides, as castling is rare and its conditions are the generator's own.
void castling_move(const MoveGenerator& generator, const Position& position, Square from, Square to,
                   Matches& matches) {
    MoveList legal;
    generator.moves(position, legal);
    for (const ChessMove move : legal)
        if (move.special() == CASTLING && move.from() == from && move.to() == to) return matches.accept(move);
}

// A move named by both its squares and no piece letter: the one legal move
// with those squares and that promotion. A king's move onto its own rook's
// corner names castling; a pawn reaching the last rank needs a promotion.
void resolve_squares(const MoveGenerator& generator, const Position& position, const SanParts& parts,
                     Matches& matches) {
    const Square from = parts.from_file + 8 * parts.from_rank;
    Square to = parts.to;
    const Bitboard occupied = position.occupancy();
    const Bitboard kings = position.pieces[make_piece(WHITE, KING)] | position.pieces[make_piece(BLACK, KING)];
    if (parts.promotion == 0 && has(kings, from)) {
        for (const Color c : {WHITE, BLACK}) {
            if (from != side(c).king_home) continue;
            for (const Castling& castling : side(c).castling)
                if (to == castling.rook_from) to = castling.king_to;
        }
    }
    const unsigned piece = piece_on(position.pieces, from, 0, 12, occupied);
    if (piece == NO_PIECE || color_of(piece) != position.side_to_move()) return;
    const PieceType type = type_of(piece);
    if (type == KING && (file_of(to) + 2 == file_of(from) || file_of(from) + 2 == file_of(to)))
        return castling_move(generator, position, from, to, matches);
    moves_to(generator, position, type, square_bit(from), to, parts.promotion, matches);
}

}  // namespace

std::size_t match_san_move(const char* begin, const char* end, SanParts& out) {
    // Each optional part is taken before it is left out, so the first match a
    // backtracking engine finds has the longest prefix of characters in class
    // order that still leaves a target square after it.
    std::size_t run = 0;
    for (int last = NOT_PREFIX; run < 4 && begin + run < end; ++run) {
        const int c = prefix_class(begin[run]);
        if (c <= last) break;
        last = c;
    }
    for (std::size_t length = run + 1; length-- > 0;) {
        const char* target = begin + length;
        if (end - target < 2 || !is_file_letter(target[0]) || !is_rank_digit(target[1])) continue;
        out = SanParts{};
        for (const char* p = begin; p < target; ++p) {
            switch (prefix_class(*p)) {
                case PIECE_LETTER: out.piece = piece_of_letter(*p); break;
                case FILE_LETTER: out.from_file = static_cast<std::uint8_t>(*p - 'a'); break;
                case RANK_DIGIT: out.from_rank = static_cast<std::uint8_t>(*p - '1'); break;
                default: break;
            }
        }
        out.to = static_cast<std::uint8_t>((target[0] - 'a') + 8 * (target[1] - '1'));
        const char* p = target + 2;
        if (p < end && *p == '=' && p + 1 < end && promotion_of_letter(p[1])) ++p;
        if (p < end && promotion_of_letter(*p)) out.promotion = promotion_of_letter(*p++);
        return static_cast<std::size_t>(p - begin);
    }
    return 0;
}

std::expected<SanParts, SanError> split_san(std::string_view text) {
    SanParts parts;
    if (is_castling_text(text, "O-O-O") || is_castling_text(text, "0-0-0")) {
        parts.kind = SanParts::QUEEN_SIDE_CASTLING;
        return parts;
    }
    if (is_castling_text(text, "O-O") || is_castling_text(text, "0-0")) {
        parts.kind = SanParts::KING_SIDE_CASTLING;
        return parts;
    }
    const char* begin = text.data();
    const char* end = begin + text.size();
    std::size_t length = match_san_move(begin, end, parts);
    if (length && length < text.size() && (text[length] == '+' || text[length] == '#')) ++length;
    if (length && length == text.size()) return parts;
    if (text == "--" || text == "Z0" || text == "0000" || text == "@@@@") return std::unexpected(SanError::null_move);
    return std::unexpected(SanError::invalid);
}

std::expected<ChessMove, SanError> resolve_san(const MoveGenerator& generator, const Position& position,
                                               const SanParts& parts, Position& after) {
    const Color us = position.side_to_move();
    Matches matches(generator, position, parts.promotion);
    switch (parts.kind) {
        case SanParts::NULL_MOVE:
            return std::unexpected(SanError::null_move);
        case SanParts::KING_SIDE_CASTLING:
        case SanParts::QUEEN_SIDE_CASTLING: {
            const CastlingSide cs = parts.kind == SanParts::KING_SIDE_CASTLING ? KING_SIDE : QUEEN_SIDE;
            castling_move(generator, position, side(us).king_home, side(us).castling[cs].king_to, matches);
            return matches.result(after);
        }
        case SanParts::MOVE:
            break;
    }
    if (parts.piece == SanParts::ANY && parts.from_file != SanParts::ANY && parts.from_rank != SanParts::ANY) {
        resolve_squares(generator, position, parts, matches);
        return matches.result(after);
    }
    // A target holding a piece of the mover's colour is never reached.
    if (has(position.pieces_of(us), parts.to)) return std::unexpected(SanError::illegal);
    Bitboard from = from_squares(parts);
    PieceType piece = static_cast<PieceType>(parts.piece);
    if (parts.piece == SanParts::ANY) {
        // A pawn; one that captures has its file written.
        piece = PAWN;
        if (parts.from_file == SanParts::ANY) from &= FILE_A_SQUARES << file_of(parts.to);
    }
    moves_to(generator, position, piece, from, parts.to, parts.promotion, matches);
    return matches.result(after);
}

std::expected<ChessMove, SanError> resolve_san(const MoveGenerator& generator, const Position& position,
                                               const SanParts& parts) {
    Position after;
    return resolve_san(generator, position, parts, after);
}

std::size_t write_san(const MoveGenerator& generator, const Position& position, const MoveList& legal,
                      ChessMove move, char* out) {
    char* o = out;
    const Color us = position.side_to_move();
    const Square from = move.from(), to = move.to();
    const MoveRoles roles = move_roles(position.pieces, position.occupancy(), move);
    const PieceType piece = type_of(roles.mover);
    if (move.special() == CASTLING) {
        const std::string_view castling = file_of(to) < file_of(from) ? "O-O-O" : "O-O";
        o += castling.copy(o, castling.size());
    } else {
        const bool capture = has(position.pieces_of(~us), to) || move.special() == EN_PASSANT;
        if (piece != PAWN) {
            *o++ = PIECE_LETTERS[piece];
            // The other pieces of its kind that can go there legally.
            Bitboard others = 0;
            const Bitboard kind = position.pieces[make_piece(us, piece)];
            for (const ChessMove m : legal)
                if (m.to() == to && m.from() != from && has(kind, m.from())) others |= square_bit(m.from());
            if (others) {
                const bool rank_shared = others & (RANK_1_SQUARES << (8 * rank_of(from)));
                const bool file_shared = others & (FILE_A_SQUARES << file_of(from));
                if (rank_shared || !file_shared) *o++ = static_cast<char>('a' + file_of(from));
                if (file_shared) *o++ = static_cast<char>('1' + rank_of(from));
            }
        } else if (capture) {
            *o++ = static_cast<char>('a' + file_of(from));
        }
        if (capture) *o++ = 'x';
        write_square(o, to);
        o += 2;
        if (is_promotion(move.special())) {
            *o++ = '=';
            *o++ = PIECE_LETTERS[promotion_type(move.special())];
        }
    }
    const Position after = position.after(move, roles);
    if (generator.king_attacked(after.pieces, ~us)) *o++ = generator.perft(after, 1) == 0 ? '#' : '+';
    return static_cast<std::size_t>(o - out);
}

std::size_t write_san(const MoveGenerator& generator, const Position& position, ChessMove move, char* out) {
    MoveList legal;
    generator.moves(position, legal);
    for (const ChessMove m : legal)
        if (m.from() == move.from() && m.to() == move.to() && promotion_code(m) == promotion_code(move))
            return write_san(generator, position, legal, m, out);
    return 0;
}

std::string san_error_message(SanError error, std::string_view text, const Board& board) {
    const std::string where = " in " + board.to_fen();
    switch (error) {
        case SanError::invalid: return "Invalid SAN " + quoted(text) + where;
        case SanError::ambiguous: return "Ambiguous SAN " + quoted(text) + where;
        case SanError::null_move: return "Illegal SAN " + quoted(text) + where + ": a null move cannot be played";
        case SanError::illegal: break;
    }
    return "Illegal SAN " + quoted(text) + where;
}

std::string san_error_at_ply(SanError error, std::string_view text, std::size_t ply) {
    const std::string at = " at ply " + std::to_string(ply);
    switch (error) {
        case SanError::invalid: return "invalid SAN " + quoted(text) + at;
        case SanError::ambiguous: return "ambiguous SAN " + quoted(text) + at;
        case SanError::null_move: return "null move " + quoted(text) + at;
        case SanError::illegal: break;
    }
    return "illegal SAN " + quoted(text) + at;
}

}  // namespace mirelo
