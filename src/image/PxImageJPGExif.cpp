// The marker sections of a JPEG stream and the EXIF block (a small TIFF file inside an APP1
// segment). Every offset and count the block holds is checked against the block before use.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/PxImageJPG.h"

namespace {

constexpr int kMaxSections = 20;
constexpr int kSectionImageData = 291;
// A block holds at most a few dozen directories; more can only come from links that loop.
constexpr int kMaxDirectories = 64;
const int kFormatSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

bool IsStartOfFrame(int marker)
{
    return (marker >= 0xC0 && marker <= 0xC3) || (marker >= 0xC5 && marker <= 0xC7) ||
           (marker >= 0xC9 && marker <= 0xCB) || (marker >= 0xCD && marker <= 0xCF);
}

float UnitFactor(double unit, float current)
{
    if (!(unit >= 0 && unit < 16))
        return current;
    switch (int(unit)) {
    case 1:
    case 2:
        return 1.0f;
    case 3:
        return 0.3937008f;
    case 4:
        return 0.03937008f;
    case 5:
        return 0.00003937008f;
    default:
        return current;
    }
}

// A value from the block as a float; out-of-range values stay finite.
float ToFloat(double v)
{
    if (!std::isfinite(v))
        return 0.0f;
    if (v > 3e38)
        return 3e38f;
    if (v < -3e38)
        return -3e38f;
    return float(v);
}

int32_t ToInt(double v)
{
    if (!(v > -2147483648.0))
        return v != v ? 0 : INT32_MIN;
    if (v >= 2147483647.0)
        return INT32_MAX;
    return int32_t(v);
}

void CopyText(char* to, size_t capacity, const uint8_t* from, uint64_t length)
{
    size_t n = length < capacity - 1 ? size_t(length) : capacity - 1;
    memcpy(to, from, n);
    to[n] = '\0';
}

} // namespace

PxImageJPG::ExifReader::ExifReader(JpegExifInfo* info)
    : m_info(info), m_ownsInfo(info == nullptr), m_lastError{}, m_sections{}, m_exifImageWidth(0), m_motorola(false),
      m_count(0), m_thumbnail(nullptr), m_directoriesSeen(0)
{
    if (!m_info)
        m_info = static_cast<JpegExifInfo*>(calloc(1, sizeof(JpegExifInfo)));
}

PxImageJPG::ExifReader::~ExifReader()
{
    for (int32_t i = 0; i < m_count; ++i)
        free(m_sections[i].data);
    if (m_ownsInfo)
        free(m_info);
}

void PxImageJPG::ExifReader::SetError(const char* text)
{
    strncpy(m_lastError, text, sizeof m_lastError - 1);
    m_lastError[sizeof m_lastError - 1] = '\0';
}

void PxImageJPG::ExifReader::Drop(int32_t index)
{
    if (index < 0 || index >= m_count)
        return;
    const uint8_t* data = m_sections[index].data;
    if (m_thumbnail && data && m_thumbnail >= data && m_thumbnail < data + m_sections[index].size)
        m_thumbnail = nullptr;
    free(m_sections[index].data);
    for (int32_t i = index; i + 1 < m_count; ++i)
        m_sections[i] = m_sections[i + 1];
    --m_count;
    m_sections[m_count] = Section{};
}

uint16_t PxImageJPG::ExifReader::Get16(const uint8_t* p) const
{
    return m_motorola ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
}

int32_t PxImageJPG::ExifReader::Get32(const uint8_t* p) const
{
    const uint32_t v = m_motorola ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                                  : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    return int32_t(v);
}

