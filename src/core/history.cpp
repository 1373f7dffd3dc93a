#include "history.h"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

namespace mirelo {

namespace {

// The least storage worth allocating: half a dozen moves or so.
constexpr std::size_t MIN_CAPACITY = 16;

constexpr std::size_t MAX_CAPACITY = std::numeric_limits<std::uint32_t>::max();

std::uint64_t* allocate(std::size_t capacity) {
    if (capacity > MAX_CAPACITY) throw std::bad_alloc();
    return new std::uint64_t[capacity];
}

}  // namespace

History::History(const History& other) {
    // Room for one more move: a copy is often played on at once.
    const std::size_t capacity = other.size_ == 0 ? 0 : other.size_ + MAX_MOVE_WORDS;
    take_words(other, capacity == 0 ? nullptr : allocate(capacity), capacity, false);
}

History::History(const History& other, std::uint64_t* storage, std::size_t capacity) {
    if (capacity < other.size_) fail("Lent history storage is too small");
    take_words(other, storage, capacity, true);
}

History::History(History&& other) noexcept { steal(other); }

History& History::operator=(const History& other) {
    if (this != &other) *this = History(other);
    return *this;
}

History& History::operator=(History&& other) noexcept {
    if (this != &other) {
        release();
        steal(other);
    }
    return *this;
}

void History::release() noexcept {
    if (!lent_) delete[] words_;
}

void History::steal(History& other) noexcept {
    words_ = std::exchange(other.words_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    moves_ = std::exchange(other.moves_, 0);
    lent_ = std::exchange(other.lent_, false);
}

void History::take_words(const History& other, std::uint64_t* storage, std::size_t capacity, bool lent) noexcept {
    std::copy_n(other.words_, other.size_, storage);
    words_ = storage;
    size_ = other.size_;
    capacity_ = static_cast<std::uint32_t>(std::min(capacity, MAX_CAPACITY));
    moves_ = other.moves_;
    lent_ = lent;
}

std::size_t History::wanted_capacity() const { return std::max(2 * std::size_t{size_} + MAX_MOVE_WORDS, MIN_CAPACITY); }

void History::relocate(std::uint64_t* storage, std::size_t capacity, bool lent) noexcept {
    std::copy_n(words_, size_, storage);
    release();
    words_ = storage;
    capacity_ = static_cast<std::uint32_t>(std::min(capacity, MAX_CAPACITY));
    lent_ = lent;
}

void History::lend(std::uint64_t* storage, std::size_t capacity) {
    if (capacity < size_) fail("Lent history storage is too small");
    relocate(storage, capacity, true);
}

void History::grow() {
    // Lent storage is the lender's to grow; every caller asks has_room() first.
    if (lent_) fail("No room in lent history storage");
    const std::size_t capacity = wanted_capacity();
    relocate(allocate(capacity), capacity, false);
}

bool operator==(const History& a, const History& b) {
    return a.moves_ == b.moves_ && a.size_ == b.size_ && std::equal(a.words_, a.words_ + a.size_, b.words_);
}

}  // namespace mirelo
