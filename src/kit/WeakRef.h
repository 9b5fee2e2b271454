// Weak references for long-lived owners that hand callbacks to others without keeping the
// target alive: a box holding one object weakly, and an ordered list of such boxes.
//
// The targets are shared objects (std::shared_ptr): a background thread that calls back
// must be able to hold the target for the length of the call, which a plain pointer or
// QPointer cannot promise. Widgets owned by their Qt parent use QPointer instead.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

// The index every "find" of the kit answers when there is no match.
inline constexpr int64_t kKitNotFound = std::numeric_limits<int64_t>::max();

template <class T>
class WeakRef {
public:
    WeakRef() = default;
    explicit WeakRef(const std::shared_ptr<T>& object) : m_object(object) {}
    WeakRef(const WeakRef&) = delete;
    WeakRef& operator=(const WeakRef&) = delete;

    static std::shared_ptr<WeakRef> withObject(const std::shared_ptr<T>& object)
    {
        return std::make_shared<WeakRef>(object);
    }

    // The object, held strongly for as long as the caller keeps the result; null once it has
    // gone. Safe from any thread.
    std::shared_ptr<T> object() const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_object.lock();
    }
    void setObject(const std::shared_ptr<T>& object)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_object = object;
    }

private:
    mutable std::mutex m_lock;
    std::weak_ptr<T> m_object;
};

// Not locked: for one thread (the main thread).
template <class T>
class WeakRefArray {
public:
    using Box = std::shared_ptr<WeakRef<T>>;

    // Appends a box for the object; the same object may be added more than once.
    void addObject(const std::shared_ptr<T>& object) { m_array.push_back(WeakRef<T>::withObject(object)); }
    void removeAllObjects() { m_array.clear(); }

    // The index of the first box whose object is this very object (identity, not equality),
    // or kKitNotFound. A null argument finds the first box whose object has gone.
    int64_t findObject(const std::shared_ptr<T>& object) const
    {
        for (size_t i = 0; i < m_array.size(); ++i) {
            if (m_array[i]->object().get() == object.get())
                return static_cast<int64_t>(i);
        }
        return kKitNotFound;
    }
    bool containsObject(const std::shared_ptr<T>& object) const { return findObject(object) != kKitNotFound; }

    // Removes the first box of the object; when it is not there, prunes the dead boxes instead.
    void removeObject(const std::shared_ptr<T>& object)
    {
        const int64_t index = findObject(object);
        if (index == kKitNotFound)
            sanitize();
        else
            m_array.erase(m_array.begin() + index);
    }

    // Drops the boxes whose object has gone. The list is replaced only when one was dead.
    void sanitize()
    {
        std::vector<Box> alive;
        alive.reserve(m_array.size());
        bool anyDead = false;
        for (const Box& box : m_array) {
            if (box->object())
                alive.push_back(box);
            else
                anyDead = true;
        }
        if (anyDead)
            m_array.swap(alive);
    }

    // The live objects in list order; dead boxes are skipped, not removed.
    std::vector<std::shared_ptr<T>> allObjects() const
    {
        std::vector<std::shared_ptr<T>> result;
        for (const Box& box : m_array) {
            if (auto object = box->object())
                result.push_back(std::move(object));
        }
        return result;
    }

    // Boxes held, dead ones included.
    size_t count() const { return m_array.size(); }
    const std::vector<Box>& boxes() const { return m_array; }

private:
    std::vector<Box> m_array;
};