double PxImageJPG::ExifReader::ConvertValue(const uint8_t* value, int format) const
{
    switch (format) {
    case 1:
        return value[0];
    case 6:
        return int8_t(value[0]);
    case 3:
        return Get16(value);
    case 8:
        return int16_t(Get16(value));
    case 4:
        return uint32_t(Get32(value));
    case 9:
        return Get32(value);
    case 5:
    case 10: {
        const int32_t num = Get32(value), den = Get32(value + 4);
        return den == 0 ? 0.0 : double(num) / double(den);
    }
    case 11: {
        const uint32_t bits = uint32_t(Get32(value));
        float f;
        memcpy(&f, &bits, sizeof f);
        return std::isfinite(f) ? f : 0.0;
    }
    case 12: {
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i)
            bits |= uint64_t(value[m_motorola ? 7 - i : i]) << (8 * i);
        double d;
        memcpy(&d, &bits, sizeof d);
        return std::isfinite(d) ? d : 0.0;
    }
    default:
        return 0.0;
    }
}

bool PxImageJPG::ExifReader::ProcessExif(const uint8_t* body, uint32_t length)
{
    JpegExifInfo& info = *m_info;
    info.flashUsed = 0;
    info.comments[0] = '\0';
    m_exifImageWidth = 0;
    m_thumbnail = nullptr;
    m_directoriesSeen = 0;
    if (!body || length < 6 || memcmp(body, "Exif\0\0", 6) != 0) {
        SetError("Incorrect Exif header");
        return false;
    }
    if (length < 6 + 8) {
        SetError("Invalid Exif alignment marker.");
        return false;
    }
    const uint8_t* base = body + 6;
    const uint32_t exifLength = length - 6;
    if (memcmp(base, "II", 2) == 0)
        m_motorola = false;
    else if (memcmp(base, "MM", 2) == 0)
        m_motorola = true;
    else {
        SetError("Invalid Exif alignment marker.");
        return false;
    }
    if (Get16(base + 2) != 42) {
        SetError("Invalid Exif start (1)");
        return false;
    }
    info.thumbnailOffset = 0;
    info.thumbnailSize = 0;
    if (!ProcessDirectory(base + 8, base, exifLength, 0))
        return false;
    const uint32_t first = uint32_t(Get32(base + 4));
    if (first >= 9) {
        if (first >= exifLength) {
            SetError("Illegal subdirectory link");
            return false;
        }
        if (!ProcessDirectory(base + first, base, exifLength, 0))
            return false;
    }
    if (info.focalPlaneXRes != 0)
        info.ccdWidth = ToFloat(double(m_exifImageWidth) * info.focalPlaneUnits / info.focalPlaneXRes);
    return true;
}

