// The naming template language: literal text with [field] names that stand for tag values,
// three constructs that reach any tag by name ([tag]NAME[], [multitag]NAME[],
// [tags]NAME,SEP[]) and bracketed functions ([UPPER]text[], [IF]a,=,b,then,else[], ...)
// that are evaluated innermost (rightmost) first.
//
// Tag values enter the working text escaped ("," as "<comma_>", "[" as "<brackets_>"), so a
// value is text and never template: whatever a title or a folder name holds, it is not
// expanded. Expansion always ends, and its result stays bounded whatever the template asks
// for (padding, replacing, joining).
#pragma once

#include "media/NTag.h"
#include "xclass/XList.h"
#include "xclass/XStr.h"

// Expands the template against a copy of tags (tags itself is not changed). extraFieldNames
// (may be null) names further fields filled from elements of the same name and exempt from
// separator replacement. With valuesForPath, "\" and "/" in values (other than the origin
// elements origpath, origfilename, origdrive, subpath) become "-", so that a value never
// makes a folder.
XStr ExpandNamingTemplate(const XStr& pattern, const NTag& tags, const XStrList* extraFieldNames, bool valuesForPath);

// True when the template needs the source's own tags (fields and functions that read them).
bool NamingTemplateUsesTags(const XStr& pattern);

// The template as colour-marked display text: fields become their labels in dark blue,
// function names and "[]" green, and the recent-list delimiter "{_._}" is dropped. Markers are
// "_RGB_-RGB-rrr-ggg-bbb" (QKStringTools::importColorsW reads them).
XStr ColourMarkNamingTemplate(const XStr& pattern);

// Adds the origin elements of a source path: "origfilename" (the file name without its
// extension) and "origpath" (its folder with a trailing "/"). Earlier elements of these names
// and of "origdrive" and "subpath" are removed first: only the source itself says where it is.
void AddNamingOriginFields(NTag& tags, const XStr& sourcePath);
