#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <memory>
#include <vector>

// A list that grows by chunks of fixed size: what it holds is never copied as it grows (but for
// the first chunk, while it fills), at most one chunk is left partly unused, and freeing it takes
// one call a chunk. A program of millions of moves costs little more than its moves, and dropping
// it does not hold up the thread that does.
template <typename T, std::size_t kChunk = 4096> class ChunkedList
{
public:
    class const_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = const T *;
        using reference = const T &;

        const_iterator(const ChunkedList *list, std::size_t index) : m_list(list), m_index(index) {}
        const T &operator*() const { return (*m_list)[m_index]; }
        const T *operator->() const { return &(*m_list)[m_index]; }
        const_iterator &operator++()
        {
            ++m_index;
            return *this;
        }
        bool operator==(const const_iterator &other) const { return m_index == other.m_index; }
        bool operator!=(const const_iterator &other) const { return m_index != other.m_index; }

    private:
        const ChunkedList *m_list;
        std::size_t m_index;
    };

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const T &operator[](std::size_t i) const { return m_chunks[i / kChunk][i % kChunk]; }
    T &operator[](std::size_t i) { return m_chunks[i / kChunk][i % kChunk]; }
    const T &back() const { return (*this)[m_size - 1]; }
    T &back() { return (*this)[m_size - 1]; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, m_size}; }

    void push_back(const T &value)
    {
        if (m_size == m_capacity)
            grow();
        (*this)[m_size++] = value;
    }

private:
    // The first chunk grows by doubling up to its full size, so that a short list stays small
    // (copying at most one chunk in all); every later chunk comes whole.
    void grow()
    {
        if (m_size < kChunk) {
            const std::size_t capacity = std::min(kChunk, std::max<std::size_t>(64, m_size * 2));
            auto first = std::make_unique<T[]>(capacity);
            if (!m_chunks.empty())
                std::copy(m_chunks[0].get(), m_chunks[0].get() + m_size, first.get());
            else
                m_chunks.emplace_back();
            m_chunks[0] = std::move(first);
            m_capacity = capacity;
        } else {
            m_chunks.push_back(std::make_unique<T[]>(kChunk));
            m_capacity += kChunk;
        }
    }

    std::vector<std::unique_ptr<T[]>> m_chunks;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};
