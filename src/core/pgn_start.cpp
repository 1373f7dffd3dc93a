#include "pgn_start.h"

#include <array>
#include <bit>

#include "text.h"

namespace mirelo {

namespace {

constexpr Bitboard CORNERS = 0x8100000000000081ULL;

constexpr Bitboard back_rank(Color c) { return c == WHITE ? RANK_1 : RANK_1 << 56; }

bool same_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] | 0x20) : a[i];
        if (x != b[i]) return false;
    }
    return true;
}

// Python's str.split(): the fields between runs of white space; up to max
// fields are stored and the number of fields is returned.
std::size_t split_python_fields(std::string_view text, std::string_view* out, std::size_t max) {
    const char* p = text.data();
    const char* end = p + text.size();
    std::size_t count = 0;
    while ((p = skip_python_space(p, end)) < end) {
        const char* field = p;
        while (p < end && skip_python_space(p, end) == p) p += decode_utf8({p, static_cast<std::size_t>(end - p)}, 0).length;
        if (count < max) out[count] = {field, static_cast<std::size_t>(p - field)};
        ++count;
    }
    return count;
}

// Python's int() of a counter: [+-]?[0-9](_?[0-9])*, and not below zero.
bool is_counter(std::string_view text) {
    std::size_t i = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
    const bool minus = i == 1 && text[0] == '-';
    bool digit_before = false, nonzero = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_' && digit_before && i + 1 < text.size()) {
            digit_before = false;
            continue;
        }
        if (c < '0' || c > '9') return false;
        digit_before = true;
        nonzero = nonzero || c != '0';
    }
    return digit_before && !(minus && nonzero);
}

// The pieces of a FEN board field that python-chess accepts: eight rows of
// eight squares, no two digits in a row, "~" (a promoted piece) only after a
// piece, which is ignored. The Kelvin sign is a "K" to python-chess, as its
// lower case is "k". The field is also written out in plain letters.
bool read_placement(std::string_view field, Pieces& pieces, std::string& plain) {
    pieces = {};
    unsigned rank = 8;  // one above the row being read
    for (std::size_t row_begin = 0; row_begin <= field.size(); --rank) {
        std::size_t row_end = field.find('/', row_begin);
        if (row_end == std::string_view::npos) row_end = field.size();
        if (rank == 0) return false;  // a ninth row
        bool digit_before = false, piece_before = false;
        unsigned file = 0;
        for (std::size_t pos = row_begin; pos < row_end;) {
            const CodePoint c = decode_utf8(field, pos);
            pos += c.length;
            const char32_t letter = c.value == 0x212A ? U'K' : c.value;
            if (letter >= '1' && letter <= '8') {
                if (digit_before) return false;
                file += static_cast<unsigned>(letter - '0');
                plain += static_cast<char>(letter);
                digit_before = true, piece_before = false;
            } else if (letter == '~') {
                if (!piece_before) return false;
                digit_before = piece_before = false;
            } else if (letter < 0x80 && std::string_view(PIECE_LETTERS).find(static_cast<char>(letter)) !=
                                           std::string_view::npos) {
                const auto index = std::string_view(PIECE_LETTERS).find(static_cast<char>(letter));
                if (file < 8) pieces[index] |= square_bit(make_square(file, rank - 1));
                ++file;
                plain += static_cast<char>(letter);
                digit_before = false, piece_before = true;
            } else {
                return false;
            }
        }
        if (file != 8) return false;
        row_begin = row_end + 1;
        if (rank > 1) plain += '/';
    }
    return rank == 0;
}

// python-chess's castling field: each letter names a rook square (K and Q
// the outermost rooks beside the king, a file letter that file).
Bitboard castling_squares(const Pieces& pieces, std::string_view field) {
    if (field == "-") return 0;
    Bitboard squares = 0;
    for (const char flag : field) {
        const Color c = flag >= 'A' && flag <= 'Z' ? WHITE : BLACK;
        const char letter = static_cast<char>(flag | 0x20);
        const Bitboard rank = back_rank(c);
        const Bitboard rooks = pieces[make_piece(c, ROOK)] & rank;
        const Bitboard kings = pieces[make_piece(c, KING)];
        const int king = kings ? 63 - std::countl_zero(kings) : -1;
        if (letter == 'q') {
            const int rook = rooks ? std::countr_zero(rooks) : -1;
            squares |= king >= 0 && rook < king ? rooks & (~rooks + 1) : FILE_A & rank;
        } else if (letter == 'k') {
            const int rook = rooks ? 63 - std::countl_zero(rooks) : -1;
            squares |= king >= 0 && king < rook ? square_bit(static_cast<Square>(rook)) : (FILE_A << 7) & rank;
        } else {
            squares |= (FILE_A << (letter - 'a')) & rank;
        }
    }
    return squares;
}

