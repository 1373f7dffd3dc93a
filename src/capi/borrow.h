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
#include <span>
#include <vector>

namespace mirelo::capi {

using BorrowFlag = std::atomic<std::uintptr_t>;

enum class Access : bool { shared, exclusive };

// A borrow a call needs.
struct Claim {
    BorrowFlag* flag;
    Access access;
};

// The borrows of one call, taken all or none and released when it ends:
// status() is MIRELO_OK, or the refusal of the first claim this thread itself
// holds in conflict. While other threads hold a claimed record it waits,
// holding none of the others meanwhile. A record claimed twice is taken once.
class Borrows {
public:
    explicit Borrows(std::span<const Claim> claims) noexcept;
    ~Borrows();
    Borrows(const Borrows&) = delete;
    Borrows& operator=(const Borrows&) = delete;
    int status() const { return status_; }

private:
    std::span<const Claim> claims_;
    std::vector<Claim> unique_;
    int status_;
};

// A borrow held while Python code runs; see the file comment.
int hold(BorrowFlag& flag, Access access) noexcept;
void unhold(BorrowFlag& flag, Access access) noexcept;

// How a thread that must wait gives up its interpreter lock meanwhile.
using WaitHook = void (*)(void (*wait)(void*), void* context);
void set_wait_hook(WaitHook hook) noexcept;

}  // namespace mirelo::capi
