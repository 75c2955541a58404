#include <algorithm>
#include <new>

#include "sim/machine_impl.h"

namespace sim {

void machine::fail(operation op, platform::error_code error, std::wstring subject, int times) {
    std::lock_guard guard(impl_->lock);
    if (times <= 0) return;
    impl_->faults.pending.push_back({op, error, file_tree_key(subject), times});
}

void machine::fail_after(int passing, operation op, platform::error_code error,
                         std::wstring subject, int times) {
    std::lock_guard guard(impl_->lock);
    if (times <= 0) return;
    impl_->faults.pending.push_back(
        {op, error, file_tree_key(subject), times, std::max(passing, 0)});
}

void machine::fail_with_exception(operation op) {
    std::lock_guard guard(impl_->lock);
    impl_->faults.throwing.push_back(op);
}

int machine::calls(operation op) const {
    std::lock_guard guard(impl_->lock);
    return impl_->faults.calls[static_cast<std::size_t>(op)];
}

std::optional<platform::error_code> machine::impl::enter(operation op,
                                                         const std::wstring& subject) {
    ++faults.calls[static_cast<std::size_t>(op)];
    run_swaps(op, file_tree_key(subject));
    if (const auto found = std::find(faults.throwing.begin(), faults.throwing.end(), op);
        found != faults.throwing.end()) {
        faults.throwing.erase(found);
        throw std::bad_alloc();
    }
    // Subjects go through the same form as file-tree paths; a process identifier or an
    // error code in decimal is unchanged by it.
    const std::wstring key = file_tree_key(subject);
    auto& pending = faults.pending;
    for (auto it = pending.begin(); it != pending.end(); ++it) {
        if (it->op != op || (!it->subject_key.empty() && it->subject_key != key)) continue;
        if (it->passing > 0) {
            --it->passing;
            return std::nullopt;
        }
        const platform::error_code error = it->error;
        if (--it->remaining == 0) pending.erase(it);
        return error;
    }
    return std::nullopt;
}

}  // namespace sim
