#include "engine/KRAFFmpegLog.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

#include "engine/KRAArgText.h"

namespace {

std::wstring_view TrimBlanks(std::wstring_view text)
{
    while (!text.empty() && (text.front() == L' ' || text.front() == L'\r' || text.front() == L'\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\r' || text.back() == L'\t'))
        text.remove_suffix(1);
    return text;
}

bool StartsWith(std::wstring_view text, std::wstring_view prefix)
{
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

bool ContainsNoCase(std::wstring_view text, std::wstring_view word)
{
    if (word.size() > text.size())
        return false;
    for (size_t i = 0; i + word.size() <= text.size(); ++i) {
        size_t j = 0;
        while (j < word.size() && std::towlower(text[i + j]) == std::towlower(word[j]))
            ++j;
        if (j == word.size())
            return true;
    }
    return false;
}

// The level ffmpeg tagged a message with ("[error] "), right after its context prefix.
enum class Level { None, Error, Fatal, Other, Info };

Level ReadLevel(std::wstring_view& rest)
{
    struct Tag {
        const wchar_t* text;
        Level level;
    };
    static const Tag tags[] = {{L"[quiet]", Level::Other},   {L"[panic]", Level::Fatal},   {L"[fatal]", Level::Fatal},
                               {L"[error]", Level::Error},   {L"[warning]", Level::Other}, {L"[info]", Level::Info},
                               {L"[verbose]", Level::Other}, {L"[debug]", Level::Other},   {L"[trace]", Level::Other}};
    for (const Tag& tag : tags) {
        const std::wstring_view t(tag.text);
        if (StartsWith(rest, t) && (rest.size() == t.size() || rest[t.size()] == L' ')) {
            rest.remove_prefix(std::min(rest.size(), t.size() + 1));
            return tag.level;
        }
    }
    return Level::None;
}

// A library's own line in its own manner: a word and a bracketed level ("x265 [info]: ...").
bool IsLibraryChatter(std::wstring_view line)
{
    const size_t space = line.find(L' ');
    if (space == std::wstring_view::npos || space == 0 || space + 1 >= line.size() || line[space + 1] != L'[')
        return false;
    const size_t close = line.find(L']', space + 2);
    if (close == std::wstring_view::npos || close == space + 2)
        return false;
    for (size_t i = space + 2; i < close; ++i) {
        if (!std::iswalpha(line[i]))
            return false;
    }
    return true;
}

// The name of a codec as the stream mapping writes it: "h264 (native)" is ffmpeg's own coder of
// that name, "hevc (libx265)" the one in the brackets.
std::wstring CoderName(std::wstring_view text)
{
    text = TrimBlanks(text);
    const size_t open = text.find(L" (");
    if (open == std::wstring_view::npos)
        return std::wstring(text);
    const size_t close = text.find(L')', open);
    const std::wstring_view inner =
        text.substr(open + 2, close == std::wstring_view::npos ? std::wstring_view::npos : close - open - 2);
    return inner == L"native" ? std::wstring(text.substr(0, open)) : std::wstring(inner);
}

// "0:1" of "#0:1..." at the start of text; empty when it is not there.
std::wstring StreamId(std::wstring_view text)
{
    if (text.empty() || text[0] != L'#')
        return std::wstring();
    size_t end = 1;
    while (end < text.size() && (std::iswdigit(text[end]) || text[end] == L':'))
        ++end;
    while (end > 1 && text[end - 1] == L':') // "#0:1: Invalid data"
        --end;
    return std::wstring(text.substr(1, end - 1));
}

bool IsNewStyleInput(std::wstring_view name)
{
    for (const wchar_t* prefix : {L"in#", L"ist#", L"vist#", L"aist#", L"sist#", L"dist#", L"dec:"}) {
        if (StartsWith(name, prefix))
            return true;
    }
    return false;
}

} // namespace

bool KRAFFmpegLog::Signature::operator<(const Signature& o) const
{
    if (decodingReport != o.decodingReport)
        return decodingReport < o.decodingReport;
    if (aboutWriting != o.aboutWriting)
        return aboutWriting < o.aboutWriting;
    if (fatal != o.fatal)
        return fatal < o.fatal;
    return std::lexicographical_compare(contexts.begin(), contexts.end(), o.contexts.begin(), o.contexts.end());
}

namespace {

// A line of any length is kept at its start: a message is read there.
XStr Bounded(const XStr& text)
{
    if (static_cast<size_t>(text.Length()) <= KRAFFmpegLog::kMaxLineLength)
        return text;
    return XStr(std::wstring(text.View().substr(0, KRAFFmpegLog::kMaxLineLength)).c_str()) + L"\u2026";
}

} // namespace

void KRAFFmpegLog::Lines::add(const XStr& whole, size_t signature)
{
    const XStr text = Bounded(whole);
    const std::wstring key(text.View());
    const auto found = index.find(key);
    if (found != index.end()) {
        ++lines[found->second].count;
        return;
    }
    if (lines.size() >= kMaxDistinctLines) {
        ++more;
        moreSignatures.insert(signature);
        return;
    }
    index.emplace(key, lines.size());
    lines.push_back(Line{text, 1, signature});
}

KRAFFmpegLog::KRAFFmpegLog(std::vector<XStr> paths) : m_paths(std::move(paths))
{
    m_paths.erase(std::remove_if(m_paths.begin(), m_paths.end(), [](const XStr& p) { return p.IsEmpty(); }),
                  m_paths.end());
    std::sort(m_paths.begin(), m_paths.end(), [](const XStr& a, const XStr& b) { return a.Length() > b.Length(); });
}

bool KRAFFmpegLog::signatureIndex(const Signature& signature, size_t& index)
{
    const auto found = m_signatureIndex.find(signature);
    if (found != m_signatureIndex.end()) {
        index = found->second;
        return true;
    }
    if (m_signatures.size() >= kMaxContexts) {
        m_tooManyContexts = true;
        return false;
    }
    index = m_signatures.size();
    m_signatures.push_back(signature);
    m_signatureIndex.emplace(signature, index);
    return true;
}

void KRAFFmpegLog::addLine(const XStr& raw)
{
    const std::wstring_view line = TrimBlanks(raw.View());
    if (line.empty())
        return;

    // Up to two context prefixes, "[name @ address] ", the parent's and the object's own.
    std::vector<Context> contexts;
    std::wstring_view rest = line;
    for (int group = 0; group < 2 && !rest.empty() && rest[0] == L'['; ++group) {
        const size_t close = rest.find(L"] ");
        if (close == std::wstring_view::npos)
            break;
        const std::wstring_view inside = rest.substr(1, close - 1);
        const size_t at = inside.rfind(L" @ ");
        if (at == std::wstring_view::npos)
            break;
        contexts.push_back(Context{std::wstring(inside.substr(0, at)), std::wstring(inside.substr(at + 3))});
        rest.remove_prefix(close + 2);
    }
    const Level level = ReadLevel(rest);

    if (level == Level::None) {
        if (m_sawTag) {
            // The rest of a message with a line break in it (a file name) belongs to the error
            // before it; a library's own chatter is information.
            if (m_lastTaggedWasError && !IsLibraryChatter(line) && !m_errors.lines.empty()) {
                Line& last = m_errors.lines.back();
                if (last.count == 1) {
                    m_errors.index.erase(std::wstring(last.text.View()));
                    last.text += L"\n";
                    last.text = Bounded(last.text + XStr(line));
                    m_errors.index.emplace(std::wstring(last.text.View()), m_errors.lines.size() - 1);
                }
            }
            return;
        }
        // Nothing tagged so far: judged at the end, by whether anything ever is.
        XStr shown(line);
        if (!filterErrorLine(shown, m_paths))
            return;
        size_t index = 0;
        if (signatureIndex(Signature{}, index))
            m_untagged.add(shown, index);
        return;
    }

    m_sawTag = true;
    if (level == Level::Info)
        learnComponents(TrimBlanks(rest));
    // Only the line right before ffmpeg's decoding report is known to come from the decoder.
    if (level != Level::Error && level != Level::Fatal) {
        m_lastTaggedWasError = false;
        m_lastErrorHadOneContext = false;
        return;
    }
    XStr shown(line);
    if (!filterErrorLine(shown, m_paths)) {
        m_lastTaggedWasError = false;
        m_lastErrorHadOneContext = false;
        return;
    }
    m_lastTaggedWasError = true;

    Signature signature;
    signature.contexts = contexts;
    signature.fatal = level == Level::Fatal;
    XStr message(rest);
    for (const XStr& path : m_paths)
        message.Replace(path, L"");
    for (const wchar_t* word : {L"writ", L"No space left", L"trailer", L"muxer", L"muxing", L"quota", L"File too large",
                                L"encod", L"output"}) {
        if (ContainsNoCase(message.View(), word))
            signature.aboutWriting = true;
    }
    const std::wstring_view report(L"Error while decoding stream ");
    if (contexts.empty() && StartsWith(rest, report)) {
        signature.decodingReport = true;
        // The context that reported the error just before is this stream's decoder.
        const std::wstring stream = StreamId(rest.substr(report.size()));
        if (!stream.empty() && m_lastErrorHadOneContext && m_decoderAddressStream.size() < kMaxContexts)
            m_decoderAddressStream.emplace(m_lastErrorContext.address, stream);
    } else {
        m_lastErrorHadOneContext = contexts.size() == 1;
        if (m_lastErrorHadOneContext)
            m_lastErrorContext = contexts[0];
    }
    size_t index = 0;
    if (signatureIndex(signature, index))
        m_errors.add(shown, index);
    else
        ++m_errors.more;
}

void KRAFFmpegLog::learnComponents(std::wstring_view message)
{
    if (m_demuxers.size() + m_muxers.size() + m_decoders.size() + m_encoders.size() + m_decoderOfStream.size() +
            m_inputCodecs.size() >=
        kMaxContexts)
        return;
    if (message == L"Stream mapping:") {
        m_inStreamMapping = true;
        m_inInputDump = false;
        return;
    }
    if (m_inInputDump && StartsWith(message, L"Stream #")) {
        // "Stream #0:0[0x1](und): Video: h264 (High) ...": what a stream holds, which its
        // decoder is named after, also where the stream is only copied (and decoded only while
        // ffmpeg looks into the file).
        for (const wchar_t* kind : {L": Video: ", L": Audio: "}) {
            const size_t at = message.find(kind);
            if (at == std::wstring_view::npos)
                continue;
            const std::wstring_view rest = message.substr(at + wcslen(kind));
            const size_t end = rest.find_first_of(L" ,");
            const std::wstring codec(rest.substr(0, end));
            if (!codec.empty())
                m_inputCodecs.insert(codec);
            break;
        }
        return;
    }
    for (const auto& [word, into] : {std::pair<const wchar_t*, std::set<std::wstring>*>{L"Input #", &m_demuxers},
                                     std::pair<const wchar_t*, std::set<std::wstring>*>{L"Output #", &m_muxers}}) {
        if (!StartsWith(message, word))
            continue;
        // "Input #0, mov,mp4,m4a,3gp,3g2,mj2, from 'NAME':": a format's name has no ", ".
        const size_t comma = message.find(L", ");
        const size_t end = message.find(into == &m_demuxers ? L", from '" : L", to '", comma + 1);
        if (comma != std::wstring_view::npos && end != std::wstring_view::npos && end > comma + 2)
            into->insert(std::wstring(message.substr(comma + 2, end - comma - 2)));
        m_inStreamMapping = false;
        m_inInputDump = into == &m_demuxers;
        return;
    }
    if (!m_inStreamMapping)
        return;
    const size_t streamAt = message.find(L"Stream #");
    if (streamAt == std::wstring_view::npos) {
        m_inStreamMapping = false;
        return;
    }
    if (streamAt == 0) {
        const std::wstring_view after = message.substr(8 - 1); // from the "#"
        const std::wstring input = StreamId(after);
        const std::wstring_view tail = after.substr(input.size() + 1);
        if (StartsWith(tail, L" -> #")) {
            // "Stream #0:0 -> #0:0 (h264 (native) -> hevc (libx265))", or "(copy)".
            const size_t open = tail.find(L'(');
            const size_t close = tail.rfind(L')');
            if (open == std::wstring_view::npos || close == std::wstring_view::npos || close <= open)
                return;
            const std::wstring_view coders = tail.substr(open + 1, close - open - 1);
            const size_t arrow = coders.find(L" -> ");
            if (coders == L"copy" || arrow == std::wstring_view::npos)
                return;
            const std::wstring decoder = CoderName(coders.substr(0, arrow));
            const std::wstring encoder = CoderName(coders.substr(arrow + 4));
            m_decoders.insert(decoder);
            m_decoderOfStream[input] = decoder;
            m_encoders.insert(encoder);
        } else if (StartsWith(tail, L" (")) {
            // "Stream #0:0 (h264) -> fade:default": into a filter graph.
            const size_t close = tail.find(L')');
            if (close == std::wstring_view::npos)
                return;
            const std::wstring decoder(tail.substr(2, close - 2));
            if (decoder != L"?") {
                m_decoders.insert(decoder);
                m_decoderOfStream[input] = decoder;
            }
        }
        return;
    }
    // "format:default -> Stream #0:0 (libx265)": out of a filter graph.
    const size_t open = message.find(L'(', streamAt);
    const size_t close = message.rfind(L')');
    if (open != std::wstring_view::npos && close != std::wstring_view::npos && close > open + 1) {
        const std::wstring encoder(message.substr(open + 1, close - open - 1));
        if (encoder != L"?")
            m_encoders.insert(encoder);
    }
}

bool KRAFFmpegLog::contextIsInput(const Context& context) const
{
    const std::wstring& name = context.name;
    // A codec context without a codec, or a format context without a format: only the
    // demuxer's parsers work with those; every context of the output has its codec or format.
    if (name == L"NULL")
        return true;
    if (IsNewStyleInput(name))
        return true;
    const bool input = m_demuxers.count(name) != 0 || m_decoders.count(name) != 0 || m_inputCodecs.count(name) != 0;
    const bool output = m_muxers.count(name) != 0 || m_encoders.count(name) != 0;
    if (!input)
        return false;
    if (!output)
        return true;
    // Both sides use the name: only ffmpeg's own report tells which context is the decoder.
    const auto stream = m_decoderAddressStream.find(context.address);
    if (stream == m_decoderAddressStream.end())
        return false;
    const auto decoder = m_decoderOfStream.find(stream->second);
    return decoder != m_decoderOfStream.end() && decoder->second == name;
}

bool KRAFFmpegLog::signatureIsInput(const Signature& signature) const
{
    if (signature.fatal || signature.aboutWriting)
        return false;
    if (signature.contexts.empty())
        return signature.decodingReport;
    return std::all_of(signature.contexts.begin(), signature.contexts.end(),
                       [this](const Context& c) { return contextIsInput(c); });
}

bool KRAFFmpegLog::allFromInput(const Lines& lines) const
{
    for (const Line& line : lines.lines) {
        if (!signatureIsInput(m_signatures[line.signature]))
            return false;
    }
    for (size_t signature : lines.moreSignatures) {
        if (!signatureIsInput(m_signatures[signature]))
            return false;
    }
    return true;
}

bool KRAFFmpegLog::hasErrors() const
{
    return !m_errors.lines.empty() || m_errors.more > 0 || (!m_sawTag && !m_untagged.lines.empty());
}

bool KRAFFmpegLog::errorsOnlyFromInput() const
{
    return hasErrors() && m_sawTag && !m_tooManyContexts && allFromInput(m_errors);
}

std::vector<XStr> KRAFFmpegLog::shown(const Lines& lines)
{
    std::vector<XStr> out;
    for (const Line& line : lines.lines) {
        XStr text = line.text;
        if (line.count > 1)
            text += XStr(L" (") + XStr::FromULong(line.count) + L" times)";
        out.push_back(text);
    }
    if (lines.more > 0)
        out.push_back(XStr::FromULong(lines.more) + (lines.more == 1 ? L" more error line" : L" more error lines") +
                      L" not shown");
    return out;
}

std::vector<XStr> KRAFFmpegLog::shownErrors() const
{
    return shown(m_sawTag ? m_errors : m_untagged);
}
