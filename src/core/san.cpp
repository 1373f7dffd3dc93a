#include "san.h"

#include <array>
#include <optional>

#include "attacks.h"
#include "text.h"

namespace mirelo {

namespace {



// The classes of the characters before the target square, in the order the
// pattern takes them: piece letter, file, rank, separator.
enum PrefixClass : std::int8_t { NOT_PREFIX = -1, PIECE_LETTER, FILE_LETTER, RANK_DIGIT, SEPARATOR };

constexpr std::array<std::int8_t, 256> make_prefix_classes() {
    std::array<std::int8_t, 256> classes{};
    classes.fill(NOT_PREFIX);
    for (const char c : std::string_view("NBKRQ")) classes[static_cast<unsigned char>(c)] = PIECE_LETTER;
    for (char c = 'a'; c <= 'h'; ++c) classes[static_cast<unsigned char>(c)] = FILE_LETTER;
    for (char c = '1'; c <= '8'; ++c) classes[static_cast<unsigned char>(c)] = RANK_DIGIT;
    classes['-'] = classes['x'] = SEPARATOR;
    return classes;
}

constexpr std::array<std::int8_t, 256> PREFIX_CLASSES = make_prefix_classes();

constexpr int prefix_class(char c) { return PREFIX_CLASSES[static_cast<unsigned char>(c)]; }

constexpr PieceType piece_of_letter(char c) {
    switch (c) {
        case 'N': return KNIGHT;
        case 'B': return BISHOP;
        case 'R': return ROOK;
        case 'Q': return QUEEN;
        default: return KING;
    }
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
    if (parts.from_file != SanParts::ANY) squares &= FILE_A << parts.from_file;
    if (parts.from_rank != SanParts::ANY) squares &= RANK_1 << (8 * parts.from_rank);
    return squares;
}

// The search for the legal moves a SAN names: the candidate moves of the
// pieces it can mean, each kept when the generator's legality filter would
// keep it (the board can play it and it leaves the mover's king unattacked).
class Search {
public:
    Search(const MoveGenerator& generator, const Position& position, unsigned promotion, bool no_square_twice)
        : generator_(generator),
          tables_(attack_tables()),
          position_(position),
          us_(position.side_to_move()),
          own_(position.pieces_of(us_)),
          theirs_(position.pieces_of(~us_)),
          occupied_(own_ | theirs_),
          promotion_(promotion) {
        const Bitboard king = position.pieces[make_piece(us_, KING)];
        // With one king and no square held twice, a move's safety is decided
        // without playing it, as the generator decides it.
        ordinary_ = king && !(king & (king - 1)) && (no_square_twice || !squares_held_twice(position.pieces));
        king_ = ordinary_ ? lowest(king) : SQ_A1;
    }

    // Every pseudo-legal move of a piece of the side to move of the given
    // type from a square of from onto to, coded as the generator codes it.
    // Castling is not among them: a king's move names it only by its squares.
    void moves_to(PieceType piece, Bitboard from, Square to) {
        if (piece == PAWN) return pawn_moves_to(from, to);
        const Bitboard own = position_.pieces[make_piece(us_, piece)] & from;
        Bitboard origins = 0;
        switch (piece) {
            case KNIGHT: origins = KNIGHT_ATTACKS[to]; break;
            case BISHOP: origins = tables_.slider_attacks(to, occupied_, BISHOP); break;
            case ROOK: origins = tables_.slider_attacks(to, occupied_, ROOK); break;
            case QUEEN:
                origins = tables_.slider_attacks(to, occupied_, ROOK) |
                          tables_.slider_attacks(to, occupied_, BISHOP);
                break;
            default: origins = KING_ATTACKS[to]; break;
        }
        for (origins &= own; origins;) consider(ChessMove::raw(pop_lowest(origins), to, ORDINARY), piece == KING);
    }

    // The castling move from from to to, if it is legal; the generator's
    // list decides, as castling is rare and its conditions are the
    // generator's own.
    void castling_move(Square from, Square to) {
        if (promotion_ != 0) return;  // a king never promotes
        MoveList legal;
        generator_.moves(position_, legal);
        for (const ChessMove move : legal)
            if (move.special() == CASTLING && move.from() == from && move.to() == to) return keep(move);
    }

    std::expected<ChessMove, SanError> result(Position& after) const {
        if (count_ == 0) return std::unexpected(SanError::illegal);
        if (count_ > 1) return std::unexpected(SanError::ambiguous);
        after = position_.after(found_[0], move_roles(position_.pieces, occupied_, found_[0]));
        return found_[0];
    }

    // The squares the legal moves found start from.
    Bitboard origins() const {
        Bitboard squares = 0;
        for (unsigned i = 0; i < count_; ++i) squares |= square_bit(found_[i].from());
        return squares;
    }

