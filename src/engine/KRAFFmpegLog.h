// What ffmpeg's standard error says about one run. Every run asks ffmpeg to tag each line with
// its level ("-loglevel level+info"); a line is judged by that tag alone, and a line without
// one is a library's own chatter (libx265 prints "x265 [info]: ..." whatever the level) or the
// rest of the line before it. An ffmpeg that tags nothing at all is judged as one without
// levels: every line that is no known noise is an error.
//
// The error lines are kept, each distinct text once with the number of times it came, and
// judged once the run is over, when ffmpeg has named everything it opened: an error is one of
// reading the input only when every component its context prefix names ("[mpeg1video @ 0x..]")
// is one of the input's demuxers or decoders and none of the output's muxers or encoders. A
// name both sides use ("aac" decodes and encodes) counts as the input's only when ffmpeg's own
// "Error while decoding stream #F:S" followed that very context, so that its address is known
// to be the decoder's. Anything else, a message about writing whatever its prefix, and lines
// without a prefix other than ffmpeg's decoding report, count as errors of the output.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "xclass/XStr.h"

class KRAFFmpegLog {
public:
    // paths: the run's file names; text inside them never decides anything.
    explicit KRAFFmpegLog(std::vector<XStr> paths = {});

    // One line of standard error, as read.
    void addLine(const XStr& line);

    // Whether ffmpeg tagged any line with its level.
    bool sawLevelTags() const { return m_sawTag; }
    // Whether any line is an error.
    bool hasErrors() const;
    // Whether there are errors and every one of them comes from reading the input.
    bool errorsOnlyFromInput() const;
    // The error lines as the log shows them, in the order they first came: a line that came
    // more than once says how often; past the limit, one line says how many more there were.
    std::vector<XStr> shownErrors() const;

    // Bounds on what one run keeps, however much ffmpeg prints.
    static constexpr size_t kMaxDistinctLines = 200;
    static constexpr size_t kMaxContexts = 1000;
    static constexpr size_t kMaxLineLength = 4000;

private:
    struct Context {
        std::wstring name;    // component, e.g. "mpeg1video", "mov,mp4,m4a,3gp,3g2,mj2", "in#0/avi"
        std::wstring address; // "0x55d0..." as printed
        bool operator<(const Context& o) const { return name < o.name || (name == o.name && address < o.address); }
    };
    // How an error line is to be judged once the run is over.
    struct Signature {
        std::vector<Context> contexts;
        bool decodingReport = false; // ffmpeg's own "Error while decoding stream #F:S"
        bool aboutWriting = false;   // the message speaks of writing, whatever its prefix
        bool fatal = false;          // [fatal] or [panic]
        bool operator<(const Signature& o) const;
    };
    struct Line {
        XStr text;
        uint64_t count = 0;
        size_t signature = 0; // into m_signatures
    };
    struct Lines {
        std::vector<Line> lines;
        std::map<std::wstring, size_t> index;
        uint64_t more = 0;               // lines past the limit
        std::set<size_t> moreSignatures; // how those lines are to be judged
        void add(const XStr& text, size_t signature);
    };

    bool contextIsInput(const Context& context) const;
    bool signatureIsInput(const Signature& signature) const;
    bool allFromInput(const Lines& lines) const;
    // The signature's index; false when the bound is reached.
    bool signatureIndex(const Signature& signature, size_t& index);
    void learnComponents(std::wstring_view message);
    static std::vector<XStr> shown(const Lines& lines);

    std::vector<XStr> m_paths; // longest first
    bool m_sawTag = false;
    bool m_lastTaggedWasError = false;
    bool m_inStreamMapping = false;
    Lines m_errors;   // tagged error lines
    Lines m_untagged; // lines without a tag that are no noise: errors only when nothing is tagged
    std::vector<Signature> m_signatures;
    std::map<Signature, size_t> m_signatureIndex;
    bool m_tooManyContexts = false; // past the bound: nothing is known to be the input's

    // What ffmpeg opened, from its information lines.
    std::set<std::wstring> m_demuxers, m_muxers, m_decoders, m_encoders;
    std::set<std::wstring> m_inputCodecs; // what the input's streams hold, from its description
    bool m_inInputDump = false;
    std::map<std::wstring, std::wstring> m_decoderOfStream; // "0:1" -> decoder name
    // Context addresses that ffmpeg's decoding report names as the decoder of a stream.
    std::map<std::wstring, std::wstring> m_decoderAddressStream; // address -> "0:1"
    Context m_lastErrorContext;
    bool m_lastErrorHadOneContext = false;
};
