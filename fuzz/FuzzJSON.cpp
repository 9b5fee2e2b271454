// The JSON parser on any bytes: the byte parser and the wide-text parser must agree, and a
// value that parses must write a text that parses again to the same text (the settings
// store and the profiles rely on that).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "xclass/XJSON.h"

namespace {

using Tree = std::unique_ptr<XJSON::AnyType>;

std::string TextOf(const XJSON::AnyType* value)
{
    std::string out;
    value->ToUTF8(out);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Tree fromBytes(XJSON::ParseUTF8(data, size));
    const XStr wide = XStr::FromUTF8Bytes(data, size);
    int pos = 1;
    const Tree fromWide(XJSON::Parse(wide, pos));
    fuzz::Check(!fromBytes == !fromWide, "the byte and the wide parser disagree on success");
    if (!fromBytes)
        return 0;
    fuzz::Check(pos >= 2 && pos <= wide.Length() + 1, "end position outside the text");

    const std::string written = TextOf(fromBytes.get());
    fuzz::Check(written == TextOf(fromWide.get()), "the byte and the wide parser read different values",
                written + "\n---\n" + TextOf(fromWide.get()));
    fuzz::Check(XStr(fromBytes->ToText()).ToUTF8String() == written, "ToText and ToUTF8 differ");

    const Tree clone(fromBytes->Clone());
    fuzz::Check(TextOf(clone.get()) == written, "a clone writes another text");

    const Tree again(XJSON::ParseUTF8(written.data(), written.size()));
    fuzz::Check(again != nullptr, "the written text does not parse", written);
    fuzz::Check(TextOf(again.get()) == written, "the written text reads as another value",
                written + "\n---\n" + TextOf(again.get()));
    // A number beyond the range of a double reads as infinity, which JSON has no text for: the
    // writer gives null, the one change of type a round trip may make.
    fuzz::Check(again->TypeOf() == fromBytes->TypeOf() || written == "null", "the written text reads as another type");
    return 0;
}