    // The legal move found from the given square, if any.
    std::optional<ChessMove> found_from(Square from) const {
        for (unsigned i = 0; i < count_; ++i)
            if (found_[i].from() == from) return found_[i];
        return std::nullopt;
    }

private:
    // A promotion is tried once, with the piece asked for (a queen when none
    // is: it then matches nothing).
    void pawn_moves_to(Bitboard from, Square to) {
        const SideFacts& ours = side(us_);
        const Bitboard pawns = position_.pieces[make_piece(us_, PAWN)] & from;
        const bool promoting = rank_of(to) == relative_rank(us_, 7);
        const unsigned step = promoting ? (is_promotion(promotion_) ? promotion_ : PROMOTE_QUEEN) : ORDINARY;
        // The generator's en-passant targets: the flag decides.
        const Bitboard en_passant_targets = ((position_.info >> ours.en_passant_bit) & 0xFF)
                                            << (8 * static_cast<int>(ours.en_passant_rank + ours.forward));
        for (Bitboard b = PAWN_ATTACKS[~us_][to] & pawns; b;) {
            const Square origin = pop_lowest(b);
            if (has(theirs_, to)) consider(ChessMove::raw(origin, to, step), false);
            if (has(en_passant_targets, to)) consider(ChessMove::raw(origin, to, EN_PASSANT), false);
        }
        const int one = static_cast<int>(to) - ours.pawn_push;
        if (has(occupied_, to) || one < 0 || one > 63) return;
        if (has(pawns, static_cast<Square>(one)))
            return consider(ChessMove::raw(static_cast<Square>(one), to, step), false);
        const int two = one - ours.pawn_push;
        if (two < 0 || two > 63 || has(occupied_, static_cast<Square>(one))) return;
        if (rank_of(static_cast<Square>(two)) == ours.start_rank && has(pawns, static_cast<Square>(two)))
            consider(ChessMove::raw(static_cast<Square>(two), to, DOUBLE_STEP), false);
    }

    void consider(ChessMove move, bool king_moves) {
        if (promotion_code(move) == promotion_ && safe(move, king_moves)) keep(move);
    }

    // Does the move leave the mover's king unattacked? On an ordinary board
    // only the move's squares change the attacks on the king: the mover
    // leaves one and blocks the other, where a captured piece stops
    // attacking. En passant takes a piece off a third square and is played.
    bool safe(ChessMove move, bool king_moves) const {
        const Square to = move.to();
        if (ordinary_ && move.special() != EN_PASSANT) {
            if (has(own_, to)) return false;
            const Bitboard occupied = (occupied_ ^ square_bit(move.from())) | square_bit(to);
            return !(tables_.attackers_to(position_.pieces, king_moves ? to : king_, ~us_, occupied) &
                     ~square_bit(to));
        }
        const MoveRoles roles = move_roles(position_.pieces, occupied_, move);
        if (roles.problem != MoveRoles::Problem::none) return false;
        Pieces after = position_.pieces;
        apply_move(after, move, roles);
        return !tables_.king_attacked(after, us_);
    }

    void keep(ChessMove move) {
        if (count_ < found_.size()) found_[count_++] = move;
    }

