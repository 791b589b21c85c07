#pragma once

#include <QByteArray>
#include <QHash>

#include <list>
#include <utility>

// A map from byte strings (peers' public keys) to values that holds at most a fixed number of
// entries: when it is full, a new entry replaces the one used least recently. Finding an entry
// counts as using it and allocates nothing.
template <typename Value>
class LruCache {
public:
    explicit LruCache(int capacity) : capacity_(capacity) { index_.reserve(capacity); }

    // The value kept for key, now the most recently used, or nullptr.
    Value *find(const QByteArray &key)
    {
        const auto found = index_.constFind(key);
        if (found == index_.cend())
            return nullptr;
        order_.splice(order_.begin(), order_, found.value());
        return &order_.front().second;
    }

    // Keeps value for key (replacing any value it had) as the most recently used entry.
    Value &insert(const QByteArray &key, Value value)
    {
        if (Value *old = find(key)) {
            *old = std::move(value);
            return *old;
        }
        if (int(order_.size()) >= capacity_) {
            index_.remove(order_.back().first);
            order_.pop_back();
        }
        order_.emplace_front(key, std::move(value));
        index_.insert(key, order_.begin());
        return order_.front().second;
    }

    void clear()
    {
        index_.clear();
        order_.clear();
    }

    int size() const { return int(order_.size()); }

    // Calls visit(key, value) for each entry, the most recently used first.
    template <typename Visit>
    void forEach(Visit visit) const
    {
        for (const auto &[key, value] : order_)
            visit(key, value);
    }

private:
    using Entries = std::list<std::pair<QByteArray, Value>>;
    int capacity_;
    Entries order_; // most recently used first
    QHash<QByteArray, typename Entries::iterator> index_;
};