bool PxImageJPG::ExifReader::ProcessDirectory(const uint8_t* directory, const uint8_t* base, uint32_t length,
                                              int nesting)
{
    if (nesting >= 5) {
        SetError("Maximum directory nesting exceeded (corrupt exif header)");
        return false;
    }
    if (++m_directoriesSeen > kMaxDirectories) {
        SetError("Too many EXIF directories (corrupt exif header)");
        return false;
    }
    const uint64_t start = uint64_t(directory - base);
    if (start + 2 > length) {
        SetError("Illegally sized directory");
        return false;
    }
    const uint32_t entries = Get16(directory);
    if (start + 2 + 12 * uint64_t(entries) > length) {
        SetError("Illegally sized directory");
        return false;
    }
    JpegExifInfo& info = *m_info;
    int64_t thumbnailOffset = -1, thumbnailSize = 0;
    for (uint32_t e = 0; e < entries; ++e) {
        const uint8_t* entry = directory + 2 + 12 * e;
        const uint32_t tag = Get16(entry);
        const uint32_t format = Get16(entry + 2);
        const uint32_t components = uint32_t(Get32(entry + 4));
        if (format > 12) {
            SetError("Illegal format code in EXIF dir");
            return false;
        }
        const uint64_t bytes = uint64_t(components) * uint64_t(kFormatSize[format]);
        const uint8_t* value = entry + 8;
        if (bytes > 4) {
            const uint64_t offset = uint32_t(Get32(entry + 8));
            if (offset + bytes > length) {
                SetError("Illegal pointer offset value in EXIF.");
                return false;
            }
            value = base + offset;
        }
        // A value shorter than its format (a count of 0) is not read at all.
        const bool numeric = format != 0 && bytes >= uint64_t(kFormatSize[format]);
        const double v = numeric ? ConvertValue(value, int(format)) : 0.0;
        switch (tag) {
        case 0x9000:
            CopyText(info.version, sizeof info.version, value, bytes < 4 ? bytes : 4);
            break;
        case 271:
            CopyText(info.cameraMake, sizeof info.cameraMake, value, bytes);
            break;
        case 272:
            CopyText(info.cameraModel, sizeof info.cameraModel, value, bytes);
            break;
        case 36867:
            CopyText(info.dateTime, sizeof info.dateTime, value, bytes);
            break;
        case 274:
            if (!numeric)
                break;
            info.orientation = ToInt(v);
            if (info.orientation < 1 || info.orientation > 8) {
                SetError("Undefined rotation value");
                info.orientation = 0;
            }
            break;
        case 37385:
            if (numeric)
                info.flashUsed = (int64_t(ToInt(v)) & 7) != 0 ? 1 : 0;
            break;
        case 37386:
            info.focalLength = ToFloat(v);
            break;
        case 33434:
            info.exposureTime = ToFloat(v);
            break;
        case 37377:
            if (numeric && info.exposureTime == 0)
                info.exposureTime = ToFloat(1.0 / std::exp2(v));
            break;
        case 33437:
            info.apertureFNumber = ToFloat(v);
            break;
        case 37378:
        case 37381:
            if (numeric && info.apertureFNumber == 0)
                info.apertureFNumber = ToFloat(std::exp2(v / 2));
            break;
        case 37382:
            info.distance = ToFloat(v);
            break;
        case 37380:
            info.exposureBias = ToFloat(v);
            break;
        case 37384:
            info.lightSource = ToInt(v);
            break;
        case 37383:
            info.meteringMode = ToInt(v);
            break;
        case 34850:
            info.exposureProgram = ToInt(v);
            break;
        case 34855:
            info.isoEquivalent = ToInt(v);
            if (numeric && info.isoEquivalent <= 49 && info.isoEquivalent >= 0)
                info.isoEquivalent *= 200;
            break;
        case 37122:
            info.compressionLevel = ToInt(v);
            break;
        case 41486:
            info.focalPlaneXRes = ToFloat(v);
            break;
        case 41487:
            info.focalPlaneYRes = ToFloat(v);
            break;
        case 41488:
            if (numeric)
                info.focalPlaneUnits = UnitFactor(v, info.focalPlaneUnits);
            break;
        case 282:
            info.xResolution = ToFloat(v);
            break;
        case 283:
            info.yResolution = ToFloat(v);
            break;
        case 296:
            if (numeric)
                info.resolutionUnit = UnitFactor(v, info.resolutionUnit);
            break;
        case 37379:
            info.brightness = ToFloat(v);
            break;
        case 40962:
        case 40963:
            if (numeric && ToInt(v) > m_exifImageWidth)
                m_exifImageWidth = ToInt(v);
            break;
        case 37510: {
            uint64_t n = bytes;
            while (n > 0 && (value[n - 1] == ' ' || value[n - 1] == '\0'))
                --n;
            if (n >= 5 && memcmp(value, "ASCII", 5) == 0) {
                for (uint64_t a = 5; a < 10 && a < n; ++a)
                    if (value[a] != 0 && value[a] != ' ') {
                        CopyText(info.comments, sizeof info.comments, value + a, n - a);
                        break;
                    }
            } else {
                CopyText(info.comments, sizeof info.comments, value, n);
            }
            break;
        }
        case 34665:
        case 40965: {
            const uint64_t offset = uint32_t(Get32(value));
            if (!numeric || offset < 9)
                break;
            if (offset >= length) {
                SetError("Illegal subdirectory link");
                return false;
            }
            ProcessDirectory(base + offset, base, length, nesting + 1);
            break;
        }
        case 513:
            if (numeric)
                thumbnailOffset = int64_t(uint32_t(ToInt(v < 0 ? 0 : v)));
            break;
        case 514:
            if (numeric)
                thumbnailSize = int64_t(uint32_t(ToInt(v < 0 ? 0 : v)));
            break;
        default:
            break;
        }
    }
    const uint64_t linkAt = start + 2 + 12 * uint64_t(entries);
    if (linkAt + 4 <= length) {
        const uint64_t link = uint32_t(Get32(directory + 2 + 12 * entries));
        if (link != 0) {
            if (link >= length) {
                SetError("Illegal subdirectory link");
                return false;
            }
            ProcessDirectory(base + link, base, length, nesting + 1);
        }
    }
    if (thumbnailOffset > 0 && thumbnailSize > 0 && uint64_t(thumbnailOffset) + uint64_t(thumbnailSize) <= length) {
        info.thumbnailOffset = int32_t(thumbnailOffset);
        info.thumbnailSize = int32_t(thumbnailSize);
        m_thumbnail = base + thumbnailOffset;
    }
    return true;
}

