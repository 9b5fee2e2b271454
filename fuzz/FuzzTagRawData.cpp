// The tag container's raw data reader on any bytes (tags come from caches on disk and from
// the clipboard). What it reads must write raw data that reads back to the same elements,
// and the readers of names (album art, number pairs) must cope with whatever was stored.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "media/NTag.h"
#include "xclass/XBuffer.h"

namespace {

bool SameElements(const NTag& a, const NTag& b)
{
    if (a.Count() != b.Count())
        return false;
    for (int64_t i = 0; i < a.Count(); ++i) {
        const STInternalTag* x = a.TagAt(i);
        const STInternalTag* y = b.TagAt(i);
        if (x->Name.View() != y->Name.View() || x->Value.View() != y->Value.View())
            return false;
        const uint64_t xs = x->HasData() ? x->Data.Size : 0;
        const uint64_t ys = y->HasData() ? y->Data.Size : 0;
        if (xs != ys || (xs && memcmp(x->Data.Data, y->Data.Data, xs) != 0))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    NTag tag;
    tag.FromRawData(data, size); // damaged data keeps the complete elements before the damage

    XBuffer raw;
    fuzz::Check(tag.ToRawData(raw), "elements read from raw data cannot be written");
    NTag again;
    fuzz::Check(again.FromRawData(raw.Data, raw.Used), "written raw data reads as damaged");
    fuzz::Check(SameElements(tag, again), "written raw data reads as other elements");
    raw.Free();

    (void)tag.Dump();
    for (int64_t i = 0; i < tag.Count(); ++i) {
        const STInternalTag* element = tag.TagAt(i);
        XStr type, description;
        if (NTag::IsAlbumArtName(element->Name.p))
            NTag::ParseAlbumArtName(element->Name, type, description);
        int n = 0, m = 0;
        ParseNumberPair(element->Value.p, n, m);
        (void)tag.GetNumberPairDisplay(element->Name.p);
    }
    (void)tag.GetAlbumArt(1);

    NTag merged(tag);
    merged.Merge(again, false);
    merged.RemoveInternalTags(8);
    return 0;
}
