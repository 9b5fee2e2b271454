#include "engine/KRAOutputGuard.h"

namespace {

XStr Quoted(const XStr& text)
{
    return XStr(L"'") + text + XStr(L"'");
}

} // namespace

void KRAOutputGuard::addSource(const XStr& path)
{
    const std::string bytes = path.ToUTF8String();
    std::lock_guard<std::mutex> guard(m_lock);
    const std::string key = m_keys.key(bytes);
    if (!key.empty())
        m_sourceKeys.emplace(key, path);
    const XFileId id = XFileIdOf(bytes);
    if (id.exists)
        m_sourceIds.emplace(id, path);
}

const KRAOutputGuard::Claim* KRAOutputGuard::otherFile(const std::string& key, const XFileId& id, uint64_t index) const
{
    uint64_t other = index;
    if (const auto it = m_claims.find(key); !key.empty() && it != m_claims.end())
        other = it->second;
    if (const auto it = m_written.find(id); other == index && id.exists && it != m_written.end())
        other = it->second;
    const auto file = m_files.find(other);
    return other != index && file != m_files.end() ? &file->second : nullptr;
}

XStr KRAOutputGuard::refusal(uint64_t index, const XStr& dest, const std::string& key, const XFileId& id,
                             const wchar_t* verb)
{
    const XStr head = XStr(verb) + XStr(L": ") + Quoted(dest);
    const auto sameAs = [&](const XStr& other) {
        return other == dest ? XStr() : XStr(L" is the same file as ") + Quoted(other) + XStr(L", and");
    };
    const XStr* source = nullptr;
    if (const auto it = m_sourceKeys.find(key); !key.empty() && it != m_sourceKeys.end())
        source = &it->second;
    else if (const auto byId = m_sourceIds.find(id); id.exists && byId != m_sourceIds.end())
        source = &byId->second;
    if (source)
        return head + sameAs(*source) + XStr(L" is a source file of this batch");
    if (const Claim* other = otherFile(key, id, index))
        return head + sameAs(other->dest) + XStr(L" is also the destination of ") + Quoted(other->sourceName);
    return XStr();
}

XStr KRAOutputGuard::claim(uint64_t index, const XStr& dest, const XStr& sourceName)
{
    const std::string bytes = dest.ToUTF8String();
    std::lock_guard<std::mutex> guard(m_lock);
    const std::string key = m_keys.key(bytes);
    const XStr why = refusal(index, dest, key, XFileIdOf(bytes), L"Not converted");
    if (why.IsEmpty()) {
        m_files[index] = Claim{index, dest, sourceName};
        if (!key.empty())
            m_claims.emplace(key, index);
    }
    return why;
}

bool KRAOutputGuard::replace(uint64_t index, const XStr& dest, const XFileId& produced,
                             const std::function<bool()>& move, XStr& why)
{
    const std::string bytes = dest.ToUTF8String();
    std::lock_guard<std::mutex> guard(m_lock);
    // Asked again now: a link or a folder may have changed while the file was converted.
    const std::string key = m_keys.key(bytes);
    why = refusal(index, dest, key, XFileIdOf(bytes), L"Not written");
    if (!why.IsEmpty())
        return false;
    if (!move())
        return false;
    m_files.try_emplace(index, Claim{index, dest, XStr()});
    if (!key.empty())
        m_claims.emplace(key, index);
    if (produced.exists)
        m_written[produced] = index;
    return true;
}
