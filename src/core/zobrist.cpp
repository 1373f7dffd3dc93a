#include "zobrist.h"

#include <tuple>

#include "random.h"

namespace mirelo {

namespace {

constexpr std::uint64_t SEED_64 = 0;
constexpr std::uint64_t INCREMENT_64 = 9;
constexpr std::uint64_t SEED_16 = 404;
constexpr std::uint64_t INCREMENT_16 = 3;

struct TablePair {
    ZobristTable64 z64;
    ZobristTable16 z16;
};

// A function-local static: built once, by whichever thread first asks,
// while any other waits for it.
const TablePair& shared_tables() {
    static const TablePair tables{ZobristTable64::make(SEED_64), ZobristTable16::make(SEED_16)};
    return tables;
}

}  // namespace

template <typename T>
ZobristLookupTable<T> ZobristLookupTable<T>::make(std::uint64_t seed) {
    Rng rng = Rng::new_deterministic(seed, sizeof(T) == 8 ? INCREMENT_64 : INCREMENT_16);
    ZobristLookupTable table;
    for (T& feature : table.features) feature = static_cast<T>(rng.random());
    return table;
}

template struct ZobristLookupTable<std::uint64_t>;
template struct ZobristLookupTable<std::uint16_t>;

std::pair<std::uint64_t, std::uint16_t> zobrist_keys(const ZobristTable64& z64, const ZobristTable16& z16,
                                                     const Pieces& pieces,
                                                     std::uint64_t info) {
    std::uint64_t key = 0;
    std::uint16_t key16 = 0;
    for (Piece p = W_PAWN; p <= B_KING; ++p) {
        for (Bitboard b = pieces[p]; b;) {
            const std::size_t i = p * SQUARE_NB + pop_lowest(b);
            key ^= z64.features[i];
            key16 ^= z16.features[i];
        }
    }
    for (unsigned bit = 0; bit < INFO_FEATURE_BITS; ++bit) {
        if ((info >> bit) & 1) {
            key ^= z64.features[INFO_FEATURE_BASE + bit];
            key16 ^= z16.features[INFO_FEATURE_BASE + bit];
        }
    }
    return {key, key16};
}

ZobristBoardComponent ZobristBoardComponent::make(const Pieces& pieces, std::uint64_t info) {
    const TablePair& tables = shared_tables();
    ZobristBoardComponent component;
    std::tie(component.z_key, component.z_key16) = zobrist_keys(tables.z64, tables.z16, pieces, info);
    component.z64 = &tables.z64;
    component.z16 = &tables.z16;
    return component;
}

}  // namespace mirelo
