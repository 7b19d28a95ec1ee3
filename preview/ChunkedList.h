#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <vector>

// A list that grows by chunks of fixed size: what it holds is never copied as it grows, at most
// one chunk is left partly unused, and freeing it takes one call a chunk. A program of millions
// of moves costs little more than its moves, and dropping it does not hold up the thread that
// does.
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
        if (m_size == m_chunks.size() * kChunk)
            m_chunks.push_back(std::make_unique<T[]>(kChunk));
        (*this)[m_size++] = value;
    }

private:
    std::vector<std::unique_ptr<T[]>> m_chunks;
    std::size_t m_size = 0;
};