bool PxImageJPG::ExifReader::ReadSections(PxFile* stream, int mode)
{
    if (!stream || stream->GetC() != 0xFF || stream->GetC() != 0xD8)
        return false;
    bool haveComment = false;
    for (;;) {
        if (m_count >= kMaxSections) {
            SetError("Too many sections in jpg file");
            return false;
        }
        int padding = 0, marker;
        for (;;) {
            marker = stream->GetC();
            if (marker < 0) {
                SetError("Premature end of file?");
                return false;
            }
            if (marker != 0xFF)
                break;
            if (++padding > 6) {
                printf("too many padding bytes\n");
                SetError("too many padding bytes");
                return false;
            }
        }
        if (padding == 0) {
            SetError("invalid marker");
            return false;
        }
        const int hi = stream->GetC(), lo = stream->GetC();
        if (hi < 0 || lo < 0) {
            SetError("Premature end of file?");
            return false;
        }
        const int32_t length = hi << 8 | lo;
        if (length < 2) {
            SetError("invalid marker");
            return false;
        }
        uint8_t* data = static_cast<uint8_t*>(malloc(size_t(length)));
        if (!data) {
            SetError("Could not allocate memory");
            return false;
        }
        data[0] = uint8_t(hi);
        data[1] = uint8_t(lo);
        if (stream->Read(data + 2, 1, size_t(length - 2)) != size_t(length - 2)) {
            free(data);
            SetError("Premature end of file?");
            return false;
        }
        m_sections[m_count++] = Section{data, marker, length};
        const uint8_t* body = data + 2;
        const int32_t bodyLength = length - 2;
        if (IsStartOfFrame(marker)) {
            if (bodyLength >= 6) {
                m_info->height = body[1] << 8 | body[2];
                m_info->width = body[3] << 8 | body[4];
                m_info->isColor = body[5] == 3 ? 1 : 0;
                m_info->process = marker;
            }
        } else if (marker == 0xD9) {
            printf("No image in jpeg!\n");
            SetError("No image in jpeg!");
            return false;
        } else if (marker == 0xDA) {
            if (mode & 2) {
                const int64_t here = stream->Tell(), end = stream->Size();
                const int64_t rest = end - here;
                if (rest < 0 || rest > INT32_MAX) {
                    SetError("could not allocate data for entire image");
                    return false;
                }
                uint8_t* image = static_cast<uint8_t*>(malloc(size_t(rest ? rest : 1)));
                if (!image) {
                    SetError("could not allocate data for entire image");
                    return false;
                }
                if (stream->Read(image, 1, size_t(rest)) != size_t(rest)) {
                    free(image);
                    SetError("could not read the rest of the image");
                    return false;
                }
                if (m_count >= kMaxSections) {
                    free(image);
                    SetError("Too many sections in jpg file");
                    return false;
                }
                m_sections[m_count++] = Section{image, kSectionImageData, int32_t(rest)};
            }
            return true;
        } else if (marker == 0xE1) {
            if ((mode & 1) && bodyLength >= 4 && memcmp(body, "Exif", 4) == 0) {
                m_info->isExif = ProcessExif(body, uint32_t(bodyLength));
            } else {
                Drop(m_count - 1);
            }
        } else if (marker == 0xE0) {
            Drop(m_count - 1);
        } else if (marker == 0xFE) {
            if ((mode & 1) && !haveComment) {
                haveComment = true;
                char* out = m_info->comments;
                size_t n = 0;
                const int32_t take = bodyLength < 255 ? bodyLength : 255;
                for (int32_t i = 0; i < take && n + 1 < sizeof m_info->comments; ++i) {
                    const uint8_t c = body[i];
                    if (c == '\r' && i + 1 < take && body[i + 1] == '\n')
                        continue;
                    out[n++] = (isprint(c) || c == '\t' || c == '\n') ? char(c) : '?';
                }
                out[n] = '\0';
            } else {
                Drop(m_count - 1);
            }
        }
    }
}

