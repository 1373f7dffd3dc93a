// Borrow flags: many readers or one writer per record, waiting for other
// threads and refusing the calling thread's own re-entry.
//
// The word is 0 when free, n for n shared borrows, all ones for one
// exclusive borrow. A writer that finds readers sets PENDING so that readers
// of other threads hold back until it has had its turn; without it a steady
// flow of overlapping readers could keep the word above 0 for ever.
//
// Which thread holds a record is not stored in the word: only Python code
// run while a face holds a record can make a thread meet its own borrow, and
// the face announces those holds (hold/unhold), which a thread keeps in a
// list of its own. A conflict with a record on that list is the thread's
// own re-entry and is refused; any other conflict is waited out.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstddef>
#include <memory>
#include <span>

namespace mirelo::capi {

using BorrowFlag = std::atomic<std::uintptr_t>;

enum class Access : bool { shared, exclusive };

// A borrow a call needs.
struct Claim {
    BorrowFlag* flag;
    Access access;
};

// Takes the borrow if the word admits it now, without waiting.
bool try_take(BorrowFlag& flag, Access access) noexcept;
void release(BorrowFlag& flag, Access access) noexcept;

// The borrows of one call, taken all or none and released when it ends:
// status() is MIRELO_OK, or the refusal of the first claim this thread itself
// holds in conflict. While other threads hold a claimed record it waits,
// holding none of the others meanwhile. A record claimed twice is taken once.
class Borrows {
public:
    explicit Borrows(std::span<const Claim> claims) noexcept : claims_(claims) {
        // Most calls find every record free: no waiting, no re-entry.
        std::size_t taken = 0;
        while (taken < claims.size() && try_take(*claims[taken].flag, claims[taken].access)) ++taken;
        if (taken < claims.size()) take_rest(taken);
    }
    ~Borrows() {
        if (status_ == 0)
            for (const Claim& c : claims_) release(*c.flag, c.access);
    }
    Borrows(const Borrows&) = delete;
    Borrows& operator=(const Borrows&) = delete;
    int status() const { return status_; }

private:
    void take_rest(std::size_t taken) noexcept;

    std::span<const Claim> claims_;
    std::unique_ptr<Claim[]> unique_;  // a batch naming one record twice, each record once
    int status_ = 0;
};

// A borrow held while Python code runs; see the file comment.
int hold(BorrowFlag& flag, Access access) noexcept;
void unhold(BorrowFlag& flag, Access access) noexcept;

// How a thread that must wait gives up its interpreter lock meanwhile.
using WaitHook = void (*)(void (*wait)(void*), void* context);
void set_wait_hook(WaitHook hook) noexcept;

// ---------------------------------------------------------------------------

namespace borrow_word {
constexpr std::uintptr_t EXCLUSIVE = ~std::uintptr_t{0};
// Above every reader count, below EXCLUSIVE: a writer waits for the readers.
constexpr std::uintptr_t PENDING = std::uintptr_t{1} << (sizeof(std::uintptr_t) * 8 - 2);
}  // namespace borrow_word

inline bool try_take(BorrowFlag& flag, Access access) noexcept {
    using namespace borrow_word;
    std::uintptr_t current = flag.load(std::memory_order_relaxed);
    if (access == Access::exclusive) {
        while (current == 0 || current == PENDING)
            if (flag.compare_exchange_weak(current, EXCLUSIVE, std::memory_order_acquire, std::memory_order_relaxed))
                return true;
        return false;
    }
    while (current < PENDING - 1)
        if (flag.compare_exchange_weak(current, current + 1, std::memory_order_acquire, std::memory_order_relaxed))
            return true;
    return false;
}

inline void release(BorrowFlag& flag, Access access) noexcept {
    if (access == Access::exclusive)
        flag.store(0, std::memory_order_release);
    else
        flag.fetch_sub(1, std::memory_order_release);
}

}  // namespace mirelo::capi