bool castling_field_valid(std::string_view field) {
    if (field == "-") return true;
    std::size_t upper = 0;
    while (upper < field.size() && upper < 2 && (field[upper] == 'K' || field[upper] == 'Q' ||
                                                 (field[upper] >= 'A' && field[upper] <= 'H')))
        ++upper;
    std::size_t lower = 0;
    while (upper + lower < field.size() && lower < 2 &&
           (field[upper + lower] == 'k' || field[upper + lower] == 'q' ||
            (field[upper + lower] >= 'a' && field[upper + lower] <= 'h')))
        ++lower;
    return upper + lower == field.size();
}

// Rights that only Chess960 can have: after python-chess's Chess960
// cleaning (a king on the back rank, at most one rook on each side of it), a
// rook off the corners, or a king off its e-file square.
bool chess960_castling(const Pieces& pieces, Bitboard squares) {
    Bitboard kept = 0;
    for (const Color c : {WHITE, BLACK}) {
        const Bitboard rooks = squares & pieces[make_piece(c, ROOK)] & back_rank(c);
        const Bitboard kings = pieces[make_piece(c, KING)] & back_rank(c);
        if (!rooks || !kings) continue;
        const int king = 63 - std::countl_zero(kings);
        const int a_side = std::countr_zero(rooks), h_side = 63 - std::countl_zero(rooks);
        if (a_side < king) kept |= square_bit(static_cast<Square>(a_side));
        if (h_side > king) kept |= square_bit(static_cast<Square>(h_side));
    }
    if (kept & ~CORNERS) return true;
    for (const Color c : {WHITE, BLACK})
        if ((kept & back_rank(c)) && !has(pieces[make_piece(c, KING)], side(c).king_home)) return true;
    return false;
}

// The rights of standard chess that stay: king and rook at home.
std::string standard_castling(const Pieces& pieces, Bitboard squares) {
    std::string letters;
    for (const Color c : {WHITE, BLACK}) {
        if (!has(pieces[make_piece(c, KING)], side(c).king_home)) continue;
        for (const Castling& castling : side(c).castling)
            if (has(squares & pieces[make_piece(c, ROOK)], castling.rook_from))
                letters += CASTLING_LETTERS[castling.right - FIRST_CASTLING_RIGHT];
    }
    return letters.empty() ? "-" : letters;
}

}  // namespace

bool is_standard_variant(std::string_view name) {
    constexpr std::array<std::string_view, 16> STANDARD_NAMES = {
        "standard", "chess",  "classical", "normal", "illegal", "from position", "wild/0", "wild/1",
        "wild/2",   "wild/3", "wild/4",    "wild/5", "wild/6",  "wild/7",        "wild/8", "wild/8a"};
    for (const std::string_view standard : STANDARD_NAMES)
        if (same_ignoring_case(name, standard)) return true;
    return false;
}

std::expected<Board, std::string> start_from_fen_tag(std::string_view fen) {
    const auto refused = [&](std::string_view why) { return std::unexpected(std::string(why) + quoted(fen, 100)); };
    std::array<std::string_view, 6> fields{"", "w", "-", "-", "0", "1"};
    const std::size_t count = split_python_fields(fen, fields.data(), fields.size());
    Pieces pieces;
    std::string text;
    if (count == 0 || count > fields.size() || !read_placement(fields[0], pieces, text) ||
        (fields[1] != "w" && fields[1] != "b") || !castling_field_valid(fields[2]) || !is_counter(fields[4]) ||
        !is_counter(fields[5]))
        return refused("invalid FEN ");
    const std::string_view en_passant = fields[3];
    if (en_passant != "-" && (en_passant.size() != 2 || en_passant[0] < 'a' || en_passant[0] > 'h' ||
                              en_passant[1] < '1' || en_passant[1] > '8'))
        return refused("invalid FEN ");
    const Bitboard castling = castling_squares(pieces, fields[2]);
    if (chess960_castling(pieces, castling)) return refused(std::string(CHESS960_CASTLING) + " in FEN ");

    // The en-passant square is kept where a pawn that stepped twice passed:
    // empty, on the third rank of the side not to move.
    const Color us = fields[1] == "w" ? WHITE : BLACK;
    bool keep_en_passant = false;
    if (en_passant != "-") {
        const Square square = static_cast<Square>(en_passant[0] - 'a' + 8 * (en_passant[1] - '1'));
        keep_en_passant = rank_of(square) == relative_rank(us, 5) && !has(occupancy(pieces), square);
    }
    text += ' ';
    text += fields[1];
    text += ' ';
    text += standard_castling(pieces, castling);
    text += ' ';
    text += keep_en_passant ? en_passant : "-";
    return Board::from_fen(text);
}

}  // namespace mirelo
