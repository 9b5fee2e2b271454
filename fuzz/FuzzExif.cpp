// An EXIF block (the body of an APP1 segment) through the EXIF reader, on its own and inside
// a JPEG's sections; whatever it says, the texts it fills stay terminated within their fields
// and a thumbnail it names lies inside the block.
#include <cstring>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "image/PxImageJPG.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PxImageJPG::ExifReader reader;
    const bool ok = reader.ProcessExif(data, uint32_t(size));
    const JpegExifInfo& info = *reader.Info();
    fuzz::Check(memchr(info.cameraMake, 0, sizeof info.cameraMake) && memchr(info.comments, 0, sizeof info.comments) &&
                    memchr(info.dateTime, 0, sizeof info.dateTime) && memchr(info.version, 0, sizeof info.version),
                "texts stay terminated");
    if (ok && reader.Thumbnail())
        fuzz::Check(reader.Thumbnail() >= data && reader.Thumbnail() + info.thumbnailSize <= data + size,
                    "the thumbnail lies inside the block");

    if (size > 65533)
        return 0;
    std::string jpeg = "\xFF\xD8\xFF\xE1";
    jpeg += char((size + 2) >> 8);
    jpeg += char((size + 2) & 0xFF);
    jpeg.append(reinterpret_cast<const char*>(data), size);
    jpeg += "\xFF\xDA";
    jpeg += std::string("\0\x02", 2);
    PxMemFile stream(reinterpret_cast<uint8_t*>(jpeg.data()), int32_t(jpeg.size()));
    PxImageJPG::ExifReader sections;
    sections.ReadSections(&stream, 3);
    return 0;
}