void PxImageJPG::ExifReader::KeepOnlyExif()
{
    int32_t exif = -1, comment = -1;
    for (int32_t i = 0; i < m_count; ++i) {
        if (m_sections[i].type == 0xE1 && exif < 0)
            exif = i;
        else if (m_sections[i].type == 0xFE && comment < 0)
            comment = i;
    }
    Section kept[2];
    int32_t n = 0;
    if (exif >= 0)
        kept[n++] = m_sections[exif];
    if (comment >= 0)
        kept[n++] = m_sections[comment];
    for (int32_t i = 0; i < m_count; ++i)
        if (i != exif && i != comment)
            free(m_sections[i].data);
    for (int32_t i = 0; i < kMaxSections; ++i)
        m_sections[i] = i < n ? kept[i] : Section{};
    m_count = n;
    if (exif < 0)
        m_thumbnail = nullptr;
}

PxImageJPG::ExifReader::Section* PxImageJPG::ExifReader::FindSection(int type)
{
    for (int32_t i = 0; i + 1 < m_count; ++i)
        if (m_sections[i].type == type)
            return &m_sections[i];
    return nullptr;
}

bool PxImageJPG::ExifReader::WriteSections(PxFile* stream)
{
    bool scanRead = false;
    for (int32_t i = 0; i + 1 < m_count; ++i)
        scanRead = scanRead || m_sections[i].type == 0xDA;
    if (!stream || !scanRead) {
        SetError("Can't write exif : didn't read all");
        return false;
    }
    static const uint8_t start[2] = {0xFF, 0xD8};
    static const uint8_t jfif[18] = {0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00,
                                     0x01, 0x01, 0x01, 0x01, 0x2C, 0x01, 0x2C, 0x00, 0x00};
    bool ok = stream->Write(start, 1, 2) == 2;
    if (m_sections[0].type != 0xE0 && m_sections[0].type != 0xE1)
        ok = ok && stream->Write(jfif, 1, sizeof jfif) == sizeof jfif;
    for (int32_t i = 0; i + 1 < m_count && ok; ++i) {
        const uint8_t marker[2] = {0xFF, uint8_t(m_sections[i].type)};
        ok = stream->Write(marker, 1, 2) == 2 &&
             stream->Write(m_sections[i].data, 1, size_t(m_sections[i].size)) == size_t(m_sections[i].size);
    }
    const Section& last = m_sections[m_count - 1];
    return ok && (last.size == 0 || stream->Write(last.data, 1, size_t(last.size)) == size_t(last.size));
}
