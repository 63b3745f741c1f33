// A fixed-capacity list that never touches the heap: used wherever the key
// event path must not allocate (held keys, pass-through entries, the keys of
// one signature combination, the Linux pipeline's modifier bookkeeping).
// Copies move only the elements in use, and removal in the middle keeps the
// order of the rest (held keys are released in any order).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <initializer_list>
#include <span>

namespace chordwell {

template <typename T, std::size_t Capacity> class InlineList {
public:
    InlineList() = default;
    InlineList(std::initializer_list<T> values) {
        for (const T& v : values) {
            push_back(v);
        }
    }
    InlineList(const InlineList& other) : count_(other.count_) {
        std::copy_n(other.items_.begin(), count_, items_.begin());
    }
    InlineList& operator=(const InlineList& other) {
        if (this != &other) {
            count_ = other.count_;
            std::copy_n(other.items_.begin(), count_, items_.begin());
        }
        return *this;
    }

    static constexpr std::size_t capacity() { return Capacity; }
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    bool full() const { return count_ == Capacity; }
    void clear() { count_ = 0; }

    /// Appends when there is room; returns false (and drops the value) when full.
    bool push_back(const T& value) {
        if (count_ == Capacity) {
            return false;
        }
        items_[count_++] = value;
        return true;
    }
    /// Removes the element at `index`, keeping the order of the rest.
    void erase(std::size_t index) {
        if (index >= count_) {
            return;
        }
        std::copy(items_.begin() + static_cast<std::ptrdiff_t>(index) + 1,
                  items_.begin() + static_cast<std::ptrdiff_t>(count_),
                  items_.begin() + static_cast<std::ptrdiff_t>(index));
        --count_;
    }
    /// Index of the first element equal to `value`, or size() when absent.
    std::size_t find(const T& value) const {
        for (std::size_t i = 0; i < count_; ++i) {
            if (items_[i] == value) {
                return i;
            }
        }
        return count_;
    }
    bool contains(const T& value) const { return find(value) != count_; }
    /// Removes the first element equal to `value`; false when absent.
    bool eraseFirst(const T& value) {
        const std::size_t i = find(value);
        if (i == count_) {
            return false;
        }
        erase(i);
        return true;
    }

    const T& operator[](std::size_t i) const { return items_[i]; }
    T& operator[](std::size_t i) { return items_[i]; }
    const T* begin() const { return items_.data(); }
    const T* end() const { return items_.data() + count_; }
    T* begin() { return items_.data(); }
    T* end() { return items_.data() + count_; }
    std::span<const T> span() const { return {items_.data(), count_}; }

    /// Equal when the elements in use are equal; unused slots do not count.
    friend bool operator==(const InlineList& a, const InlineList& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    std::array<T, Capacity> items_{};
    std::size_t count_ = 0;
};

} // namespace chordwell
