#include <godot_cpp/variant/dictionary.hpp>

#include <deque>
#include <unordered_map>

#include <godot_cpp/variant/variant.hpp>

namespace godot {

// Entries in insertion order, indexed by key hash. A deque keeps references
// to values valid while later keys are added, as the engine's map does.
struct Dictionary::Data {
    std::deque<std::pair<Variant, Variant>> entries;
    std::unordered_multimap<size_t, size_t> index;

    const std::pair<Variant, Variant>* find(const Variant& p_key) const {
        auto range = index.equal_range(p_key.key_hash());
        for (auto it = range.first; it != range.second; ++it) {
            if (entries[it->second].first.same_key(p_key)) {
                return &entries[it->second];
            }
        }
        return nullptr;
    }

    Variant& find_or_insert(const Variant& p_key) {
        if (const auto* entry = find(p_key)) {
            return const_cast<Variant&>(entry->second);
        }
        index.emplace(p_key.key_hash(), entries.size());
        entries.emplace_back(p_key, Variant());
        return entries.back().second;
    }
};

Dictionary::Dictionary() : data_(std::make_shared<Data>()) {}

int64_t Dictionary::size() const {
    return static_cast<int64_t>(data_->entries.size());
}

bool Dictionary::has(const Variant& p_key) const {
    return data_->find(p_key) != nullptr;
}

Variant Dictionary::get(const Variant& p_key, const Variant& p_default) const {
    const auto* entry = data_->find(p_key);
    return entry ? entry->second : p_default;
}

void Dictionary::set(const Variant& p_key, const Variant& p_value) {
    // Copies first: either argument may refer into this dictionary.
    Variant key = p_key;
    Variant value = p_value;
    data_->find_or_insert(key) = std::move(value);
}

Array Dictionary::keys() const {
    Array result;
    for (const auto& entry : data_->entries) {
        result.push_back(entry.first);
    }
    return result;
}

const Variant& Dictionary::operator[](const Variant& p_key) const {
    static const Variant nil;
    const auto* entry = data_->find(p_key);
    return entry ? entry->second : nil;
}

Variant& Dictionary::operator[](const Variant& p_key) {
    return data_->find_or_insert(p_key);
}

bool Dictionary::operator==(const Dictionary& p_other) const {
    return Variant(*this) == Variant(p_other);
}

}  // namespace godot