    const MoveGenerator& generator_;
    const AttackTables& tables_;
    const Position& position_;
    Color us_;
    Bitboard own_, theirs_, occupied_;
    unsigned promotion_;
    bool ordinary_;
    Square king_;
    // No square is reached from more than 64 others, even with each move
    // found twice (an en-passant flag on a piece).
    unsigned count_ = 0;
    std::array<ChessMove, 64> found_;
};

// A move named by both its squares and no piece letter: the one legal move
// with those squares and that promotion. A king's move onto its own rook's
// corner names castling; a pawn reaching the last rank needs a promotion.
void resolve_squares(const Position& position, const SanParts& parts, Search& search) {
    const Square from = make_square(parts.from_file, parts.from_rank);
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
    const Piece piece = piece_on(position.pieces, from, occupied);
    if (piece == NO_PIECE || color_of(piece) != position.side_to_move()) return;
    const PieceType type = type_of(piece);
    if (type == KING && (file_of(to) + 2 == file_of(from) || file_of(from) + 2 == file_of(to)))
        return search.castling_move(from, to);
    search.moves_to(type, square_bit(from), to);
}

}  // namespace

std::size_t match_san_move(const char* begin, const char* end, SanParts& out) {
    // The classes of the first bytes, NOT_PREFIX past the end: the prefix and
    // the target take at most six.
    const std::size_t size = static_cast<std::size_t>(end - begin);
    std::array<int, 6> classes;
    for (std::size_t i = 0; i < classes.size(); ++i) classes[i] = i < size ? prefix_class(begin[i]) : NOT_PREFIX;
    // Each optional part is taken before it is left out, so the first match a
    // backtracking engine finds has the longest prefix of characters in class
    // order that still leaves a target square after it.
    std::size_t length = 0;
    while (length < 4 && classes[length] > (length ? classes[length - 1] : NOT_PREFIX)) ++length;
    while (classes[length] != FILE_LETTER || classes[length + 1] != RANK_DIGIT)
        if (length-- == 0) return 0;
    out = SanParts{};
    for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<std::uint8_t>(begin[i]);
        switch (classes[i]) {
            case PIECE_LETTER: out.piece = static_cast<std::uint8_t>(piece_of_letter(begin[i])); break;
            case FILE_LETTER: out.from_file = static_cast<std::uint8_t>(byte - 'a'); break;
            case RANK_DIGIT: out.from_rank = static_cast<std::uint8_t>(byte - '1'); break;
            default: break;
        }
    }
    out.to = make_square(static_cast<unsigned>(begin[length] - 'a'), static_cast<unsigned>(begin[length + 1] - '1'));
    std::size_t taken = length + 2;
    if (taken + 1 < size && begin[taken] == '=' && promotion_of_letter(begin[taken + 1])) ++taken;
    if (taken < size && promotion_of_letter(begin[taken])) out.promotion = promotion_of_letter(begin[taken++]);
    return taken;
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
                                               const SanParts& parts, Position& after, bool no_square_twice) {
    const Color us = position.side_to_move();
    Search search(generator, position, parts.promotion, no_square_twice);
    switch (parts.kind) {
        case SanParts::NULL_MOVE:
            return std::unexpected(SanError::null_move);
        case SanParts::KING_SIDE_CASTLING:
        case SanParts::QUEEN_SIDE_CASTLING: {
            const CastlingSide cs = parts.kind == SanParts::KING_SIDE_CASTLING ? KING_SIDE : QUEEN_SIDE;
            search.castling_move(side(us).king_home, side(us).castling[cs].king_to);
            return search.result(after);
        }
        case SanParts::MOVE:
            break;
    }
    if (parts.piece == SanParts::ANY && parts.from_file != SanParts::ANY && parts.from_rank != SanParts::ANY) {
        resolve_squares(position, parts, search);
        return search.result(after);
    }
    // A target holding a piece of the mover's colour is never reached.
    if (has(position.pieces_of(us), parts.to)) return std::unexpected(SanError::illegal);
    Bitboard from = from_squares(parts);
    PieceType piece = static_cast<PieceType>(parts.piece);
    if (parts.piece == SanParts::ANY) {
        // A pawn; one that captures has its file written.
        piece = PAWN;
        if (parts.from_file == SanParts::ANY) from &= FILE_A << file_of(parts.to);
    }
    search.moves_to(piece, from, parts.to);
    return search.result(after);
}

std::expected<ChessMove, SanError> resolve_san(const MoveGenerator& generator, const Position& position,
                                               const SanParts& parts) {
    Position after;
    return resolve_san(generator, position, parts, after);
}

namespace {

// The SAN of a legal move; others holds the squares from which another piece
// of its kind can go to the same square legally.
std::size_t write_legal_san(const MoveGenerator& generator, const Position& position, ChessMove move,
                            Bitboard others, char* out) {
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
            if (others) {
                const bool rank_shared = others & (RANK_1 << (8 * rank_of(from)));
                const bool file_shared = others & (FILE_A << file_of(from));
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
    // Mate: no legal reply, counted without listing the replies.
    const Position after = position.after(move, roles);
    if (attack_tables().king_attacked(after.pieces, ~us)) *o++ = generator.perft(after, 1) == 0 ? '#' : '+';
    return static_cast<std::size_t>(o - out);
}

}  // namespace

std::size_t write_san(const MoveGenerator& generator, const Position& position, const MoveList& legal,
                      ChessMove move, char* out) {
    // The other pieces of its kind that can go there legally; castling goes
    // to its rook's square for python-chess, which is never a move's target.
    Bitboard others = 0;
    const Piece mover = piece_on(position.pieces, move.from(), position.occupancy());
    if (mover != NO_PIECE && type_of(mover) != PAWN)
        for (const ChessMove m : legal)
            if (m.to() == move.to() && m.from() != move.from() && m.special() != CASTLING &&
                has(position.pieces[mover], m.from()))
                others |= square_bit(m.from());
    return write_legal_san(generator, position, move, others, out);
}

std::size_t write_san(const MoveGenerator& generator, const Position& position, ChessMove move, char* out) {
    // The moves of the mover's kind onto the target tell both whether the
    // move is legal and which others need telling apart from it.
    const Square from = move.from(), to = move.to();
    const Piece mover = piece_on(position.pieces, from, position.occupancy());
    if (mover == NO_PIECE || color_of(mover) != position.side_to_move()) return 0;
    Search search(generator, position, promotion_code(move), false);
    const PieceType piece = type_of(mover);
    if (piece == KING && (file_of(to) + 2 == file_of(from) || file_of(from) + 2 == file_of(to)))
        search.castling_move(from, to);
    else
        search.moves_to(piece, ~Bitboard{0}, to);
    const auto legal = search.found_from(from);
    if (!legal) return 0;
    const Bitboard others = piece == PAWN ? 0 : search.origins() & ~square_bit(from);
    return write_legal_san(generator, position, *legal, others, out);
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
