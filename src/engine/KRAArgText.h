// Reading and writing ffmpeg argument text: an argument string as elements ("-name value")
// and loose words, the named arguments pulled from it or merged within it, the words ffmpeg
// would take for another output file, and the filter that decides which of ffmpeg's
// standard-error lines are errors.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "xclass/XList.h"
#include "xclass/XStr.h"

// An argument string read as elements ("-name value", "-name=value", "-name") with the words
// that belong to no element kept in their places, so that rewriting never drops text.
struct KRAArgItem {
    bool isElement = true;
    XStr name;  // without the leading "-" (a second "-" dropped); the word itself for a plain word
    XStr value; // empty when the element has none
};

// Tokenises like XStrList::ParseArgs (blanks separate, double quotes group, a backslash takes
// the next character), then reads the elements.
std::vector<KRAArgItem> parseArgItems(const XStr& text);
// The items joined by one blank: "-name" and, when the value is not empty, a blank and the
// value; a value holding a blank or a comma is wrapped in double quotes, and every backslash
// and double quote is escaped, so parsing the text gives the same items back.
XStr writeArgItems(const std::vector<KRAArgItem>& items);
// The value written as above.
XStr quoteArgValue(const XStr& value);

// Removes every element called name (A-Z folded) from args, rewriting args, and returns
// their non-empty values joined by ", " (empty when absent).
XStr pullArgument(const wchar_t* name, XStr& args);
// The same, keeping each non-empty value apart, in order.
std::vector<XStr> pullArgumentValues(const wchar_t* name, XStr& args);
// args with every element called name replaced by one element at the place of the first,
// holding all their values joined by ", "; rewritten even when the name is absent.
XStr mergeArgument(const wchar_t* name, const XStr& args);

// The standard-error filter: trims blanks, drops the lines that are no errors (information and
// warnings by ffmpeg's level tag, known noise, empty lines), rewrites a known message. paths
// are the run's file names: text inside them never decides. True when the line (as changed)
// is to be reported as an error.
bool filterErrorLine(XStr& line, const std::vector<XStr>& paths = {});
// Whether ffmpeg gave the line a level tag (with "-loglevel level+..."): where every line has
// one, a line without is the rest of the line before it (a message with a line break in it,
// such as a file name).
bool hasFFmpegLevelTag(const XStr& line);

// Whether ffmpeg reads the word after this option ("-name", "-name:stream") as its value.
bool ffmpegOptionTakesValue(const XStr& option);
// The first word of an option list that ffmpeg would take for one more output file: a word
// that is neither an option nor an option's value, a lone "-" (standard output), or the word
// after "--". None when every word is an option or a value.
std::optional<XStr> findOutputWord(const XStrList& tokens);

// Milliseconds as "h:mm:ss.mmm" (hours not padded); negative values as 0.
XStr formatTrimTime(int64_t ms);
